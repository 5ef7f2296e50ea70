#!/usr/bin/env bash
# The closest peer, ffmpeg's vaguedenoiser (CDF 9/7, plain C, one thread), against this
# project's frame handler on the same 1920 x 1080 4:4:4 16-bit frames, alternating the two in
# one run. Installs Debian's ffmpeg if missing.
#
#   bench/peer_compare.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=${1:-build/native}
rounds=${2:-3}
frames=8
command -v ffmpeg >/dev/null || {
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ffmpeg >/dev/null
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/velmora-sample" --size 1920x1080 --colour 444 --depth 16 --sigma 6 --frames $frames \
  "$work/noisy.y4m" >/dev/null

# Milliseconds of user time per frame of one ffmpeg run of the filter (decoding included).
peer_ms() {
  local filter=$1
  ffmpeg -hide_banner -nostats -benchmark -i "$work/noisy.y4m" -vf "format=yuv444p16le,$filter" \
    -f null - 2>&1 | awk -v n=$frames '/bench: utime/ {sub("utime=", "", $2); sub("s", "", $2); printf "%.1f", $2 * 1000 / n}'
}
baseline_ms() {
  ffmpeg -hide_banner -nostats -benchmark -i "$work/noisy.y4m" -vf "format=yuv444p16le" \
    -f null - 2>&1 | awk -v n=$frames '/bench: utime/ {sub("utime=", "", $2); sub("s", "", $2); printf "%.1f", $2 * 1000 / n}'
}
ours_ms() {
  "$build/bench/velmora-bench" --runs 5 --isa "$1" --threads "$2" | awk '/^[0-9]+x[0-9]+ / {print $4; exit}'
}

printf "%-6s %14s %14s %14s %12s %12s\n" round "vd default" "vd hard/5" "ffmpeg alone" "ours 1 thr" "ours 2 thr"
best_isa=avx2
"$build/bench/velmora-bench" --runs 1 --isa avx2 --threads 1 | grep -q "not available" && best_isa=sse41
for r in $(seq 1 "$rounds"); do
  base=$(baseline_ms)
  vd=$(peer_ms vaguedenoiser)
  vd5=$(peer_ms "vaguedenoiser=method=hard:nsteps=5")
  one=$(ours_ms $best_isa 1)
  two=$(ours_ms $best_isa 2)
  printf "%-6s %14s %14s %14s %12s %12s\n" "$r" "$vd" "$vd5" "$base" "$one" "$two"
  echo "$vd $vd5 $base $one $two" >> "$work/rounds"
done
awk '{vd += $1 - $3; vd5 += $2 - $3; one += $4; two += $5} END {
  printf "vaguedenoiser (filter time, ffmpeg alone subtracted) per frame: %.1f ms default, %.1f ms hard/5 steps\n", vd / NR, vd5 / NR;
  printf "this project per frame: %.1f ms on 1 thread, %.1f ms on 2\n", one / NR, two / NR;
  printf "ratio: %.1fx (1 thread), %.1fx (2 threads) against the default peer\n", vd / one, vd / two }' "$work/rounds"
