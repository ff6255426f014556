#!/usr/bin/env bash
# Publishing measured on the whole program against a mosquitto of its own on
# a free loopback port (figures in docs/performance.md):
#   1. headless playback of 100 000 frames at --speed 0: frames/s without
#      publishing, with --publish, and with --publish while a subscriber
#      reads every frame message; and whether every frame reached the broker;
#   2. the station's CPU at the link's rate (--link-replay at speed 1, 300
#      frames), without and with --publish;
#   3. the age of each frame when a remote viewer's panel shows it, on
#      loopback, at the link's rate (median and 99th percentile, from the
#      viewer's summary).
#   bench/publish.sh [BUILD_DIR]    (default build-bench, built Release)
# Files and results go to ${BENCH_DIR:-/tmp/gse_bench}.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
out=${BENCH_DIR:-/tmp/gse_bench}
mkdir -p "$out"
if [ "$build" = build-bench ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGSE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target vst_gse gse_bench_recording
fi
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d)
broker_pid=""
cleanup() {
  [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. bench/local_broker.sh
start_local_broker "$work"
url=mqtt://127.0.0.1:$port/bench

echo "== machine"
grep -m1 "model name" /proc/cpuinfo | sed 's/.*: //'
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); $(mosquitto -h 2>/dev/null | head -1)"

frames=100000
rec=$out/rec_$frames.dat
[ -f "$rec" ] || "$bin/gse_bench_recording" --out "$rec" --frames "$frames" >/dev/null
json() { python3 -c "import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2]))" "$@"; }

echo "== headless playback of $frames frames at --speed 0"
broker_ticks() { awk '{ print $14 + $15 }' "/proc/$broker_pid/stat"; }
run_playback() {  # label, then extra options
  local label=$1; shift
  local b0
  b0=$(broker_ticks)
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$bin/vst_gse" --headless --speed 0 --summary "$work/s.json" "$@" \
    "$rec" >/dev/null 2>&1 || true
  read -r wall user sys < <(tail -1 "$work/time")
  local extra=""
  [ $# -gt 0 ] && extra=$(json "$work/s.json" '"  published %d, dropped %d" % (d["publish"]["frames_published"], d["publish"]["messages_dropped"])')
  [ $# -gt 0 ] && extra="$extra, broker cpu $(awk -v a="$b0" -v b="$(broker_ticks)" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f s", (b - a) / hz }')"
  awk -v l="$label" -v n="$frames" -v w="$wall" -v u="$user" -v s="$sys" -v e="$extra" \
    'BEGIN { printf "  %-34s wall %6.2f s  cpu %6.2f s  %8.0f frames/s%s\n", l, w, u + s, n / w, e }'
}
run_playback "without publishing"
run_playback "with --publish" --publish "$url"
mosquitto_sub -h 127.0.0.1 -p "$port" -t bench/frame > "$work/received.txt" &
sub=$!
sleep 0.5
run_playback "with --publish and a subscriber" --publish "$url"
sleep 1
kill "$sub"
echo "  the subscriber received $(wc -l < "$work/received.txt") frame messages"

echo "== a station at the link's rate (--link-replay at speed 1, 300 frames)"
echo "300 PANEL_QUIT" > "$work/quit.txt"
link_cpu() {  # label, then extra options
  local label=$1; shift
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$bin/vst_gse" --headless --events "$work/quit.txt" "$@" \
    --link-replay "$out/rec_$frames.dat" >/dev/null 2>&1 || true
  read -r wall user sys < <(tail -1 "$work/time")
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" \
    'BEGIN { printf "  %-34s wall %6.2f s  cpu %5.2f s  %5.2f %% of a core\n", l, w, u + s, (u + s) / w * 100 }'
}
link_cpu "without publishing"
link_cpu "with --publish" --publish "$url"

echo "== station frame to a viewer's panel, loopback, at the link's rate (300 frames at speed 1)"
"$bin/vst_gse" --headless --subscribe "$url" --summary "$work/v.json" >/dev/null 2>&1 &
viewer=$!
sleep 1
"$bin/vst_gse" --headless --speed 1 --events "$work/quit.txt" --publish "$url" "$rec" >/dev/null 2>&1 || true
sleep 1
kill "$viewer"
wait "$viewer" || true
json "$work/v.json" '"  %d frames: median %d ms, 99th percentile %d ms" % (d["remote_view"]["latency_ms"]["frames"], d["remote_view"]["latency_ms"]["median"], d["remote_view"]["latency_ms"]["p99"])'
