#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer (but for the quality figures on photographs,
# which run the paths other tests check there, eight times slower), the engine's, the tool's and
# the frei0r filter's tests under ThreadSanitizer (worker pools, the tool's reader and writer
# threads; the long sweeps over formats, sizes and pictures run natively and under
# AddressSanitizer), checks of the built dezider.udi, the
# stand-in host built for 32-bit x86 with the plug-in's flags against the native build, a short
# fuzzing campaign of every fuzz target on its corpus, and the real plug-in under Wine against
# the native build (host scripts and the frame handler's fuzz corpus), and the frei0r plug-in
# velmora.so in Debian's ffmpeg and melt, and the GStreamer element in GStreamer's test harness
# and tools. Where the kernel runs no 32-bit programs, they run through qemu's user-mode emulation
# (scripts/qemu_i386.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --i686
# Wine, ffmpeg, melt and GStreamer's tools are only needed by the tests: they install while
# everything builds.
mkdir -p build
scripts/setup.sh --i686 --wine --hosts > build/setup-hosts.log 2>&1 &
hosts=$!
for preset in win32 i686 native asan tsan; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset
done
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_frame_handler fuzz_kernels fuzz_y4m fuzz_command
if ! wait $hosts; then
  cat build/setup-hosts.log
  echo "installing Wine, ffmpeg and melt failed"
  exit 1
fi
# Configured again, now that the frei0r hosts are there for their tests.
cmake --preset native >/dev/null
ctest --preset native -N -R 'frei0r_(in_ffmpeg|in_melt|editor_panels_in_melt)' |
  grep -q 'Total Tests: 3' ||
  { echo "the frei0r host tests are missing"; exit 1; }
ctest --preset native -N -R '^(gstreamer_in_gst_launch|GstElement\.)' | grep -q 'Total Tests: 4' ||
  { echo "the GStreamer element's tests are missing"; exit 1; }
ctest --preset asan
ctest --preset tsan
# The short fuzzing campaign takes one core for its fixed time; it runs beside the native suite,
# whose long Wine replay leaves the other core idle.
fuzz/run.sh > build/fuzz-run.log 2>&1 &
fuzz=$!
native=0
ctest --preset native || native=$?
fuzzed=0
wait $fuzz || fuzzed=$?
cat build/fuzz-run.log
[ $native -eq 0 ] && [ $fuzzed -eq 0 ]
