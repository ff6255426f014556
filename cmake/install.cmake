# What `cmake --install` puts where (GNU layout under the prefix), and the
# Debian package `cpack -G DEB` makes of it. Included from the top-level
# CMakeLists.txt in the full (Qt) build.
set(GSE_APP_ID org.vst_gse.vst_gse)
set(GSE_DIST ${CMAKE_SOURCE_DIR}/dist)

install(TARGETS vst_gse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ui/gse.uir DESTINATION ${CMAKE_INSTALL_DATADIR}/vst_gse)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${GSE_DIST}/${GSE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# The manual pages and the AppStream metainfo carry the version.
# Debian installs them compressed.
set(GSE_MAN_PAGES)
foreach(page vst_gse.1 gse_sim.1)
  configure_file(${GSE_DIST}/${page} ${CMAKE_BINARY_DIR}/dist/${page} @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/${page}.gz
    COMMAND gzip -9 -n -c ${CMAKE_BINARY_DIR}/dist/${page} > ${CMAKE_BINARY_DIR}/dist/${page}.gz
    DEPENDS ${CMAKE_BINARY_DIR}/dist/${page} ${GSE_DIST}/${page}
    COMMENT "Manual page ${page}")
  list(APPEND GSE_MAN_PAGES ${CMAKE_BINARY_DIR}/dist/${page}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/dist/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(gse_man_pages ALL DEPENDS ${GSE_MAN_PAGES})
configure_file(${GSE_DIST}/${GSE_APP_ID}.metainfo.xml ${CMAKE_BINARY_DIR}/dist/${GSE_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/dist/${GSE_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The icon: the drawing, and PNGs rendered from it at build time.
install(FILES ${GSE_DIST}/vst_gse.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${GSE_APP_ID}.svg)
find_program(GSE_RSVG_CONVERT rsvg-convert REQUIRED)
set(GSE_ICON_PNGS)
foreach(size 16 32 48 64 128 256)
  set(png ${CMAKE_BINARY_DIR}/dist/icons/${size}/${GSE_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/dist/icons/${size}
    COMMAND ${GSE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${GSE_DIST}/vst_gse.svg
    DEPENDS ${GSE_DIST}/vst_gse.svg
    COMMENT "Icon ${size}x${size}")
  list(APPEND GSE_ICON_PNGS ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(gse_icons ALL DEPENDS ${GSE_ICON_PNGS})

# The Debian package.
set(CPACK_PACKAGE_NAME vst-gse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vst_gse maintainers <vst_gse@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ground-station display for an instrument's telemetry")
set(CPACK_PACKAGE_DESCRIPTION
    "Receives the instrument's telemetry on a serial link, records it and shows each frame on one operator panel; plays recordings back. Includes gse_sim, which plays the instrument.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform plug-ins at run time: shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_GENERATOR DEB)
include(CPack)
