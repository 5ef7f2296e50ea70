#!/usr/bin/env bash
# Installs Debian packages (run as root), riding out a package registry caught mid-sync.
#   apt_install.sh PACKAGE...
# apt-get update is tried up to four times, pausing APT_INSTALL_PAUSE seconds (default 5) longer
# after each failure; the indexes that still fail are named, and the install goes on without
# them. A suite that lost only some of its indexes (say its i386 one) offers newer versions for
# one architecture than for another, and a Multi-Arch: same library then cannot be installed for
# both: so when the install fails, it is tried once more with each suite whose index failed
# pinned down to priority 100 (installed versions are kept). Exits non-zero only when some
# package cannot be installed, naming it. APT_CONFIG points apt elsewhere, as usual.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 PACKAGE..." >&2; exit 2; }
packages=("$@")
attempts=4
pause=${APT_INSTALL_PAUSE:-5}
# Another installation may hold the package lock for a while: wait for it.
lock=(-o DPkg::Lock::Timeout=600)
failed_indexes=()
pins=()

say() { echo "$(basename "$0"): $*" >&2; }

update() {
  local attempt output
  for ((attempt = 1; ; attempt++)); do
    output=$(apt-get "${lock[@]}" -qq update 2>&1) && { failed_indexes=(); return; }
    mapfile -t failed_indexes < <(grep -oE 'Failed to fetch [^ ]+' <<<"$output" | cut -d' ' -f4 |
                                  sort -u)
    [ "$attempt" -lt $attempts ] || break
    say "apt-get update failed (attempt $attempt of $attempts), again in $((pause * attempt)) s"
    sleep $((pause * attempt))
  done
  echo "$output" >&2
  [ ${#failed_indexes[@]} -eq 0 ] ||
    say "going on without the indexes that failed to load:$(printf '\n  %s' "${failed_indexes[@]}")"
}

install() {  # APT-OPTION...
  DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" "$@" install -y -qq \
      --no-install-recommends "${packages[@]}" >/dev/null
}

# The suites of the failed indexes (their URLs' /dists/SUITE/ part).
failed_suites() {
  printf '%s\n' "${failed_indexes[@]}" | sed -n 's|.*/dists/\([^/]*\)/.*|\1|p' | sort -u
}

# Writes FILE: the suites whose indexes failed pinned down, whether the sources name them by
# codename or by suite; then the system's own preferences file, which apt reads before its
# preferences parts. The first pin that matches an index sets its priority.
write_pins() {  # FILE
  local suite system
  for suite in $(failed_suites); do
    printf 'Package: *\nPin: release %s=%s\nPin-Priority: 100\n\n' n "$suite" a "$suite"
  done > "$1"
  eval "$(apt-config shell system Dir::Etc::Preferences/f)"
  [ ! -f "$system" ] || cat "$system" >> "$1"
}

install_pinned() {
  [ -n "$(failed_suites)" ] || return 1
  pins_dir=$(mktemp -d)
  trap 'rm -rf "$pins_dir"' EXIT
  write_pins "$pins_dir/preferences"
  pins=(-o "Dir::Etc::Preferences=$pins_dir/preferences")
  say "trying again with these suites pinned down: $(failed_suites | paste -sd' ')"
  install "${pins[@]}"
}

# The requested packages that cannot be installed even alone (all of them when each can be).
uninstallable() {
  local package found=()
  for package in "${packages[@]}"; do
    apt-get "${pins[@]}" -s -qq install --no-install-recommends "$package" >/dev/null 2>&1 ||
      found+=("$package")
  done
  [ ${#found[@]} -gt 0 ] || found=("${packages[@]}")
  echo "${found[*]}"
}

update
install && exit 0
install_pinned && exit 0
say "cannot install: $(uninstallable)"
[ ${#failed_indexes[@]} -eq 0 ] ||
  say "the indexes that failed to load:$(printf '\n  %s' "${failed_indexes[@]}")"
exit 1
