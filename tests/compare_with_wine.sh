#!/usr/bin/env bash
# Runs host scripts through the native stand-in host and, in one session, through the Windows
# host emulator with the real dezider.udi under Wine; the two reports must be identical.
set -euo pipefail
native_host=$1
win32_dir=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/wine_env.sh" "$win32_dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$native_host" "$@" > "$work/native.txt"
wine_scripts=()
for script in "$@"; do wine_scripts+=("Z:$script"); done
wine "$win32_dir/winhost.exe" "Z:$win32_dir/dezider.udi" "${wine_scripts[@]}" | tr -d '\r' > "$work/wine.txt"
if ! diff -u "$work/native.txt" "$work/wine.txt"; then
  echo "the plug-in under Wine differs from the native build"
  exit 1
fi
echo "identical: $# scripts, $(grep -c '^frame' "$work/native.txt") frames, $(wc -l < "$work/native.txt") report lines"
