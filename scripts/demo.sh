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
track 1 40
track 2 40
track 3 60
track 4 30
track 5 30
track 6 40
track 7 20
track 8 20
track 9 25
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
