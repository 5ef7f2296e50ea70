#!/usr/bin/env bash
# Debian's ffmpeg runs velmora.so through its frei0r filter, found through FREI0R_PATH: on a
# noisy clip made from a photograph the defaults bring the frames much closer to the clean
# clip; every result equals the reference host's (one instance at a time) on the very RGBA
# frames ffmpeg hands the filter; strength 0 with auto off gives the frames back exactly; a
# width that is not a multiple of 16 is warned of once; the user's mp4 command works; and the
# installed plug-in loads.
#   ffmpeg_test.sh VELMORA_FREI0R_RUN PLUGIN_DIR VELMORA_SAMPLE BUILD_DIR
RUN=$(realpath "$1") PLUGIN_DIR=$(realpath "$2") SAMPLE=$(realpath "$3") BUILD=$(realpath "$4")
source "$(dirname "$0")/host_common.sh"
F="q ffmpeg -hide_banner -nostdin -v error -y"
N=6
S=512x512

# ffmpeg 5.1 hands the filter the frame without its row stride: rows arrive whole only when the
# width is a multiple of 16 (512 is).
$SAMPLE --image "$PICTURES/astronaut.png" --colour 444 --frames $N --sigma 0 clean.y4m
$SAMPLE --image "$PICTURES/astronaut.png" --colour 444 --frames $N --sigma 8 noisy.y4m
$F -i clean.y4m -pix_fmt rgba -f rawvideo clean.rgba
$F -i noisy.y4m -pix_fmt rgba -f rawvideo noisy.rgba  # what the filter receives
check "$N noisy frames as RGBA" [ "$(frames noisy.rgba 512 512)" = $N ]

# Defaults: auto on, each plane's noise estimated on every frame.
$F -i noisy.y4m -vf frei0r=filter_name=velmora -pix_fmt rgba -f rawvideo out.rgba
reference $S noisy.rgba want.rgba ""
same out.rgba want.rgba "defaults: ffmpeg gives the reference host's frames"
before=$(psnr clean.rgba noisy.rgba) after=$(psnr clean.rgba out.rgba)
echo "PSNR against the clean clip (R, G, B): noisy $before dB, filtered $after dB"
check "defaults: at least 4 dB closer to the clean clip" \
  awk -v a="$after" -v b="$before" 'BEGIN { exit !(a >= b + 4) }'

# Auto off, strength 0: every frame back exactly, through the colour conversion and back.
$F -i noisy.y4m -vf "frei0r=filter_name=velmora:filter_params='n|0'" -pix_fmt rgba -f rawvideo \
   id.rgba
same id.rgba noisy.rgba "auto off, strength 0: the frames come back unchanged"

# Every parameter kind, positionally; out-of-range values clamped by the plug-in; two instances
# in one chain.
$F -i noisy.y4m -vf "frei0r=filter_name=velmora:filter_params='n|0.6|0.8|exact'" -pix_fmt rgba \
   -f rawvideo p.rgba
reference $S noisy.rgba pwant.rgba "0=0 1=0.6 2=0.8 3=exact"
same p.rgba pwant.rgba "auto off, strength 0.6, chroma 0.8, mode exact: the reference's frames"
differ p.rgba out.rgba "the settings change the result"
$F -i noisy.y4m -vf "frei0r=filter_name=velmora:filter_params='n|2.5|-1|fastest'" -pix_fmt rgba \
   -f rawvideo c.rgba
reference $S noisy.rgba cwant.rgba "0=0 1=1 2=0"
same c.rgba cwant.rgba "strength 2.5, chroma -1, mode fastest: as 1, 0 and exact"
$F -i noisy.y4m -vf "frei0r=filter_name=velmora:filter_params='n|0.3|1',frei0r=velmora" \
   -pix_fmt rgba -f rawvideo two.rgba
reference $S noisy.rgba twowant.rgba "0=0 1=0.3 2=1" ""
same two.rgba twowant.rgba "two instances in one chain: the reference's frames"

# Alpha passes through: raw RGBA with random alpha.
head -c $((64 * 48 * 4 * 3)) /dev/urandom > random.rgba
$F -f rawvideo -pix_fmt rgba -s 64x48 -i random.rgba -vf frei0r=filter_name=velmora \
   -f rawvideo random-out.rgba
reference 64x48 random.rgba random-want.rgba ""
same random-out.rgba random-want.rgba "random RGBA: the reference's frames"
check "random RGBA: alpha unchanged" \
  cmp -s <(od -An -v -tu1 -w4 random.rgba | awk '{print $4}') \
         <(od -An -v -tu1 -w4 random-out.rgba | awk '{print $4}')

# At a width that is not a multiple of 16 ffmpeg 5.1 loses the last rows: said once per process,
# however many instances, and not at 512.
$F -f lavfi -i "color=c=white:s=800x500:d=0.12" \
   -vf "scale=721:481,format=rgba,frei0r=filter_name=velmora,frei0r=filter_name=velmora" \
   -f null - 2>stride.txt
check "721x481, two instances: one warning of the lost rows" \
  [ "$(grep -c 'without their row stride' stride.txt)" = 1 ]
$F -i noisy.y4m -vf frei0r=filter_name=velmora -f null - 2>no-stride.txt
check "512x512: no warning" [ "$(grep -c 'row stride' no-stride.txt)" = 0 ]

# The user's command line: mp4 in, mp4 out, for players in 4:2:0.
$F -i noisy.y4m -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p noisy.mp4
$F -i noisy.mp4 -vf frei0r=filter_name=velmora -pix_fmt yuv420p out.mp4
check "ffmpeg -i noisy.mp4 -vf frei0r=filter_name=velmora -pix_fmt yuv420p out.mp4: $N frames" \
  [ "$(ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames \
       -of csv=p=0 out.mp4)" = $N ]

# Installed where both hosts look: PREFIX/lib/frei0r-1/velmora.so.
q cmake --install "$BUILD" --prefix "$work/prefix" --component frei0r >/dev/null
check "cmake --install puts velmora.so into lib/frei0r-1" [ -f prefix/lib/frei0r-1/velmora.so ]
FREI0R_PATH=$work/prefix/lib/frei0r-1 $F -i noisy.y4m -frames:v 1 \
  -vf "frei0r=filter_name=velmora:filter_params='n|0'" -pix_fmt rgba -f rawvideo inst.rgba
check "ffmpeg runs the installed plug-in" cmp -s inst.rgba <(head -c $((512 * 512 * 4)) noisy.rgba)
finish
