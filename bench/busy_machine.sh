#!/usr/bin/env bash
# velmora's default thread count against --threads 1 on a machine whose every processor is
# already busy (as beside an encoder in the same pipe), and on the same machine idle: seconds of
# whole runs (default options: best mode, noise measured) on frames of 1x1, 16x16, 320x240 and
# 1920x1080, and the ratio default / one thread. The busy machine is one CPU-bound process per
# processor, started here, bounded in time and killed on exit. Each round runs the busy and the
# idle half in turn, and each pair of runs in turn, starting one later each round; the medians
# of the rounds. With --before, an older velmora runs beside the one built, in the same rounds.
#
#   bench/busy_machine.sh [--build DIR] [--before OLD_VELMORA] [--rounds N]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/native before="" rounds=3
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--before OLD_VELMORA] [--rounds N]" >&2; exit 2 ;;
  esac
done
work=$(mktemp -d)
hogs=()
stop_hogs() {
  [ ${#hogs[@]} -eq 0 ] || kill "${hogs[@]}" 2>/dev/null || true
  [ ${#hogs[@]} -eq 0 ] || wait "${hogs[@]}" 2>/dev/null || true
  hogs=()
}
trap 'stop_hogs; rm -rf "$work"' EXIT
start_hogs() {
  for _ in $(seq 1 "$(nproc)"); do
    timeout 900 sh -c 'while :; do :; done' &
    hogs+=($!)
  done
  sleep 0.5  # the hogs running before anything is timed
}

sizes=(1x1 16x16 320x240 1920x1080)
declare -A frames=([1x1]=10000 [16x16]=2000 [320x240]=60 [1920x1080]=6)
for size in "${sizes[@]}"; do
  "$build/velmora-sample" --size "$size" --frames "${frames[$size]}" --sigma 5 \
    "$work/$size.y4m" > /dev/null
done

programs=("$build/velmora")
[ -z "$before" ] || programs+=("$before")
# A run is "PROGRAM-INDEX THREADS": threads 0 is the default.
runs=()
for p in "${!programs[@]}"; do runs+=("$p 0" "$p 1"); done

seconds_of() {  # seconds_of PROGRAM-INDEX THREADS SIZE
  local start end threads=()
  [ "$2" = 0 ] || threads=(--threads "$2")
  start=$EPOCHREALTIME
  "${programs[$1]}" --quiet "${threads[@]}" "$work/$3.y4m" /dev/null
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

declare -A times=()
for r in $(seq 1 "$rounds"); do
  for h in 0 1; do
    half=$(( (h + r) % 2 == 0 ? 1 : 0 ))  # 1: busy
    [ "$half" = 0 ] || start_hogs
    for size in "${sizes[@]}"; do
      for i in "${!runs[@]}"; do
        run=${runs[(i + r - 1) % ${#runs[@]}]}
        read -r program count <<< "$run"
        times["$half $size $run"]+="$(seconds_of "$program" "$count" "$size") "
      done
    done
    stop_hogs
  done
done

printf "%-8s %-10s" machine frames
for p in "${!programs[@]}"; do
  name=$([ "$p" = 0 ] && echo now || echo before)
  printf " %12s %12s %8s" "$name default" "$name 1" ratio
done
echo
for half in 1 0; do
  for size in "${sizes[@]}"; do
    printf "%-8s %-10s" "$([ "$half" = 1 ] && echo busy || echo idle)" "$size"
    for p in "${!programs[@]}"; do
      d=$(echo "${times["$half $size $p 0"]}" | median)
      one=$(echo "${times["$half $size $p 1"]}" | median)
      printf " %12s %12s %8s" "$d" "$one" "$(awk -v a="$d" -v b="$one" 'BEGIN { printf "%.2f", a / b }')"
    done
    echo
  done
done
echo "(seconds of whole runs, median of $rounds rounds; frames: 1x1 ${frames[1x1]}," \
  "16x16 ${frames[16x16]}, 320x240 ${frames[320x240]}, 1920x1080 ${frames[1920x1080]};" \
  "busy: $(nproc) CPU-bound processes beside)"
