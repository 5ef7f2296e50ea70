#!/usr/bin/env bash
# Frames per second of velmora through a pipe, for 1920x1080 4:2:0 8-bit and 4:4:4 16-bit
# streams, with 1 and 2 worker threads. Usage: bench/velmora_speed.sh [BUILD_DIR] [FRAMES]
# (default build/native, 30 frames). The streams are made first, so only the filter is timed
# (reading and writing the pipes included).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
frames=${2:-30}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for kind in "420 8" "444 16"; do
  set -- $kind
  colour=$1 depth=$2
  stream=$work/in-$colour-$depth.y4m
  "$build/velmora-sample" --size 1920x1080 --colour "$colour" --depth "$depth" --sigma 5 \
      --frames "$frames" "$stream"
  cat "$stream" > /dev/null  # into the page cache before timing
  for threads in 1 2; do
    start=$EPOCHREALTIME
    cat "$stream" | "$build/velmora" --quiet --threads "$threads" --sigma 5 - - | cat > /dev/null
    end=$EPOCHREALTIME
    awk -v f="$frames" -v s="$start" -v e="$end" -v c="$colour" -v d="$depth" -v t="$threads" \
        'BEGIN { printf "1920x1080 %s %2d-bit, %d thread%s: %6.2f fps\n", c, d, t, (t > 1 ? "s" : ""), f / (e - s) }'
  done
  rm -f "$stream"
done
