#!/usr/bin/env bash
# Whole processes side by side: milliseconds per frame of velmora (exact mode, and best mode
# each frame on its own: --temporal 0), of an older velmora when one is given (in both modes
# when it has them, else as it filters by default), of ffmpeg's vaguedenoiser and of ffmpeg
# passing the stream through unchanged (the floor that reading and writing y4m sets), each
# reading a y4m file from the page cache and writing y4m to /dev/null, two threads each, the
# commands alternated (each round starting one command later); the median of the rounds. A run's
# first frames also fault in its buffers, so runs need some tens of frames for the steady rate.
# Installs Debian's ffmpeg if missing.
#
#   bench/tool_speed.sh [--build DIR] [--before OLD_VELMORA] [--rounds N] [--frames N]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/native before="" rounds=3 frames=60
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--before OLD_VELMORA] [--rounds N] [--frames N]" >&2; exit 2 ;;
  esac
done
command -v ffmpeg >/dev/null || {
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ffmpeg >/dev/null
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Milliseconds per frame of one run of a command (wall time).
ms_of() {
  local start end
  start=$EPOCHREALTIME
  "$@" > /dev/null 2>&1
  end=$EPOCHREALTIME
  awk -v s="$start" -v e="$end" -v f="$frames" 'BEGIN { printf "%.1f", (e - s) * 1000 / f }'
}
median() { tr ' ' '\n' | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

ffmpeg_run() {  # ffmpeg_run STREAM PIXFMT [FILTER]
  ffmpeg -hide_banner -nostats -loglevel error -filter_threads 2 -i "$1" \
    ${3:+-vf "$3"} -pix_fmt "$2" -f yuv4mpegpipe -strict -1 -y /dev/null
}

# One run of the command a column names, timed.
time_one() {
  case $1 in
    exact) ms_of "$build/velmora" --quiet --threads 2 --mode exact --sigma 5 "$stream" /dev/null ;;
    best) ms_of "$build/velmora" --quiet --threads 2 --mode best --temporal 0 --sigma 5 "$stream" /dev/null ;;
    before)
      if [ "$modes" = yes ]; then
        ms_of "$before" --quiet --threads 2 --mode exact --sigma 5 "$stream" /dev/null
      else
        ms_of "$before" --quiet --threads 2 --sigma 5 "$stream" /dev/null
      fi ;;
    best_before) ms_of "$before" --quiet --threads 2 --mode best --temporal 0 --sigma 5 "$stream" /dev/null ;;
    vd) ms_of ffmpeg_run "$stream" "$pixfmt" vaguedenoiser ;;
    io) ms_of ffmpeg_run "$stream" "$pixfmt" ;;
  esac
}

modes=no
[ -n "$before" ] && "$before" --help 2>&1 | grep -q -- '--mode' && modes=yes
printf "%-24s %8s %8s %8s %8s %14s %14s\n" stream exact "was" best "was" vaguedenoiser "ffmpeg alone"
for kind in "1920x1080 444 16 yuv444p16le" "1920x1080 420 8 yuv420p" "3840x2160 420 8 yuv420p"; do
  set -- $kind
  size=$1 colour=$2 depth=$3 pixfmt=$4
  stream=$work/in.y4m
  "$build/velmora-sample" --size "$size" --colour "$colour" --depth "$depth" --sigma 5 \
    --frames "$frames" "$stream" > /dev/null
  sync  # the stream's pages written back before anything is timed
  cat "$stream" > /dev/null
  declare -A times=()
  names=(exact best vd io)
  if [ "$modes" = yes ]; then names+=(before best_before); elif [ -n "$before" ]; then names+=(before); fi
  for r in $(seq 1 "$rounds"); do
    # Each round starts one command later, so that no command always follows the same one.
    for i in "${!names[@]}"; do
      name=${names[(i + r - 1) % ${#names[@]}]}
      times[$name]+="$(time_one "$name") "
    done
  done
  printf "%-24s %8s %8s %8s %8s %14s %14s\n" "$size $colour ${depth}-bit" \
    "$(echo ${times[exact]} | median)" "$( [ -n "$before" ] && echo ${times[before]} | median || echo -)" \
    "$(echo ${times[best]} | median)" "$( [ "$modes" = yes ] && echo ${times[best_before]} | median || echo -)" \
    "$(echo ${times[vd]} | median)" "$(echo ${times[io]} | median)"
  unset times
  rm -f "$stream"
done
echo "(milliseconds per frame, whole processes, median of $rounds rounds of $frames frames)"
