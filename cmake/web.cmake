# The browser view (web/): bundled with esbuild from its npm packages
# (web/package-lock.json, installed by scripts/setup.sh with `npm ci`) into
# build/web: index.html, app.js, app.css. Node.js is needed to build it, not
# to run it. Without node or the packages the rest builds and the page is
# left out (GSE_WEB_DIR unset), and the tests that need it are not made.
find_program(GSE_NODE node)
if(GSE_NODE AND EXISTS ${CMAKE_SOURCE_DIR}/web/node_modules/esbuild)
  set(GSE_WEB_DIR ${CMAKE_BINARY_DIR}/web)
  file(GLOB GSE_WEB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/web/src/*.js ${CMAKE_SOURCE_DIR}/web/src/*/*.js
       ${CMAKE_SOURCE_DIR}/web/src/*.css)
  add_custom_command(OUTPUT ${GSE_WEB_DIR}/index.html ${GSE_WEB_DIR}/app.js ${GSE_WEB_DIR}/app.css
    COMMAND ${GSE_NODE} ${CMAKE_SOURCE_DIR}/web/build.mjs ${GSE_WEB_DIR}
    DEPENDS ${GSE_WEB_SOURCES} ${CMAKE_SOURCE_DIR}/web/index.html ${CMAKE_SOURCE_DIR}/web/build.mjs
            ${CMAKE_SOURCE_DIR}/web/package-lock.json
    COMMENT "Browser view (web/) bundled into ${GSE_WEB_DIR}")
  add_custom_target(gse_web ALL DEPENDS ${GSE_WEB_DIR}/index.html)
else()
  message(STATUS "web/: no node or no web/node_modules (run scripts/setup.sh): the browser view is not built")
endif()
