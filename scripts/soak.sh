#!/usr/bin/env bash
# Soak test of live reception: scripts/soak.sh [DURATION_S] (default 600).
# Builds vst_gse, gse_sim and the reference check (Release, build-bench) and
# runs scripts/soak.py: gse_sim with faults over a relayed pseudo-terminal
# that disappears and comes back every minute or so, in bursts at full rate,
# stretches at the link's rate and streams of noise without sync words
# (weights ${SOAK_MODES:-6,3,1}), ending with a quit during noise. With
# SOAK_DISK_MB (root only), the recording lies on a tmpfs of that size that
# fills up now and then and is freed again. Passes when the recording equals
# what was sent but for the gaps the station announced, every full disk was
# said, the quit took effect within 1.05 s,
# memory stays flat and every good frame was shown. With SOAK_TRACE_STALL=S
# the trace's reader stalls for S seconds every 10 to 30 s (the station
# holds the trace, reception goes on). Work files in
# ${SOAK_DIR:-/tmp/gse_soak}. With SOAK_BROKER=1 the station publishes to a
# local mosquitto that is paused and killed twice each (scripts/soak.py).
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-600}
build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGSE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target vst_gse gse_sim gse_soak_check
exec python3 scripts/soak.py --bin "$build/bin" --duration "$duration" --work "${SOAK_DIR:-/tmp/gse_soak}" \
  --segment "${SOAK_SEGMENT_S:-60}" --modes "${SOAK_MODES:-6,3,1}" \
  --disk-mb "${SOAK_DISK_MB:-0}" --fill-chance "${SOAK_FILL_CHANCE:-0.15}" \
  --trace-stall "${SOAK_TRACE_STALL:-0}" ${SOAK_BROKER:+--broker}
