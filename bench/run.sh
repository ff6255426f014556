#!/usr/bin/env bash
# Builds Release in build-bench, runs the benchmarks (the health bar's among
# them) and measures the whole program: headless playback of 10 000, 100 000
# and 1 000 000 frames (frames per second, peak memory) and the window's CPU
# at the link rate (offscreen), and the recording's throughput on a flooded
# pseudo-terminal (bench/recording_flood.py).
#   bench/run.sh            everything
#   bench/run.sh --quick    shorter benchmark runs, no 1 000 000-frame file
# Recordings and results go to ${BENCH_DIR:-/tmp/gse_bench}.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build-bench
out=${BENCH_DIR:-/tmp/gse_bench}
quick=0
[ "${1:-}" = "--quick" ] && quick=1
mkdir -p "$out"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGSE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target vst_gse gse_bench gse_bench_recording gse_health_bench gse_export_bench \
  gse_sessions_window_bench
bin=$build/bin

echo "== machine"
grep -m1 "model name" /proc/cpuinfo | sed 's/.*: //'
echo "$(nproc) cores, $(awk '/MemTotal/ {printf "%.1f GB", $2/1048576}' /proc/meminfo), load $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== benchmarks"
min_time=1.0
[ $quick -eq 1 ] && min_time=0.2
"$bin/gse_bench" --benchmark_min_time="$min_time" --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/bench.json" \
  --benchmark_out_format=json | tee "$out/bench.txt"

echo "== health bar, stale marking, log pane (offscreen; see docs/performance.md)"
QT_QPA_PLATFORM=offscreen "$bin/gse_health_bench" --benchmark_min_time="$min_time" --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true | tee "$out/health_bench.txt"

# /usr/bin/time -v of one headless playback: frames/s (wall and CPU), peak RSS.
playback() {
  local frames=$1 file=$out/rec_$1.dat
  [ -f "$file" ] || "$bin/gse_bench_recording" --out "$file" --frames "$frames" >/dev/null
  /usr/bin/time -v "$bin/vst_gse" --headless --speed 0 "$file" 2> "$out/time_$frames.txt" >/dev/null
  awk -v n="$frames" '
    /Elapsed \(wall clock\)/ { split($NF, t, ":"); wall = (length(t) == 3) ? t[1]*3600 + t[2]*60 + t[3] : t[1]*60 + t[2] }
    /User time/ { user = $NF } /System time/ { sys = $NF }
    /Maximum resident set size/ { rss = $NF }
    END { printf "%8d frames  wall %7.2f s  cpu %7.2f s  %9.0f frames/s (wall)  %9.0f frames/s (cpu)  peak rss %6d kB\n",
                 n, wall, user + sys, n / wall, n / (user + sys > 0 ? user + sys : 0.01), rss }' "$out/time_$frames.txt"
}

echo "== headless playback without trace (vst_gse --headless --speed 0 FILE)"
sizes=(10000 100000 1000000)
[ $quick -eq 1 ] && sizes=(10000 100000)
for n in "${sizes[@]}"; do playback "$n"; done | tee "$out/playback.txt"

echo "== File > Sessions... over 1 000 archived sessions (Qt offscreen)"
"$bin/gse_sessions_window_bench"

# The analysis export of the same files: on its own (as Export CSV runs it)
# and through the program (--csv beside the headless playback).
echo "== CSV export (gse_export_bench FILE OUT; vst_gse --headless --speed 0 --csv OUT FILE)"
for n in "${sizes[@]}"; do
  /usr/bin/time -f "  peak rss %M kB" "$bin/gse_export_bench" "$out/rec_$n.dat" "$out/export_$n.csv" 2>&1
  /usr/bin/time -f "  vst_gse --csv: wall %e s, peak rss %M kB" "$bin/vst_gse" --headless --speed 0 \
    --csv "$out/export_$n.csv" "$out/rec_$n.dat" 2>&1 >/dev/null | tail -1
  rm -f "$out/export_$n.csv"
done | tee "$out/export.txt"

# CPU used by a process between two moments, as a percentage of one core.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
cpu_percent() {
  local pid=$1 seconds=$2 hz t0 t1
  hz=$(getconf CLK_TCK)
  t0=$(ticks "$pid")
  sleep "$seconds"
  t1=$(ticks "$pid")
  awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", (b - a) / hz / s * 100 }'
}

link_rate() {  # label, then the command line after vst_gse
  local label=$1; shift
  "$bin/vst_gse" "$@" "$out/rec_10000.dat" >/dev/null 2>&1 &
  local pid=$!
  sleep 3  # start-up and the first frames
  local pct
  pct=$(cpu_percent "$pid" 20)
  local rss
  rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || true
  echo "$label: ${pct} % of one core over 20 s, rss ${rss} kB"
}

echo "== at the link rate (--speed 1: 10 frames/s)"
{
  # The window's settings in the results folder, not the user's.
  XDG_CONFIG_HOME=$out/settings QT_QPA_PLATFORM=offscreen link_rate "window (offscreen)" --speed 1
  link_rate "headless" --headless --speed 1
} | tee "$out/link_rate.txt"
echo "== recording throughput: a pseudo-terminal flooded as fast as it takes bytes, the recording on tmpfs"
python3 bench/recording_flood.py "$bin" 64 3 | tee "$out/recording_flood.txt"
echo "results in $out; the window's CPU time over several runs: bench/window_cpu.sh"
