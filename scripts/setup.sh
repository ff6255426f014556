#!/usr/bin/env bash
# Installs every Debian package vst_gse needs (Debian 12), then configures and
# builds it in build/. Safe to run again: it installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-tools-dev libqt6opengl6-dev
  qt6-multimedia-dev  # the alarm tones (QSoundEffect)
  qt6-svg-dev  # the report's charts drawn into its PDF (QSvgRenderer)
  libqcustomplot-dev libqcustomplot2.1-qt6
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth python3 time locales
  # Sharing a session over MQTT: the client library and a JSON reader; the
  # broker, its clients and openssl for the tests (a real broker, TLS
  # certificates made in the test).
  libmosquitto-dev nlohmann-json3-dev mosquitto mosquitto-clients openssl
  # The session record beside each recording: SQLite's library, and its
  # command-line tool for the tests and for anyone who queries a record.
  libsqlite3-dev sqlite3
  # The installable package: icons rendered from the drawing, the Debian
  # package's dependencies, and the checks of the launcher, the AppStream
  # metainfo and the manual pages.
  librsvg2-bin dpkg-dev desktop-file-utils appstream man-db shared-mime-info
  # The operator guide as HTML (markdown_py).
  python3-markdown
  # The desktop tests: a window manager on Xvfb, real input (xdotool), and
  # reading windows and the screen back (xwininfo, xprop; import).
  openbox xdotool x11-utils imagemagick
  # The browser view (web/): its tests load the page in Debian's Chromium,
  # driven over the DevTools protocol (playwright-core, from npm); stunnel
  # puts TLS in front of the broker's WebSockets listener, as the example
  # configuration does (dist/mosquitto).
  chromium chromium-driver stunnel4
  # The report's PDF read back as text by its test (pdftotext).
  poppler-utils
)

started=$(date +%s)
scripts/install-packages.sh "${packages[@]}"

# A locale that writes numbers with a decimal comma, for the test that the
# CSV export keeps the point whatever the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd=sudo
  $sudo_cmd sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $sudo_cmd tee -a /etc/locale.gen >/dev/null
  $sudo_cmd locale-gen >/dev/null
fi

echo "setup: packages ready in $(( $(date +%s) - started )) s"

# The browser view's libraries (web/package-lock.json: pinned versions,
# bundled into the page at build time). A machine without Node.js and npm
# gets Debian's; one that has them (another packaging) keeps its own.
if ! command -v npm >/dev/null; then
  scripts/install-packages.sh nodejs npm || true
fi
if command -v npm >/dev/null; then
  (cd web && npm ci --no-audit --no-fund --loglevel=error)
else
  echo "setup: no npm: the browser view (web/) is not built"
fi

started=$(date +%s)
build_type=${BUILD_TYPE:-RelWithDebInfo}
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)  # a machine that builds often builds faster
fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="$build_type" "${launcher[@]}"
cmake --build build -j"$(nproc)"
echo "setup: built in $(( $(date +%s) - started )) s"
