#!/usr/bin/env bash
# Installs what the build needs on a Debian machine (run as root).
#   --i686  also a 32-bit x86 Linux toolchain, to run the engine's 32-bit build beside the
#           native one; where the kernel cannot run 32-bit programs itself, qemu's user-mode
#           emulation is registered for them
#   --wine  also 32-bit Wine, for the plug-in under the Windows host emulator (with qemu as
#           above where needed)
set -euo pipefail
want_wine=0
want_i686=0
for arg in "$@"; do
  case "$arg" in
    --wine) want_wine=1 ;;
    --i686) want_i686=1 ;;
    *) echo "usage: $0 [--i686] [--wine]"; exit 2 ;;
  esac
done

# libpng-dev: velmora's preview pictures; python3-skimage: the photographs of its quality test;
# clang and its runtime: the fuzz targets.
packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-i686 python3 libpng-dev python3-skimage
          clang libclang-rt-14-dev)
[ $want_i686 = 1 ] && packages+=(g++-multilib qemu-user-static)
if [ $want_wine = 1 ]; then
  packages+=(wine wine32 qemu-user-static)
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ $want_wine = 1 ] || [ $want_i686 = 1 ]; then
  if ! "$(dirname "$0")/runs_32bit_natively.sh"; then
    binfmt=/proc/sys/fs/binfmt_misc
    [ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
    if [ ! -e $binfmt/qemu-i386 ]; then
      echo "this kernel does not run 32-bit programs: registering qemu-i386 for them"
      echo ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' > $binfmt/register
    fi
  fi
fi
