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
cat > out/demo-script.txt <<'SCRIPT'
init
frame 640 360 640 360 2026 noisy
save out/sample-before.ppm
# about three times the noise of each plane, in track units (one unit is 2^(level/2) / 4)
track 0 1
update
track 1 880
track 2 880
track 3 880
track 4 622
track 5 622
track 6 622
track 7 440
track 8 440
track 9 440
track 10 311
track 11 311
track 12 311
track 13 220
track 14 220
track 15 220
track 0 2
update
track 1 880
track 2 880
track 3 880
track 4 622
track 5 622
track 6 622
track 7 440
track 8 440
track 9 440
track 10 311
track 11 311
track 12 311
track 13 220
track 14 220
track 15 220
track 0 0
update
track 1 1320
track 2 1320
track 3 1320
track 4 933
track 5 933
track 6 933
track 7 660
track 8 660
track 9 660
track 10 467
track 11 467
track 12 467
track 13 330
track 14 330
track 15 330
frame 640 360 640 360 2026 noisy
save out/sample-after.ppm
state
SCRIPT
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
