#!/usr/bin/env bash
# Headless playback against the floor of reading the same file (the issue
# of decoding at the speed of the disk; figures in docs/performance.md).
# In one run, on one recording in the page cache, it times in pairs
#   floor FILE                              a C loop over the 200-byte records
#                                           summing their bytes (bench/floor.c)
#   vst_gse --headless --speed 0 FILE       the station, no trace, no output
# alternating which goes first, and prints each pair's ratio of wall time and
# of CPU time (user + system), then the medians. Exit status 1 when a
# median CPU ratio is above MAX (default 8).
#   bench/playback_ratio.sh [BUILD_DIR] [FRAMES] [PAIRS] [MAX]
#   defaults: build-bench (built Release here), 1000000 frames, 5 pairs, 8
# RECORDINGS (default "random sim") chooses the recordings, each measured
# on its own:
#   random  gse_bench_recording: random frames, sealed, back to back; every
#           housekeeping value jumps across its limits, so about every other
#           frame changes a level (a log line and an alarm row): the worst
#           case for the limits
#   sim     gse_sim: the simulator's instrument, values within their limits
# They and the floor program go to ${BENCH_DIR:-/tmp/gse_bench}.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
frames=${2:-1000000}
pairs=${3:-5}
max=${4:-8}
out=${BENCH_DIR:-/tmp/gse_bench}
mkdir -p "$out"
if [ "$build" = build-bench ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DGSE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j"${JOBS:-2}" --target vst_gse gse_bench_recording gse_sim
fi
bin=$(cd "$build/bin" && pwd)
floor=$out/floor
cc -O2 -o "$floor" bench/floor.c
echo "== machine"
grep -m1 "model name" /proc/cpuinfo | sed 's/.*: //'
echo "$(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"

# "wall cpu" of one run; a failed run ends the measurement.
timed() {
  local times=$out/ratio_time.txt
  if ! /usr/bin/time -o "$times" -f "%e %U %S" "$@" > /dev/null 2> "$out/ratio_err.txt"; then
    echo "failed: $* (standard error in $out/ratio_err.txt)" >&2
    exit 2
  fi
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$times"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

measure() {
  local kind=$1 file
  case "$kind" in
    random) file=$out/rec_$frames.dat
            [ -f "$file" ] || "$bin/gse_bench_recording" --out "$file" --frames "$frames" >/dev/null ;;
    sim)    file=$out/sim_$frames.dat
            [ -f "$file" ] || "$bin/gse_sim" --out "$file" --frames "$frames" --quiet >/dev/null ;;
    *)      echo "unknown recording $kind (random or sim)" >&2; exit 2 ;;
  esac
  cat "$file" > /dev/null  # into the page cache for both
  echo "== $kind: $frames frames, $(stat -c %s "$file") bytes; pairs (seconds; ratio = station / floor)"
  ratios=$out/ratios.txt
  : > "$ratios"
  for i in $(seq "$pairs"); do
    if [ $((i % 2)) -eq 1 ]; then
      f=$(timed "$floor" "$file"); s=$(timed "$bin/vst_gse" --headless --speed 0 "$file")
    else
      s=$(timed "$bin/vst_gse" --headless --speed 0 "$file"); f=$(timed "$floor" "$file")
    fi
    read -r fw fc <<< "$f"
    read -r sw sc <<< "$s"
    # CPU times are in hundredths of a second: a floor below 0.01 s reads 0.01.
    awk -v i="$i" -v fw="$fw" -v fc="$fc" -v sw="$sw" -v sc="$sc" 'BEGIN {
      if (fc < 0.01) fc = 0.01
      if (fw < 0.001) fw = 0.001
      printf "pair %d: floor wall %.2f cpu %.2f; station wall %.2f cpu %.2f; ratio wall %.1f cpu %.1f\n",
             i, fw, fc, sw, sc, sw / fw, sc / fc
      printf "%f %f\n", sw / fw, sc / fc > "/dev/stderr" }' 2>> "$ratios"
  done
  wall=$(cut -d' ' -f1 "$ratios" | median)
  cpu=$(cut -d' ' -f2 "$ratios" | median)
  printf "%s median ratio: wall %.1f, cpu %.1f (at most %s wanted)\n" "$kind" "$wall" "$cpu" "$max"
  awk -v c="$cpu" -v m="$max" 'BEGIN { exit !(c <= m) }' || over=1
}

over=0
for kind in ${RECORDINGS:-random sim}; do measure "$kind"; done
exit "$over"
