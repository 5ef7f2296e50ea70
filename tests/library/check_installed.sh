#!/usr/bin/env bash
# The library as a user gets it: installed by cmake --install, a C program built on it through
# pkg-config and through find_package (shared and static), run; the header compiles on its own
# as C99 and as C++; the shared library exports velmora_* and nothing else.
#   check_installed.sh SOURCE_DIR BUILD_DIR C_COMPILER CXX_COMPILER
set -euo pipefail
source_dir=$1 build_dir=$2 cc=$3 cxx=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" > "$work/install.log"
libdir=$(dirname "$(find "$prefix" -name velmora.pc)")/..
program=$source_dir/tests/library/c_program.c

for std in "-x c -std=c99" "-x c++ -std=c++11"; do
  compiler=$cc; [[ $std == *c++* ]] && compiler=$cxx
  echo '#include <velmora/velmora.h>' | $compiler $std -Wall -Wextra -Werror -pedantic \
    -fsyntax-only -I "$prefix/include" - || { echo "FAIL: the header as $std"; exit 1; }
done

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
$cc -std=c99 -Wall -Wextra -Werror -pedantic "$program" -o "$work/by_pkg_config" \
  $(pkg-config --cflags --libs velmora) -lm
LD_LIBRARY_PATH=$libdir "$work/by_pkg_config"

cmake -S "$source_dir/tests/library/cmake_project" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" -DPROGRAM="$program" > /dev/null
cmake --build "$work/consumer" > /dev/null
LD_LIBRARY_PATH=$libdir "$work/consumer/on_shared"
"$work/consumer/on_static"
if ldd "$work/consumer/on_static" | grep -q libvelmora; then
  echo "FAIL: the static program loads libvelmora"; exit 1
fi

library=$(find "$prefix" -name 'libvelmora.so.*.*.*')
soname=$(readelf -d "$library" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libvelmora.so.0 ] || { echo "FAIL: soname '$soname'"; exit 1; }
others=$(nm -D --defined-only "$library" | awk '$2 != "A" {print $3}' | grep -v '^velmora_' || true)
if [ -n "$others" ]; then echo "FAIL: exported beside velmora_*:"; echo "$others"; exit 1; fi
count=$(nm -D --defined-only "$library" | awk '$2 == "T"' | wc -l)
echo "installed library: soname $soname, $count functions, all velmora_*"
