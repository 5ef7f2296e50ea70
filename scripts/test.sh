#!/usr/bin/env bash
# Builds everything and runs every test: the native suite, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the real dezider.udi under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --wine
cmake --preset win32 >/dev/null && cmake --build --preset win32
cmake --preset native >/dev/null && cmake --build --preset native
cmake --preset asan >/dev/null && cmake --build --preset asan
ctest --preset asan
ctest --preset native
