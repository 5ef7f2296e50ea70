#!/usr/bin/env bash
# Exit status 0 when this kernel runs 32-bit x86 programs itself (not through an emulator
# registered with binfmt_misc). Probes with a 96-byte program that only exits; an emulator
# registered for them (ours or Debian's) means the kernel did not.
set -u
for entry in velmora-i386 qemu-i386; do
  if [ -e "/proc/sys/fs/binfmt_misc/$entry" ] && grep -qx enabled "/proc/sys/fs/binfmt_misc/$entry"; then
    exit 1
  fi
done
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
python3 - "$probe" <<'PY'
import struct, sys
base = 0x08048000
code = bytes([0xB8, 1, 0, 0, 0, 0x31, 0xDB, 0xCD, 0x80])  # exit(0)
header = b"\x7fELF\x01\x01\x01" + bytes(9)
header += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program = struct.pack("<IIIIIIII", 1, 0, base, base, 84 + len(code), 84 + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(header + program + code)
PY
chmod +x "$probe"
"$probe" 2>/dev/null
