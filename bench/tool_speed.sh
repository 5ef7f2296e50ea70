#!/usr/bin/env bash
# Whole processes side by side, in one run: velmora's defaults (best mode, measured noise,
# temporal averaging), best mode alone (--temporal 0) and exact mode, an older velmora when one
# is given, and the ffmpeg denoisers a user would pick instead (hqdn3d, nlmeans, vaguedenoiser),
# with ffmpeg passing the stream through unchanged (the floor that reading and writing y4m sets).
#
# Streams: real footage (bench/footage.py: Debian's opencv-doc clip of people walking, scaled,
# Gaussian noise of 5 steps) at 1920x1080 and 3840x2160 4:2:0 8-bit, and a synthetic 1920x1080
# 4:4:4 16-bit stream. Each command reads the file from the page cache and writes y4m to
# /dev/null. Two figures per command:
#   wall: milliseconds per frame end to end with two threads (velmora --threads 2; ffmpeg
#         -threads 2 -filter_threads 2);
#   cpu:  milliseconds of processor time (user + system) per frame with one thread.
# The commands alternate (each round starts one command later) and each figure is the median of
# the rounds. nlmeans, at more than a second a frame, runs on the first --slow-frames frames.
# A run's first frames also fault in its buffers, so runs need some tens of frames for the
# steady rate. Installs Debian's ffmpeg if missing.
#
#   bench/tool_speed.sh [--build DIR] [--before OLD_VELMORA] [--rounds N] [--frames N]
#                       [--slow-frames N] [--streams 1080,2160,444]
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/native before="" rounds=3 frames=40 slow_frames=6 streams=1080,2160,444
usage="usage: $0 [--build DIR] [--before OLD_VELMORA] [--rounds N] [--frames N] [--slow-frames N] [--streams 1080,2160,444]"
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --before) before=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --slow-frames) slow_frames=$2; shift 2 ;;
    --streams) streams=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
command -v ffmpeg >/dev/null || {
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ffmpeg >/dev/null
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Milliseconds per frame of one run: "wall" (elapsed) or "cpu" (user + system) over `count`
# frames.
ms_of() {
  local what=$1 count=$2
  shift 2
  local TIMEFORMAT="%R %U %S" elapsed user system
  { time "$@" > /dev/null 2>&1; } 2> "$work/time"
  read -r elapsed user system < "$work/time"
  awk -v e="$elapsed" -v u="$user" -v s="$system" -v f="$count" -v w="$what" \
    'BEGIN { printf "%.1f", (w == "wall" ? e : u + s) * 1000 / f }'
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

ffmpeg_run() {  # ffmpeg_run THREADS FRAMES [FILTER]
  ffmpeg -hide_banner -nostats -loglevel error -threads "$1" -filter_threads "$1" -i "$stream" \
    ${3:+-vf "$3"} -frames:v "$2" -pix_fmt "$pixfmt" -f yuv4mpegpipe -strict -1 -y /dev/null
}

# One run of the command a column names, timed: time_one NAME wall|cpu.
time_one() {
  local name=$1 what=$2 threads=2 velmora=$build/velmora
  [ "$what" = cpu ] && threads=1
  case $name in
    before*) velmora=$before ;;
  esac
  case $name in
    defaults | before) ms_of "$what" "$frames" "$velmora" --quiet --threads $threads "$stream" /dev/null ;;
    best | before_best)
      ms_of "$what" "$frames" "$velmora" --quiet --threads $threads --temporal 0 "$stream" /dev/null ;;
    exact) ms_of "$what" "$frames" "$velmora" --quiet --threads $threads --mode exact --sigma 5 "$stream" /dev/null ;;
    hqdn3d) ms_of "$what" "$frames" ffmpeg_run $threads "$frames" hqdn3d ;;
    nlmeans) ms_of "$what" "$slow_frames" ffmpeg_run $threads "$slow_frames" nlmeans ;;
    vaguedenoiser) ms_of "$what" "$frames" ffmpeg_run $threads "$frames" vaguedenoiser ;;
    io) ms_of "$what" "$frames" ffmpeg_run $threads "$frames" ;;
  esac
}

names=(defaults best exact hqdn3d nlmeans vaguedenoiser io)
if [ -n "$before" ]; then
  names+=(before)
  "$before" --help 2>&1 | grep -q -- '--temporal' && names+=(before_best)
fi
printf "%-22s" stream
for name in "${names[@]}"; do printf " %15s" "$name"; done
printf "\n"
for kind in $(echo "$streams" | tr ',' ' '); do
  case $kind in
    1080) size=1920x1080 label="1920x1080 420 8-bit" pixfmt=yuv420p ;;
    2160) size=3840x2160 label="3840x2160 420 8-bit" pixfmt=yuv420p ;;
    444) size=1920x1080 label="1920x1080 444 16-bit" pixfmt=yuv444p16le ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
  stream=$work/in.y4m
  if [ "$kind" = 444 ]; then
    "$build/velmora-sample" --size "$size" --colour 444 --depth 16 --sigma 5 --frames "$frames" \
      "$stream" > /dev/null
  else
    /usr/bin/python3 bench/footage.py --size "$size" --frames "$frames" "$stream"
  fi
  sync  # the stream's pages written back before anything is timed
  cat "$stream" > /dev/null
  declare -A times=()
  for r in $(seq 1 "$rounds"); do
    for i in "${!names[@]}"; do
      name=${names[(i + r - 1) % ${#names[@]}]}
      for what in wall cpu; do times[$name.$what]+="$(time_one "$name" $what) "; done
    done
  done
  printf "%-22s" "$label"
  for name in "${names[@]}"; do
    printf " %15s" "$(echo ${times[$name.wall]} | median) / $(echo ${times[$name.cpu]} | median)"
  done
  printf "\n"
  unset times
  rm -f "$stream"
done
echo "(milliseconds per frame, wall with two threads / processor time with one; whole processes,"
echo " median of $rounds rounds of $frames frames, nlmeans $slow_frames)"
