#!/usr/bin/env bash
# The Windows check: cross-builds the parts of the station that need no Qt
# (the system code, the Qt-free run-time and their unit tests) for 64-bit
# Windows with MinGW-w64 in build-win/, and runs the test programs under Wine.
# Fails when the build or any test fails, so a POSIX call or header that
# slips into that code is found here, not on a Windows machine in the field.
#   scripts/windows-check.sh        (BUILD_DIR=... to build elsewhere)
# Installs what it needs (Debian 12) through scripts/install-packages.sh.
# Needs no display: Wine runs the console programs without one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BUILD_DIR:-$root/build-win}
started=$(date +%s)

scripts/install-packages.sh cmake ninja-build g++-mingw-w64-x86-64 wine wine64 libgtest-dev

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DGSE_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=Release \
  -DGSE_GTEST_SOURCE_DIR=/usr/src/googletest "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"

# Wine in a prefix of its own under the build folder (a clean one on a fresh
# clone), with no display: unset DISPLAY keeps it from opening any window,
# and the overrides keep it from offering to install Mono and Gecko and from
# starting the debugger on a crash (the test then just fails).
export WINEPREFIX=$build/wine
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
stop_wine() { wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  if ! wine wineboot --init >"$build/wineboot.log" 2>&1; then
    cat "$build/wineboot.log"
    echo "windows-check: cannot set up the Wine prefix $WINEPREFIX" >&2
    exit 1
  fi
fi

echo "== Windows (MinGW-w64, under Wine): the Qt-free core's unit tests"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure
echo "windows-check: passed in $(( $(date +%s) - started )) s"
