# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian:
# g++-mingw-w64-x86-64), the POSIX thread model so that std::thread and
# std::mutex work. Programs are linked statically, so they run under Wine
# (or on Windows) without the compiler's DLLs beside them; CTest runs them
# through Wine.
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DGSE_CORE_ONLY=ON ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GSE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GSE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GSE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${GSE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${GSE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(GSE_WINE wine)
if(GSE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GSE_WINE})
endif()
