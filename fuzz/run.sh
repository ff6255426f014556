#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour
# sanitizers) in build-fuzz and runs each for a bounded time.
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60 s; targets:
#   receiver reader script panel)
# Needs clang and libclang-rt-dev: scripts/setup-fuzz.sh installs them.
# Findings (crash-*, leak-*, timeout-*) land in build-fuzz/findings/TARGET/;
# the run fails when a target finds one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(receiver reader script panel)
build=$root/build-fuzz
jobs=${JOBS:-2}

flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
cmake -S "$root" -B "$build/lib" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DGSE_BUILD_TESTS=OFF -DGSE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build/lib" -j"$jobs" --target gse_system gse_runtime gse_runtime_qt gse_session gse_present
cmake -S "$root/fuzz" -B "$build/targets" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-O1" -DGSE_LIB_DIR="$build/lib" >/dev/null
cmake --build "$build/targets" -j"$jobs"

status=0
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  findings=$build/findings/$t
  mkdir -p "$corpus" "$findings"
  echo "== $t: ${seconds} s"
  # The seeds are read, new inputs go to the working corpus in build-fuzz.
  (cd "$build/targets/bin" && ./"${t}_fuzz" -max_total_time="$seconds" -timeout=10 \
     -rss_limit_mb=2048 -max_len="$([ "$t" = panel ] && echo 16384 || echo 4096)" -print_final_stats=1 \
     -artifact_prefix="$findings/" "$corpus" "$root/tests/fuzz_corpus/$t") \
     > "$build/$t.log" 2>&1 || status=1
  tail -n 12 "$build/$t.log" | grep -E "stat::|Done|ERROR|SUMMARY|invariant" || true
  if ls "$findings"/* >/dev/null 2>&1; then
    echo "$t: findings in $findings"
    status=1
  fi
done
exit $status
