#!/usr/bin/env bash
# Runs the same work through the native stand-in host and through the Windows host emulator
# with the real plug-in under Wine; the two reports must be identical, byte for byte.
#
#   compare_with_wine.sh NATIVE_HOST WIN32_DIR PLUGIN SCRIPT...         host scripts, one session
#   compare_with_wine.sh NATIVE_HOST WIN32_DIR PLUGIN --replay FOLDER   fuzz inputs as sessions
#
# A crash of the plug-in, a failure of either host, a hang (VELMORA_WINE_TIMEOUT seconds, 1200 by
# default) or a child window clipped by the filter window's client area fails the comparison.
set -uo pipefail
native_host=$1
win32_dir=$(cd "$2" && pwd)
plugin=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
shift 3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/wine_env.sh" "$win32_dir"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wine_args=()
for arg in "$@"; do
  case "$arg" in /*) wine_args+=("Z:$arg") ;; *) wine_args+=("$arg") ;; esac
done

if ! "$native_host" "$@" > "$work/native.txt" 2> "$work/native.err"; then
  tail -5 "$work/native.txt" "$work/native.err"
  echo "the native host failed"
  exit 1
fi
timeout -k 10 "${VELMORA_WINE_TIMEOUT:-1200}" \
  wine "$win32_dir/winhost.exe" "Z:$plugin" "${wine_args[@]}" > "$work/wine.raw" 2> "$work/wine.err"
status=$?
tr -d '\r' < "$work/wine.raw" > "$work/wine.txt"
case $status in
  0) ;;
  3) grep -a '^crash' "$work/wine.err"; echo "the plug-in crashed under Wine"; exit 1 ;;
  124|137) echo "the plug-in under Wine did not finish in ${VELMORA_WINE_TIMEOUT:-1200} s"; exit 1 ;;
  *) tail -5 "$work/wine.txt" "$work/wine.err"; echo "the Windows host emulator failed (status $status)"; exit 1 ;;
esac
if ! diff -u "$work/native.txt" "$work/wine.txt" > "$work/diff.txt"; then
  head -60 "$work/diff.txt"
  echo "the plug-in under Wine differs from the native build"
  exit 1
fi
if grep -q ' clipped$' "$work/wine.txt"; then
  grep -B3 ' clipped$' "$work/wine.txt"
  echo "a child window lies outside the filter window's client area"
  exit 1
fi
echo "identical: $(grep -c '^== ' "$work/native.txt") scripts or inputs," \
     "$(grep -c '^frame' "$work/native.txt") frames, $(wc -l < "$work/native.txt") report lines"
