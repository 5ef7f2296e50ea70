#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the engine's tests under ThreadSanitizer
# (the worker pool and the workers' disjoint writes), checks of the built dezider.udi, the engine
# built for 32-bit x86 with the plug-in's flags against the native build, a short
# fuzzing campaign of every fuzz target on its corpus, and the real plug-in under Wine against
# the native build (host scripts and the frame handler's fuzz corpus). Where the kernel runs no
# 32-bit programs, they run through qemu's user-mode emulation (scripts/qemu_i386.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --i686 --wine
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset native -DVELMORA_WINE_TESTS=ON -DVELMORA_I686_TESTS=ON >/dev/null
cmake --build --preset native
cmake --preset asan -DVELMORA_WINE_TESTS=OFF -DVELMORA_I686_TESTS=OFF >/dev/null && cmake --build --preset asan
cmake --preset tsan >/dev/null && cmake --build --preset tsan
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
ctest --preset asan
ctest --preset tsan
fuzz/run.sh
ctest --preset native
