#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the engine's tests under ThreadSanitizer
# (the worker pool and the workers' disjoint writes), checks of the built dezider.udi, the engine
# built for 32-bit x86 with the plug-in's flags against the native build, a short
# fuzzing campaign of every fuzz target on its corpus, and the plug-in under Wine against the
# native build.
#
# Where the kernel cannot run 32-bit programs itself, 32-bit Wine runs only under qemu's
# user-mode emulation, where a single Wine session takes many minutes: the Wine comparison then
# runs only with VELMORA_WINE_TESTS=1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --i686
if scripts/runs_32bit_natively.sh || [ "${VELMORA_WINE_TESTS:-0}" = 1 ]; then
  scripts/setup.sh --i686 --wine
  wine_tests=ON
else
  wine_tests=OFF
  echo "note: this kernel runs no 32-bit programs; the Wine comparison is skipped" \
       "(VELMORA_WINE_TESTS=1 runs it under emulation)"
fi
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset native -DVELMORA_WINE_TESTS=$wine_tests -DVELMORA_I686_TESTS=ON >/dev/null
cmake --build --preset native
cmake --preset asan -DVELMORA_WINE_TESTS=OFF -DVELMORA_I686_TESTS=OFF >/dev/null && cmake --build --preset asan
cmake --preset tsan >/dev/null && cmake --build --preset tsan
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
ctest --preset asan
ctest --preset tsan
fuzz/run.sh
ctest --preset native
