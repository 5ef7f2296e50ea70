#!/usr/bin/env bash
# Lets a kernel that runs no 32-bit x86 programs run them through qemu's user-mode emulation
# (run as root). Debian 12's qemu-user 7.2 cannot run 32-bit Wine; Debian 13's 10.0 can, and its
# qemu-i386 is a static program. So this fetches that one package with an apt configuration of
# the project's own (the system's sources and installed packages stay as they were), unpacks it
# into .cache/qemu-user and registers its qemu-i386 with binfmt_misc under the entry
# velmora-i386, with flag F: the kernel opens the interpreter now, so it serves every later
# start. A registration made later takes precedence over an older one for the same programs.
#
# Does nothing where the kernel runs 32-bit programs itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binfmt=/proc/sys/fs/binfmt_misc
entry=velmora-i386
suite=trixie
cache=$root/.cache/qemu-user
qemu=$cache/root/usr/bin/qemu-i386

registered() {
  [ -e "$binfmt/$entry" ] && grep -qx enabled "$binfmt/$entry" &&
    grep -qx "interpreter $qemu" "$binfmt/$entry"
}

# The URI of the Debian archive the system already uses (deb822 or one-line sources).
debian_archive() {
  local uri
  uri=$(grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null |
        awk '{print $2}' | grep -v security | head -1 || true)
  if [ -z "$uri" ]; then
    uri=$(grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
          awk '{print $2}' | grep -v security | head -1 || true)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

fetch_qemu() {
  local apt=$cache/apt
  rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/sources" "$apt/cache/archives/partial"
  cat > "$apt/sources/$suite.sources" <<EOF
Types: deb
URIs: $(debian_archive)
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  local options=(-o "Dir::State::Lists=$apt/lists" -o "Dir::Etc::SourceList=/dev/null"
                 -o "Dir::Etc::SourceParts=$apt/sources" -o "Dir::Cache=$apt/cache"
                 -o "Dir::State::status=/dev/null" -o "APT::Architectures::=amd64"
                 -o "APT::Sandbox::User=root")
  echo "fetching qemu-user from Debian $suite into $cache"
  apt-get "${options[@]}" -qq update
  (cd "$apt" && apt-get "${options[@]}" -qq download qemu-user)
  rm -rf "$cache/root" && mkdir -p "$cache/root"
  dpkg-deb -x "$apt"/qemu-user_*.deb "$cache/root"
  rm -rf "$apt"
}

if "$root/scripts/runs_32bit_natively.sh"; then exit 0; fi
[ -x "$qemu" ] || fetch_qemu
"$qemu" --version | head -1
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
registered && exit 0
[ -e "$binfmt/$entry" ] && echo -1 > "$binfmt/$entry"
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
echo ":$entry:M::$magic:$mask:$qemu:F" > "$binfmt/register"
registered || { echo "could not register $qemu for 32-bit programs"; exit 1; }
echo "32-bit programs now run through $qemu"
