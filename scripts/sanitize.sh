#!/usr/bin/env bash
# Builds the station and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan and runs the CTest suite there.
# Any sanitizer report fails the test that triggered it (UBSan does not
# recover).
#   scripts/sanitize.sh [--labels unit,integration] [ctest arguments...]
# --labels builds and runs only the tests with those labels (CI does that
# with unit, integration and publish: the publishing end-to-end tests);
# without it, every test. Uses ccache when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-asan
labels=""
if [ "${1:-}" = "--labels" ]; then
  labels=$2
  shift 2
fi
flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"
config=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$flags"
        -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" -DGSE_BUILD_BENCH=OFF
        -DGSE_TEST_LABELS="${labels//,/;}")
if command -v ccache >/dev/null; then
  config+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -G Ninja "${config[@]}" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

# Qt and fontconfig keep some allocations until exit: leaks are reported by
# LeakSanitizer only for our own frames (suppressions below).
supp=$(pwd)/$build/lsan.supp
cat > "$supp" <<'SUPP'
leak:libQt6
leak:libfontconfig
leak:libglib
leak:libdbus
SUPP
# libxkbcommon-x11 (the X11 smoke test) calls strndup on keymap names that are
# not NUL-terminated within their xcb reply; the interceptor reads up to the
# NUL and reports an overflow inside that library. It is not ours: leave
# strndup to the C library.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:intercept_strndup=0"
export LSAN_OPTIONS="suppressions=$supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
label_args=()
[ -n "$labels" ] && label_args=(-L "^(${labels//,/|})\$")
ctest --output-on-failure -j"${JOBS:-2}" "${label_args[@]}" "$@"
