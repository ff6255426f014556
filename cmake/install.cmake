# What `cmake --install` puts where (GNU layout under the prefix), and the
# Debian package `cpack -G DEB` makes of it. Included from the top-level
# CMakeLists.txt in the full (Qt) build.
set(GSE_APP_ID org.vst_gse.vst_gse)
set(GSE_DIST ${CMAKE_SOURCE_DIR}/dist)

install(TARGETS vst_gse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The panel file, and the demo recording the README and the manual page play.
install(FILES ui/gse.uir data/demo.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/vst_gse)
install(FILES ${GSE_DIST}/${GSE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The browser view (cmake/web.cmake) and an example broker configuration
# that serves it (docs/mqtt.md).
if(GSE_WEB_DIR)
  install(FILES ${GSE_WEB_DIR}/index.html ${GSE_WEB_DIR}/app.js ${GSE_WEB_DIR}/app.css
          ${GSE_WEB_DIR}/app.js.LEGAL.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/vst_gse/web)
endif()
install(FILES ${GSE_DIST}/mosquitto/vst_gse-web.conf ${GSE_DIST}/mosquitto/vst_gse-web.acl
              ${GSE_DIST}/mosquitto/vst_gse-web-stunnel.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/vst_gse/mosquitto)
# The station's own MIME type for recordings (*.dat), so that the launcher
# is offered for them and for no other file; Debian's shared-mime-info
# trigger adds it to the database.
install(FILES ${GSE_DIST}/${GSE_APP_ID}.mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME ${GSE_APP_ID}.xml)

# The operator guide: the README with its pictures and companion pages, and
# the same as HTML for Help > Operator guide (opened in the desktop's
# browser with xdg-open).
find_program(GSE_MARKDOWN markdown_py REQUIRED)
set(GSE_GUIDE_HTML ${CMAKE_BINARY_DIR}/dist/README.html)
add_custom_command(OUTPUT ${GSE_GUIDE_HTML}
  COMMAND ${GSE_MARKDOWN} -x tables -x fenced_code -x toc -o html -f ${CMAKE_BINARY_DIR}/dist/README.body.html
          ${CMAKE_SOURCE_DIR}/README.md
  COMMAND ${CMAKE_COMMAND} -DBODY=${CMAKE_BINARY_DIR}/dist/README.body.html -DOUT=${GSE_GUIDE_HTML}
          -P ${GSE_DIST}/guide_html.cmake
  # Its pictures beside it in the build tree too, as where it is installed.
  COMMAND ${CMAKE_COMMAND} -E create_symlink ${CMAKE_SOURCE_DIR}/docs ${CMAKE_BINARY_DIR}/dist/docs
  DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${GSE_DIST}/guide_html.cmake
  COMMENT "Operator guide README.html")
add_custom_target(gse_guide ALL DEPENDS ${GSE_GUIDE_HTML})
install(FILES README.md ${GSE_GUIDE_HTML} DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Everything the guide shows or links (pictures, pages, the example event
# script in docs/examples/), not the scripts that make the pictures.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.png" PATTERN "*.md" PATTERN "*.txt")

# The manual pages and the AppStream metainfo carry the version; vst_gse(1)
# takes its OPTIONS from the option table (main/option_table.h), as --help
# does. Debian installs them compressed.
add_executable(gse_man_page main/man_page.cpp main/option_table.cpp)
target_include_directories(gse_man_page PRIVATE ${CMAKE_SOURCE_DIR})
configure_file(${GSE_DIST}/vst_gse.1.in ${CMAKE_BINARY_DIR}/dist/vst_gse.1.in @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dist/vst_gse.1
  COMMAND gse_man_page ${CMAKE_BINARY_DIR}/dist/vst_gse.1.in ${CMAKE_BINARY_DIR}/dist/vst_gse.1
  DEPENDS gse_man_page ${CMAKE_BINARY_DIR}/dist/vst_gse.1.in ${GSE_DIST}/vst_gse.1.in
  COMMENT "Manual page vst_gse.1 from the option table")
configure_file(${GSE_DIST}/gse_sim.1 ${CMAKE_BINARY_DIR}/dist/gse_sim.1 @ONLY)
add_custom_target(gse_man_pages ALL DEPENDS ${CMAKE_BINARY_DIR}/dist/vst_gse.1)
# At install time, when the prefix is known (/usr in the package): the
# folders vst_gse(1) names, and both pages compressed.
install(CODE "set(GSE_MAN_DIR \"${CMAKE_BINARY_DIR}/dist\")
  set(GSE_MAN_DEST \"${CMAKE_INSTALL_MANDIR}/man1\")
  set(GSE_DATA_SUBDIR \"${CMAKE_INSTALL_DATADIR}\")
  set(GSE_DOC_SUBDIR \"${CMAKE_INSTALL_DOCDIR}\")")
install(SCRIPT ${GSE_DIST}/install_man.cmake)
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
# xdg-utils opens the operator guide in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# The broker that serves the browser view, and stunnel for its TLS (docs/mqtt.md).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mosquitto, stunnel4")
# The programs installed without their debugging symbols.
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)
