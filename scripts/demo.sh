#!/usr/bin/env bash
# Builds dezider.udi and the native tools, then filters a noisy sample frame through the
# plug-in's own code in the stand-in host, and a noisy clip through the command-line tool
# velmora. Results land in out/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset native >/dev/null && cmake --build --preset native
mkdir -p out
cp build/win32/dezider.udi out/
# About three times the noise of each plane at every level, in track units (one unit is
# 2^(level/2) / 4 in coefficient magnitude): Lv.0 H, V, D ... Lv.4 D.
luma=(1320 1320 1320 933 933 933 660 660 660 467 467 467 330 330 330)
chroma=(880 880 880 622 622 622 440 440 440 311 311 311 220 220 220)
tracks() { local k=1; for v in "$@"; do echo "track $k $v"; k=$((k + 1)); done; }
{
  echo "init"
  echo "frame 640 360 640 360 2026 noisy"
  echo "save out/sample-before.ppm"
  for plane in 1 2 0; do
    printf 'track 0 %s\nupdate\n' $plane
    if [ $plane = 0 ]; then tracks "${luma[@]}"; else tracks "${chroma[@]}"; fi
  done
  echo "frame 640 360 640 360 2026 noisy"
  echo "save out/sample-after.ppm"
  echo "state"
} > out/demo-script.txt
build/native/velmora-host out/demo-script.txt

# velmora, the command-line tool: a short clip made from a photograph with noise of 8 steps,
# denoised with the noise level it estimates itself, and frame 5 before and after as a picture.
photo=/usr/lib/python3/dist-packages/skimage/data/chelsea.png
build/native/velmora-sample --image "$photo" --frames 10 out/clip-clean.y4m
build/native/velmora-sample --image "$photo" --frames 10 --sigma 8 out/clip-noisy.y4m
build/native/velmora --auto --preview out/clip-before-after.png --preview-frame 5 \
    out/clip-noisy.y4m out/clip-denoised.y4m
echo "PSNR of the noisy clip:    $(build/native/velmora-sample --psnr out/clip-clean.y4m out/clip-noisy.y4m) dB"
echo "PSNR of the denoised clip: $(build/native/velmora-sample --psnr out/clip-clean.y4m out/clip-denoised.y4m) dB"
echo
echo "The plug-in for the editor:          out/dezider.udi"
echo "A noisy sample frame:                out/sample-before.ppm"
echo "The same frame through the filter:   out/sample-after.ppm"
echo "A noisy clip through velmora:        out/clip-noisy.y4m -> out/clip-denoised.y4m"
echo "Its frame 5 before and after:        out/clip-before-after.png"
