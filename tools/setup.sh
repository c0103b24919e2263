#!/usr/bin/env bash
# Brings a Debian bookworm machine to a working cross build: MinGW for 32-bit
# and 64-bit Windows, zlib and minizip for the target, 32-bit and 64-bit Wine,
# a virtual display and a CJK font.
# Safe to run again: it only installs what is missing.
# Sourced (as tests/setup_resolution.sh does), it only defines its functions.
set -euo pipefail

DEPS_DIR=${VELMORA_DEPS:-/var/cache/velmora}
PACKAGES=(
  cmake make gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 xvfb xauth fonts-wqy-zenhei imagemagick
  googletest zip python3 python3-pil python3-cryptography dpkg-dev locales
)
# Extra apt-get options, for a throwaway configuration (the tests' -s and -o ...).
APT_OPTS=(${APT_OPTS[@]+"${APT_OPTS[@]}"})
UPDATE_TRIES=${VELMORA_APT_UPDATE_TRIES:-3}
UPDATE_PAUSE=${VELMORA_APT_UPDATE_PAUSE:-20}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
say() { echo "setup: $*" >&2; }

# The indexes the last apt-get update could not fetch, one address a line.
FAILED_INDEXES=""

# A mirror in the middle of a sync serves an index whose size does not match
# its Release file; apt-get update then fails, but keeps every index it did
# fetch. A minute later the sync may be done, so try a few times; after
# that, go on with what there is: the install below copes with one missing
# index, and says which one when it cannot.
updated=0
apt_update() {
  [ "$updated" = 1 ] && return 0
  local try log
  log=$(mktemp)
  for ((try = 1; try <= UPDATE_TRIES; try++)); do
    if as_root apt-get "${APT_OPTS[@]}" update -qq 2>"$log"; then
      FAILED_INDEXES=""
      updated=1
      rm -f "$log"
      return 0
    fi
    FAILED_INDEXES=$(sed -n 's/^E: Failed to fetch \([^ ]*\).*/\1/p' "$log")
    if [ "$try" -lt "$UPDATE_TRIES" ]; then
      say "apt-get update failed (try $try of $UPDATE_TRIES); trying again in ${UPDATE_PAUSE} s:"
      sed 's/^/  /' "$log" >&2
      sleep "$UPDATE_PAUSE"
    fi
  done
  say "apt-get update still fails after $UPDATE_TRIES tries; going on with the indexes it has."
  sed 's/^/  /' "$log" >&2
  if [ -n "$FAILED_INDEXES" ]; then
    say "not fetched:"
    sed 's/^/  /' <<<"$FAILED_INDEXES" >&2
  fi
  rm -f "$log"
  updated=1
}

# Installs the packages named. When apt cannot resolve them, the usual cause
# is an index missing or stale for one architecture: a multi-arch library
# must have the same version for amd64 and i386, and the security suite may
# then offer a newer amd64 version than any i386 one it has. One more try
# takes every package from the release's own suite, where both
# architectures always match; this is an option of this one command, and
# changes no apt configuration on the machine.
install_packages() {
  local log suite
  log=$(mktemp)
  if as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" install -y -qq --no-install-recommends "$@" 2>"$log"; then
    rm -f "$log"
    return 0
  fi
  suite=${VELMORA_APT_SUITE:-$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")}
  say "apt-get could not install the packages:"
  grep -E '^(E:| [^ ].*:)' "$log" | head -n 12 | sed 's/^/  /' >&2
  say "trying once more with every package taken from the suite \"$suite\" alone (apt-get install -t $suite), so that the amd64 and i386 versions of each library match."
  if as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_OPTS[@]}" install -y -qq --no-install-recommends -t "$suite" "$@" 2>"$log"; then
    say "installed from \"$suite\"; the newer versions of the other suites come with a later apt-get upgrade, once the mirror is whole."
    rm -f "$log"
    return 0
  fi
  say "that failed too:"
  grep -E '^(E:| [^ ].*:)' "$log" | head -n 12 | sed 's/^/  /' >&2
  rm -f "$log"
  if [ -n "$FAILED_INDEXES" ]; then
    say "the package mirror did not give these indexes (likely in the middle of a sync):"
    sed 's/^/  /' <<<"$FAILED_INDEXES" >&2
  fi
  say "nothing was installed. Run the same command again later, when the mirror is whole."
  return 1
}

setup_main() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
    updated=0
  fi

  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    apt_update
    install_packages "${missing[@]}" || exit 1
  fi

  # Wine draws Chinese text, and gives Chinese names to Linux files, only under
  # a Chinese locale whose character set the C library knows.
  if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    as_root sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi

  # minizip is not packaged for MinGW; its sources come with Debian's zlib source package.
  local src_list=/etc/apt/sources.list.d/velmora-deb-src.sources
  if ! ls "$DEPS_DIR"/zlib-*/contrib/minizip/unzip.c >/dev/null 2>&1; then
    if [ ! -f "$src_list" ]; then
      as_root tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
      updated=0
    fi
    apt_update
    as_root mkdir -p "$DEPS_DIR"
    if ! (cd "$DEPS_DIR" && as_root apt-get source -qq zlib >/dev/null); then
      say "could not fetch zlib's sources (for minizip) from the package mirror."
      [ -z "$FAILED_INDEXES" ] || { say "indexes not fetched:"; sed 's/^/  /' <<<"$FAILED_INDEXES" >&2; }
      say "Run the same command again later."
      exit 1
    fi
  fi
  ls -d "$DEPS_DIR"/zlib-*/contrib/minizip | head -n 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  setup_main
fi
