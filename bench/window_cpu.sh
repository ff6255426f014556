#!/usr/bin/env bash
# The window's CPU cost, measured as CPU time (user + sys of the process, from
# /proc/PID/stat), not wall time, so that other work on a shared machine does
# not count. Plays a simulated recording with the window on Qt's offscreen
# platform at the link rate (--speed 1, 10 frames/s) and at 10x, several runs
# each, and prints each run and the median and worst per speed.
#   bench/window_cpu.sh [BUILD_DIR] [RUNS] [SECONDS]
# Defaults: build-bench (made Release if absent), 5 runs, 20 s per run after
# 3 s of start-up. With GSE_TRENDS=1 it measures a live session instead: the
# simulator on a pseudo-terminal at the link rate, the window with the trends
# view shown and four trends following (the layout saved in its settings);
# GSE_TRENDS=off, the same live session with the trends view hidden. The
# offscreen screen alternates between 1366x768 and 1920x1080, the two screens
# the panel is laid out for (GSE_SCREEN=WxH fixes one); the window opens as it
# would there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build-bench}
runs=${2:-5}
seconds=${3:-20}
out=${BENCH_DIR:-/tmp/gse_bench}
mkdir -p "$out"

if [ ! -x "$build/bin/vst_gse" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGSE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target vst_gse gse_sim
fi
bin=$(cd "$build/bin" && pwd)
# A recording long enough for the slowest measurement at 10x: 3000 frames.
rec=$out/window_sim.dat
[ -f "$rec" ] || "$bin/gse_sim" --out "$rec" --frames 3000 --seed 7 >/dev/null

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# One run: prints the CPU used in the measured interval, % of one core.
one_run() {  # speed, size
  local speed=$1 size=$2 hz t0 t1 pid settings
  hz=$(getconf CLK_TCK)
  # A fresh settings folder, so that a saved layout does not carry over.
  settings=$(mktemp -d)
  printf '{"screens":[{"name":"bench","x":0,"y":0,"width":%d,"height":%d,"logicalDpi":96,"dpr":1}]}\n' \
    "${size%x*}" "${size#*x}" > "$settings/screen.json"
  XDG_CONFIG_HOME=$settings QT_QPA_PLATFORM="offscreen:configfile=$settings/screen.json" \
    "$bin/vst_gse" --speed "$speed" "$rec" >/dev/null 2>&1 &
  pid=$!
  sleep 3
  t0=$(ticks "$pid")
  sleep "$seconds"
  t1=$(ticks "$pid")
  kill -TERM "$pid"
  wait "$pid" || true
  rm -rf "$settings"
  awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", (b - a) / hz / s * 100 }'
}

summary() {  # label, values...
  local label=$1; shift
  printf '%s\n' "$@" | sort -g | awk -v label="$label" '
    { v[NR] = $1 }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%s: median %.2f %%, worst %.2f %% of one core (%d runs)\n", label, m, v[NR], NR }'
}

# Live at the link rate, four trends following: prints the CPU used and the
# resident memory at the end, as "CPU RSS_KB".
one_live_run() {  # size
  local size=$1 hz t0 t1 pid sim settings work pty rss
  hz=$(getconf CLK_TCK)
  settings=$(mktemp -d)
  work=$(mktemp -d)
  printf '{"screens":[{"name":"bench","x":0,"y":0,"width":%d,"height":%d,"logicalDpi":96,"dpr":1}]}\n' \
    "${size%x*}" "${size#*x}" > "$settings/screen.json"
  mkdir -p "$settings/vst_gse"
  local shown=true
  [ "$GSE_TRENDS" = off ] && shown=false
  printf '[trends]\nshown=%s\nplots=HK16, F12, W10, HK08\n' "$shown" > "$settings/vst_gse/vst_gse.ini"
  : > "$work/sim.out"
  "$bin/gse_sim" --pty --quiet > "$work/sim.out" &
  sim=$!
  trap "kill -TERM $sim 2>/dev/null || true" EXIT
  pty=
  for _ in $(seq 100); do pty=$(awk '/^pty / { print $2; exit }' "$work/sim.out"); [ -n "$pty" ] && break; sleep 0.1; done
  (cd "$work" && XDG_CONFIG_HOME=$settings QT_QPA_PLATFORM="offscreen:configfile=$settings/screen.json" \
    exec "$bin/vst_gse" --port "$pty") >/dev/null 2>&1 &
  pid=$!
  sleep 3
  t0=$(ticks "$pid")
  sleep "$seconds"
  t1=$(ticks "$pid")
  rss=$(awk '/VmRSS/ { print $2 }' "/proc/$pid/status")
  kill -TERM "$pid"
  wait "$pid" || true
  kill -TERM "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  rm -rf "$settings" "$work"
  awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$seconds" -v rss="$rss" 'BEGIN { printf "%.2f %d\n", (b - a) / hz / s * 100, rss }'
}

echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "${GSE_TRENDS:-}" ]; then
  {
    values=()
    for ((i = 0; i < runs; ++i)); do
      if ((i % 2 == 0)); then size=1366x768; else size=1920x1080; fi
      read -r v rss < <(one_live_run "$size")
      echo "live, trends view ${GSE_TRENDS/1/shown, four trends following}, $size: $v % of one core (CPU time over $seconds s), rss $rss kB"
      values+=("$v")
    done
    summary "live window, trends view ${GSE_TRENDS/1/shown, four trends following}" "${values[@]}"
  } | tee "$out/window_cpu_trends.txt"
  exit 0
fi
for speed in 1 10; do
  values=()
  for ((i = 0; i < runs; ++i)); do
    if [ -n "${GSE_SCREEN:-}" ]; then size=$GSE_SCREEN
    elif ((i % 2 == 0)); then size=1366x768
    else size=1920x1080; fi
    v=$(one_run "$speed" "$size")
    echo "speed $speed, $size: $v % of one core (CPU time over $seconds s)"
    values+=("$v")
  done
  summary "window at --speed $speed" "${values[@]}"
done | tee "$out/window_cpu.txt"
