# Installs the manual pages (run by `cmake --install` and cpack): vst_gse(1)
# with the installed folders in place of %DATADIR% and %DOCDIR%, then both
# pages compressed as Debian installs them. Set before it runs: GSE_MAN_DIR
# (the built pages), GSE_MAN_DEST, GSE_DATA_SUBDIR and GSE_DOC_SUBDIR
# (relative to the prefix).
foreach(sub GSE_MAN_DEST GSE_DATA_SUBDIR GSE_DOC_SUBDIR)
  if(IS_ABSOLUTE "${${sub}}")
    set(${sub}_FULL "${${sub}}")
  else()
    set(${sub}_FULL "${CMAKE_INSTALL_PREFIX}/${${sub}}")
  endif()
endforeach()
set(dest "$ENV{DESTDIR}${GSE_MAN_DEST_FULL}")
file(MAKE_DIRECTORY "${dest}")
file(READ "${GSE_MAN_DIR}/vst_gse.1" page)
string(REPLACE "%DATADIR%" "${GSE_DATA_SUBDIR_FULL}" page "${page}")
string(REPLACE "%DOCDIR%" "${GSE_DOC_SUBDIR_FULL}" page "${page}")
file(WRITE "${GSE_MAN_DIR}/vst_gse.1.installed" "${page}")
foreach(pair "vst_gse.1.installed;vst_gse.1" "gse_sim.1;gse_sim.1")
  list(GET pair 0 from)
  list(GET pair 1 to)
  message(STATUS "Installing: ${dest}/${to}.gz")
  execute_process(COMMAND gzip -9 -n -c "${GSE_MAN_DIR}/${from}" OUTPUT_FILE "${dest}/${to}.gz"
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip ${from}: ${failed}")
  endif()
endforeach()
