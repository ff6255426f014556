#!/usr/bin/env bash
# Installs what fuzz/run.sh needs besides scripts/setup.sh: clang and its
# sanitizer and libFuzzer run-times (Debian 12).
set -euo pipefail
"$(dirname "$0")/install-packages.sh" clang libclang-rt-dev
