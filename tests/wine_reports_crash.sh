#!/usr/bin/env bash
# A plug-in that crashes under Wine must fail the comparison with a report of the crash, not
# hang it or pass it.
set -uo pipefail
native_host=$1
win32_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
script=$(mktemp)
trap 'rm -f "$script"' EXIT
echo "frame 64 48 64 48 1 noisy" > "$script"
output=$("$here/compare_with_wine.sh" "$native_host" "$win32_dir" "$win32_dir/crashing_filter.udi" \
           "$script" 2>&1)
status=$?
echo "$output"
[ $status -ne 0 ] || { echo "FAIL: the comparison passed"; exit 1; }
echo "$output" | grep -q '^crash: exception ' || { echo "FAIL: no crash report"; exit 1; }
echo "$output" | grep -q 'the plug-in crashed under Wine' || { echo "FAIL: not reported as a crash"; exit 1; }
echo "ok: the crash was reported as a failure"
