#!/usr/bin/env bash
# Installs what the build needs on a Debian machine (run as root).
#   --i686  also a 32-bit x86 Linux toolchain, to run the engine's 32-bit build beside the
#           native one
#   --wine  also 32-bit Wine, for the plug-in under the Windows host emulator
#   --hosts also ffmpeg and melt, the frei0r hosts that velmora.so's tests run it in (about 185
#           packages, most of them melt's), and GStreamer's tools and base elements (appsrc,
#           appsink, videotestsrc) that the GStreamer element's tests run it with
# With either, where the kernel cannot run 32-bit programs itself, they run through qemu's
# user-mode emulation (scripts/qemu_i386.sh).
set -euo pipefail
want_wine=0
want_i686=0
want_hosts=0
for arg in "$@"; do
  case "$arg" in
    --wine) want_wine=1 ;;
    --i686) want_i686=1 ;;
    --hosts) want_hosts=1 ;;
    *) echo "usage: $0 [--i686] [--wine] [--hosts]"; exit 2 ;;
  esac
done

# libpng-dev: velmora's preview pictures; python3-skimage: the photographs of its quality test;
# clang and its runtime: the fuzz targets; frei0r-plugins-dev: the frei0r interface header of
# velmora.so; pkg-config: C programs built on the installed library in its tests, and finding
# GStreamer; libgstreamer*-dev: the GStreamer element libgstvelmora.so.
packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 python3 libpng-dev python3-skimage
          clang libclang-rt-14-dev frei0r-plugins-dev pkg-config libgstreamer1.0-dev
          libgstreamer-plugins-base1.0-dev)
[ $want_i686 = 1 ] && packages+=(g++-multilib)
[ $want_hosts = 1 ] && packages+=(ffmpeg melt gstreamer1.0-tools gstreamer1.0-plugins-base)
if [ $want_wine = 1 ]; then
  packages+=(wine wine32)
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "$(dirname "$0")/apt_install.sh" "${missing[@]}"
fi

if [ $want_wine = 1 ] || [ $want_i686 = 1 ]; then
  "$(dirname "$0")/qemu_i386.sh"
fi
