#!/usr/bin/env bash
# Builds dezider.udi and the native tools, then filters a noisy sample frame through the
# plug-in's own code in the stand-in host. Results land in out/.
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
echo
echo "The plug-in for the editor:          out/dezider.udi"
echo "A noisy sample frame:                out/sample-before.ppm"
echo "The same frame through the filter:   out/sample-after.ppm"
