#!/usr/bin/env bash
# The stand-in host built as a static 32-bit x86 Linux program with the plug-in's
# code-generation flags (SSE4.1 arithmetic, never x87; stack realigned at every entry) runs every
# host script and must print the native build's report byte for byte, on every kernel table. It
# runs under qemu's user-mode emulation where the kernel cannot run 32-bit programs itself.
set -euo pipefail
native_host=$1
i686_host=$2
shift 2
file "$i686_host" | grep -q "32-bit" || { echo "$i686_host is not a 32-bit program"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$native_host" "$@" > "$work/native.txt"
for isa in scalar sse41 avx2; do
  QEMU_CPU=max VELMORA_ISA=$isa "$i686_host" "$@" > "$work/i686-$isa.txt"
  if ! cmp -s "$work/native.txt" "$work/i686-$isa.txt"; then
    diff -u "$work/native.txt" "$work/i686-$isa.txt" | head -40
    echo "the 32-bit build with the $isa kernels differs from the native build"
    exit 1
  fi
done
echo "identical on every kernel table: $(grep -c '^frame' "$work/native.txt") frames from $# scripts"
