#!/usr/bin/env bash
# The engine built for 32-bit x86 with the plug-in's code-generation flags (SSE4.1 arithmetic,
# never x87; stack realigned at every entry) runs every host script and must print the native
# build's report byte for byte, on every kernel table. It runs as a static 32-bit Linux program,
# under qemu's user-mode emulation where the kernel cannot run 32-bit programs itself.
set -euo pipefail
native_host=$1
out=$2
shift 2
here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$out"
flags=(-m32 -O2 -std=gnu++20 "-I$here" -ffp-contract=off -fno-fast-math -msse4.1 -mfpmath=sse
       -mstackrealign -Wall -Wextra -Werror)
sources=(host/filter_table.cpp host/parameter_store.cpp host/window_procedure.cpp
         pipeline/frame_entry.cpp pipeline/process_plane.cpp pipeline/plane_stages.cpp
         pipeline/stage_workers.cpp pipeline/plane_io.cpp pipeline/learning.cpp pipeline/views.cpp
         wavelet/lifting_passes.cpp wavelet/masked_threshold.cpp kernels/dispatch.cpp
         kernels/scalar.cpp kernels/sse41.cpp kernels/avx2.cpp standin/emulated_filter.cpp
         standin/frame_source.cpp standin/scenario.cpp standin/thread_pool.cpp
         standin/editing_session.cpp standin/host_window.cpp
         standin/user32_standin.cpp standin/main.cpp)
printf '%s\n' "${sources[@]}" | xargs -P 2 -I{} sh -c '
  extra=""; case "{}" in *avx2.cpp) extra=-mavx2 ;; esac
  g++ "$@" $extra -c "'"$here"'/{}" -o "'"$out"'/$(echo {} | tr / _).o"' sh "${flags[@]}"
g++ -m32 -static -pthread "$out"/*.o -o "$out/velmora-host-i686"
file "$out/velmora-host-i686" | grep -q "32-bit" || { echo "not a 32-bit program"; exit 1; }

"$native_host" "$@" > "$out/native.txt"
for isa in scalar sse41 avx2; do
  QEMU_CPU=max VELMORA_ISA=$isa "$out/velmora-host-i686" "$@" > "$out/i686-$isa.txt"
  if ! cmp -s "$out/native.txt" "$out/i686-$isa.txt"; then
    diff -u "$out/native.txt" "$out/i686-$isa.txt" | head -40
    echo "the 32-bit build with the $isa kernels differs from the native build"
    exit 1
  fi
done
echo "identical on every kernel table: $(grep -c '^frame' "$out/native.txt") frames from $# scripts"
