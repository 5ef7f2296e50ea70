#!/usr/bin/env bash
# Runs every fuzz target on its committed corpus.
#
#   fuzz/run.sh              the short campaign CI runs: each target from a fixed seed for 30 s
#   fuzz/run.sh --long N     a campaign of N inputs per target (default 10 million; the frame
#                            handler gets a tenth of that), one target per core; new inputs are kept
#                            in build/fuzz/found/TARGET and the figures in build/fuzz/TARGET.long.log.
#                            Merge what it found into the committed corpus with
#                            build/fuzz/fuzz_TARGET -merge=1 fuzz/corpus/TARGET build/fuzz/found/TARGET
#
# A finding leaves its input as build/fuzz/crash-* (or leak-*, timeout-*); it becomes a regular test.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/fuzz
targets=(frame_handler kernels y4m command)
declare -A max_len=([frame_handler]=300 [kernels]=2048 [y4m]=4096 [command]=4096)
declare -A share=([frame_handler]=10 [kernels]=1 [y4m]=1 [command]=1)

options() {  # the target's own settings; the command's messages are not wanted
  echo -len_control=0 -max_len="${max_len[$1]}" -artifact_prefix=build/fuzz/ -print_final_stats=1
  [ "$1" = command ] && echo -close_fd_mask=3
  return 0
}

long_campaign() {
  local target=$1 runs=$2
  mkdir -p "build/fuzz/found/$target"
  "$bin/fuzz_$target" $(options "$target") -runs="$runs" \
    "build/fuzz/found/$target" "fuzz/corpus/$target" > "build/fuzz/$target.long.log" 2>&1
}

if [ "${1:-}" = "--long" ]; then
  total=${2:-10000000}
  for target in "${targets[@]}"; do
    long_campaign "$target" $((total / share[$target])) &
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done  # one per core
  done
  wait
  status=0
  for target in "${targets[@]}"; do
    if grep -q "DONE" "build/fuzz/$target.long.log"; then
      echo "fuzz_$target: $(grep -E 'DONE' "build/fuzz/$target.long.log" | tail -1)"
    else
      echo "fuzz_$target found a fault (input in build/fuzz/, log in build/fuzz/$target.long.log)"
      status=1
    fi
  done
  exit $status
fi

for target in "${targets[@]}"; do
  log=build/fuzz/fuzz_$target.log
  # New inputs go to a scratch folder: the committed corpus is only read.
  fresh=build/fuzz/new/$target
  rm -rf "$fresh" && mkdir -p "$fresh"
  if "$bin/fuzz_$target" $(options "$target") -seed=1 -max_total_time=30 \
       "$fresh" "fuzz/corpus/$target" > "$log" 2>&1; then
    echo "fuzz_$target: $(grep -E 'DONE' "$log" | tail -1)"
  else
    grep -E "ERROR|SUMMARY|DONE|Test unit written|^#[0-9]+[[:space:]]" "$log" | tail -20
    echo "fuzz_$target found a fault (input in build/fuzz/, log in $log)"
    exit 1
  fi
done
