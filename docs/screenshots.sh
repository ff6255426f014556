#!/usr/bin/env bash
# Remakes the screenshots in docs/: the demo recording played by the real
# program with its window (Qt's offscreen platform), grabbed as "Save
# screenshot" saves it at 1366x768 and 1920x1080, light and dark. The test
# that makes them also checks what an operator must see at 1366x768.
#   docs/screenshots.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j"${JOBS:-2}" --target extras_window_test
(cd "$build/bin" && QT_QPA_PLATFORM=offscreen ./extras_window_test \
  --gtest_filter='WindowExtras.the_demo_reads_in_seven_characters_a_value_with_nothing_cut_off')
for screen in 1366x768 1920x1080; do
  for theme in light dark; do
    cp "$build/bin/demo_${screen}_${theme}.png" "docs/screenshot-${screen}-${theme}.png"
  done
done
ls -l docs/screenshot-*.png
