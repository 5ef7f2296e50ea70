#!/usr/bin/env bash
# Runs every fuzz target on its committed corpus.
#
#   fuzz/run.sh            the short campaign CI runs: a fixed seed and a fixed number of inputs
#   fuzz/run.sh --long S   a campaign of S seconds per target on both cores, new inputs kept in
#                          build/fuzz/found/TARGET; merge them into fuzz/corpus/TARGET with
#                          build/fuzz/fuzz/fuzz_TARGET -merge=1 fuzz/corpus/TARGET build/fuzz/found/TARGET
#
# A finding leaves its input as build/fuzz/crash-*; it becomes a regular test.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/fuzz/fuzz
declare -A short_runs=([frame_handler]=1500 [kernels]=5000 [y4m]=200000)
for target in frame_handler kernels y4m; do
  if [ "${1:-}" = "--long" ]; then
    mkdir -p "build/fuzz/found/$target"
    "$bin/fuzz_$target" -max_total_time="${2:-3600}" -jobs=2 -workers=2 -max_len=4096 \
      -artifact_prefix=build/fuzz/ "build/fuzz/found/$target" "fuzz/corpus/$target"
  else
    log=build/fuzz/fuzz_$target.log
    # New inputs go to a scratch folder: the committed corpus is only read.
    fresh=build/fuzz/new/$target
    rm -rf "$fresh" && mkdir -p "$fresh"
    if "$bin/fuzz_$target" -seed=1 -runs="${short_runs[$target]}" -max_len=4096 \
         -artifact_prefix=build/fuzz/ "$fresh" "fuzz/corpus/$target" > "$log" 2>&1; then
      echo "fuzz_$target: $(grep -E 'DONE' "$log" | tail -1)"
    else
      grep -E "ERROR|SUMMARY|#[0-9]+ " "$log" | head -20
      echo "fuzz_$target found a fault (input in build/fuzz/crash-*, log in $log)"
      exit 1
    fi
  fi
done
