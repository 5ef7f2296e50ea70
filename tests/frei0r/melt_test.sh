#!/usr/bin/env bash
# MLT's melt renders a noisy clip through velmora.so, twice in one chain with different
# settings, with several rendering threads (each with instances of its own, frames spread over
# them in no fixed order): the frames must equal the reference host's, one instance at a time,
# applied to melt's own render without the filter. melt says nothing when a filter is missing
# (exit 0, frames unfiltered) and drops late frames in real time, so the test makes sure it
# lists the filter, renders with real_time=-N (N threads, no dropping) and that the filter
# changed the frames.
#   melt_test.sh VELMORA_FREI0R_RUN PLUGIN_DIR VELMORA_SAMPLE
RUN=$(realpath "$1") PLUGIN_DIR=$(realpath "$2") SAMPLE=$(realpath "$3")
source "$(dirname "$0")/host_common.sh"
export SDL_AUDIODRIVER=dummy
unset DISPLAY
N=12

profile() {  # profile W H FILE: square pixels, 25 frames per second, progressive
  printf '%s\n' "description=${1}x${2}" frame_rate_num=25 frame_rate_den=1 "width=$1" \
    "height=$2" progressive=1 sample_aspect_num=1 sample_aspect_den=1 "display_aspect_num=$1" \
    "display_aspect_den=$2" colorspace=709 > "$3"
}
render() {  # render CLIP PROFILE OUT THREADS [filters...]
  local clip=$1 profile=$2 out=$3 threads=$4; shift 4
  melt_render "$out" "$threads" -profile "$profile" "$clip" "$@"
}
clip() {  # clip PICTURE W H OUT.mkv: N noisy frames, lossless
  $SAMPLE --image "$1" --size "$2x$3" --colour 444 --frames $N --sigma 8 clip.y4m
  q ffmpeg -hide_banner -nostdin -v error -y -i clip.y4m -c:v ffv1 "$4"
}

melt -query filters >filters.txt 2>/dev/null
check "melt lists frei0r.velmora" grep -qx '  - frei0r.velmora' filters.txt

clip "$PICTURES/astronaut.png" 512 512 noisy.mkv
profile 512 512 p512.txt
render noisy.mkv p512.txt plain.rgba 2
check "melt renders $N frames without the filter" [ "$(frames plain.rgba 512 512)" = $N ]

# The filter twice, different settings; the reference runs each instance alone on melt's frames.
reference 512x512 plain.rgba want.rgba "0=0 1=0.5 2=0.2" ""
differ want.rgba plain.rgba "the reference chain changes the frames"
for threads in 2 4; do
  render noisy.mkv p512.txt chain.rgba $threads \
    -filter frei0r.velmora auto=0 strength=0.5 chroma=0.2 -filter frei0r.velmora
  same chain.rgba want.rgba "two instances in one chain, $threads render threads: the reference's frames"
done
render noisy.mkv p512.txt index.rgba 2 -filter frei0r.velmora 0=0 1=0.5 2=0.2 \
  -filter frei0r.velmora
same index.rgba want.rgba "parameters by index as by name"

# An odd size (MLT hands over whole rows at any width).
clip "$PICTURES/chelsea.png" 451 300 odd.mkv
profile 451 300 p451.txt
render odd.mkv p451.txt odd-plain.rgba 2
render odd.mkv p451.txt odd.rgba 2 -filter frei0r.velmora chroma=1 mode=exact \
  -filter frei0r.velmora auto=0 strength=0.3
reference 451x300 odd-plain.rgba odd-want.rgba "2=1 3=exact" "0=0 1=0.3"
differ odd-want.rgba odd-plain.rgba "451x300: the reference chain changes the frames"
same odd.rgba odd-want.rgba "451x300, two instances, 2 render threads: the reference's frames"
check "451x300: no warning of ffmpeg's lost rows (MLT hands over whole rows)" \
  [ "$(grep -c 'row stride' melt.log)" = 0 ]
finish || { cat melt.log; false; }
