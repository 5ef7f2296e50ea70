#!/usr/bin/env bash
# scripts/apt_install.sh rides out a registry caught mid-sync. Two local suites, with apt pointed
# at a sandbox of its own (APT_CONFIG; nothing is installed, only simulated): "sound" loads whole,
# while the Release file of "flaky" gives a wrong size for its i386 index. The sandbox loads the
# indexes for amd64 first and then adds i386, as dpkg --add-architecture does: apt keeps all of a
# suite's old indexes when one of them fails, so flaky keeps its amd64 index and has no i386 one.
# lib is Multi-Arch: same, at version 1 in sound for both architectures and 2 in flaky.
#   check_apt_install.sh APT_INSTALL_SCRIPT
set -uo pipefail
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
broken_index=dists/flaky/main/binary-i386/Packages

add_package() {  # SUITE ARCH NAME VERSION
  local tree=$work/tree/$1_$2_$3 deb=pool/$1_$3_$4_$2.deb
  mkdir -p "$tree/DEBIAN" "$work/repo/pool" "$work/repo/dists/$1/main/binary-$2"
  printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMulti-Arch: same\n' "$3" "$4" "$2" \
      > "$tree/DEBIAN/control"
  printf 'Maintainer: Test <test@example.org>\nDescription: test package\n' >> "$tree/DEBIAN/control"
  dpkg-deb --build "$tree" "$work/repo/$deb" >/dev/null
  { cat "$tree/DEBIAN/control"
    printf 'Filename: %s\nSize: %s\nSHA256: %s\n\n' "$deb" "$(stat -c %s "$work/repo/$deb")" \
        "$(sha256sum < "$work/repo/$deb" | cut -d' ' -f1)"
  } >> "$work/repo/dists/$1/main/binary-$2/Packages"
}

write_release() {  # SUITE [INDEX-WITH-A-WRONG-SIZE]
  local index size
  cd "$work/repo/dists/$1" || exit 1
  { printf 'Origin: test\nSuite: %s\nCodename: %s\nArchitectures: amd64 i386\n' "$1" "$1"
    printf 'Components: main\nDate: %s\nSHA256:\n' "$(date -Ru)"
    for index in main/binary-*/Packages; do
      size=$(stat -c %s "$index")
      [ "$index" != "${2:-}" ] || size=$((size + 1))
      echo " $(sha256sum < "$index" | cut -d' ' -f1) $size $index"
    done
  } > Release
  cd - >/dev/null || exit 1
}

# apt's own configuration, lists and status here, the machine's left alone. It fetches as the
# caller: its _apt user cannot read the private temporary folder.
make_sandbox() {
  mkdir -p "$work/empty" "$work/lists/partial" "$work/cache/archives/partial"
  : > "$work/status"
  printf 'deb [trusted=yes] file:%s %s main\n' "$work/repo" sound "$work/repo" flaky \
      > "$work/sources.list"
  cat > "$work/apt.conf" <<EOF
Dir::Etc::Main "/dev/null";
Dir::Etc::Parts "$work/empty";
Dir::Etc::SourceList "$work/sources.list";
Dir::Etc::SourceParts "$work/empty";
Dir::Etc::Preferences "$work/preferences";
Dir::Etc::PreferencesParts "$work/empty";
Dir::State "$work";
Dir::State::Lists "$work/lists";
Dir::State::status "$work/status";
Dir::Cache "$work/cache";
Dir::Log "$work";
APT::Architecture "amd64";
APT::Architectures { "amd64"; };
APT::Get::Simulate "true";
APT::Sandbox::User "root";
Acquire::Languages "none";
EOF
}

expect() {  # STATUS "PACKAGE..." PATTERN...: the script's exit status (0 or 1) and what it says
  local status=0 packages pattern wrong=()
  read -ra packages <<<"$2"
  APT_CONFIG=$work/apt.conf APT_INSTALL_PAUSE=0 "$script" "${packages[@]}" >/dev/null \
      2>"$work/said" || status=1
  [ $status = "$1" ] || wrong+=("exit status $status")
  for pattern in "${@:3}"; do
    grep -qE "$pattern" "$work/said" || wrong+=("no \"$pattern\"")
  done
  [ ${#wrong[@]} = 0 ] || { echo "FAIL: $2: ${wrong[*]}"; cat "$work/said"; failures=1; }
}

add_package sound amd64 hello 1
add_package sound amd64 lib 1
add_package sound i386 lib 1
add_package flaky amd64 lib 2
add_package flaky i386 lib 2
add_package flaky i386 only32 1
write_release sound
write_release flaky "${broken_index#dists/flaky/}"
make_sandbox
APT_CONFIG=$work/apt.conf apt-get -qq update || { echo "FAIL: the amd64 indexes do not load"; exit 1; }
echo 'APT::Architectures:: "i386";' >> "$work/apt.conf"

expect 0 hello "attempt 3 of 4" "$broken_index"
expect 1 "hello only32" "cannot install: only32$" "$broken_index"
# Without the pin, flaky's amd64 lib 2 and sound's i386 lib 1 cannot go together.
if APT_CONFIG=$work/apt.conf apt-get -qq install lib:amd64 lib:i386 >/dev/null 2>&1; then
  echo "FAIL: lib:amd64 and lib:i386 install together without the pin"; failures=1
fi
expect 0 "lib:amd64 lib:i386" "pinned down: flaky"
exit $failures
