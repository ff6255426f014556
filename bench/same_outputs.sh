#!/usr/bin/env bash
# Every output of headless playback, for proving that a change to the
# station's speed changed none of them (docs/performance.md):
#   bench/same_outputs.sh BIN_DIR OUT_DIR [TOOLS_BIN_DIR]
# plays the demo recording and recordings with faults (gse_sim's noise,
# bad checksums, cut frames and escapes; gse_bench_recording --damaged)
# with --trace, every --csv file and an event script, and writes the
# outputs, standard output and error (times of day and durations blanked
# out) and their SHA-256 sums (OUT_DIR/sums.txt). The recordings are made by
# the tools of TOOLS_BIN_DIR (default BIN_DIR): give both runs the same one
# when the simulator differs between the builds. Compare two builds with
#   diff OUT_A/sums.txt OUT_B/sums.txt
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: bench/same_outputs.sh BIN_DIR OUT_DIR [TOOLS_BIN_DIR]" >&2; exit 2; }
bin=$(cd "$1" && pwd)
tools=$(cd "${3:-$1}" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
rec=$out/recordings
mkdir -p "$rec"
root=$(pwd)

# The recordings: the same bytes for every build compared (made by the
# tools given; gse_sim and gse_bench_recording are seeded).
"$tools/gse_sim" --out "$rec/faults.dat" --frames 3000 --seed 11 --noise 0.03 --bad-checksum 0.02 \
  --cut 0.02 --escapes 0.05 --hk 16=60@100..400 --hk 8=0.2@900..950 --quiet
"$tools/gse_bench_recording" --out "$rec/damaged.dat" --frames 5000 --damaged > /dev/null
cp data/demo.dat "$rec/demo.dat"
cat > "$rec/events.txt" <<'EVENTS'
0  PANEL_COUNT 50
10 PANEL_YLOG 1
20 PANEL_XMAX 1024
20 PANEL_XMIN 0
60 PANEL_CLEAR
300 PANEL_ACCUM 0
400 PANEL_ACCUM 1
500 PANEL_YMIN 0.5
EVENTS

blank_times() { sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2}[ T][0-9:.]+/TIME/g; s/[0-9]+\.[0-9]+ s\b/N s/g'; }

play() {  # name, then the arguments before the recording, then the recording
  local name=$1; shift
  local dir=$out/$name
  rm -rf "$dir"
  mkdir -p "$dir"
  local status=0
  (cd "$dir" && cp "$root/ui/gse.uir" . && "$bin/vst_gse" --headless --speed 0 "$@" > stdout.raw 2> stderr.raw) || status=$?
  echo "$status" > "$dir/status"
  blank_times < "$dir/stdout.raw" > "$dir/stdout.txt"
  blank_times < "$dir/stderr.raw" > "$dir/stderr.txt"
  rm -f "$dir/stdout.raw" "$dir/stderr.raw" "$dir/gse.uir"
  # The link's health is sampled by a watcher on the clock: its log lines
  # come when they come, and the durations in the summary are the run's own.
  if [ -f "$dir/log.txt" ]; then
    blank_times < "$dir/log.txt" | grep -v " link: " > "$dir/log.tmp" || true
    mv "$dir/log.tmp" "$dir/log.txt"
  fi
  if [ -f "$dir/summary.json" ]; then
    blank_times < "$dir/summary.json" | sed -E 's/("[a-z_]+_s"):[-0-9.e]+/\1:N/g' > "$dir/summary.tmp"
    mv "$dir/summary.tmp" "$dir/summary.json"
  fi
  return 0
}

all_csv=(--csv frames.csv --csv-samples samples.csv --csv-spectra spectra.csv --csv-failures --csv-hex
         --csv-panel panel.csv --log log.txt --summary summary.json)
# Relative names, so that the outputs do not hold OUT_DIR.
for r in demo faults damaged; do
  play "$r-trace" --trace trace.jsonl --events ../recordings/events.txt "../recordings/$r.dat"
  play "$r-csv" "${all_csv[@]}" "../recordings/$r.dat"
  play "$r-plain" "../recordings/$r.dat"
done
(cd "$out" && find . -path ./recordings -prune -o -type f ! -name sums.txt -print | sort | xargs sha256sum > sums.txt)
echo "outputs of $(grep -c . "$out/sums.txt") files in $out (sums.txt)"
