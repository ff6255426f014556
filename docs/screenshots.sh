#!/usr/bin/env bash
# Remakes the README's screenshots in docs/: the built program on a real X
# desktop (Xvfb with the openbox window manager), as an operator sees it:
# the demo recording played at 1366x768 and 1920x1080, and a live session
# from gse_sim with the session log open at 1366x768, light and dark. The
# desktop test that makes them also checks that each window is whole on its
# screen.
#   docs/screenshots.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" -j"${JOBS:-2}" --target real_desktop_test vst_gse gse_sim
(cd "$build/bin" && ./real_desktop_test \
  --gtest_filter='RealDesktop.the_readme_pictures_show_the_demo_and_a_live_session_in_both_themes')
for name in 1366x768-light 1366x768-dark 1920x1080-light 1920x1080-dark live-1366x768-light live-1366x768-dark; do
  cp "$build/bin/readme_$name.png" "docs/screenshot-$name.png"
done
ls -l docs/screenshot-*.png
