#!/usr/bin/env bash
# Brings a Debian bookworm machine to a working cross build: MinGW for 32-bit
# and 64-bit Windows, zlib and minizip for the target, 32-bit and 64-bit Wine,
# a virtual display and a CJK font.
# Safe to run again: it only installs what is missing.
set -euo pipefail

DEPS_DIR=${VELMORA_DEPS:-/var/cache/velmora}
PACKAGES=(
  cmake make gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
  wine wine32:i386 wine64 xvfb xauth fonts-wqy-zenhei imagemagick
  googletest zip python3 python3-cryptography dpkg-dev locales
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

updated=0
apt_update() { [ "$updated" = 1 ] || { as_root apt-get update -qq; updated=1; }; }

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  apt_update
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt_update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine draws Chinese text, and gives Chinese names to Linux files, only under
# a Chinese locale whose character set the C library knows.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  as_root sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

# minizip is not packaged for MinGW; its sources come with Debian's zlib source package.
SRC_LIST=/etc/apt/sources.list.d/velmora-deb-src.sources
if ! ls "$DEPS_DIR"/zlib-*/contrib/minizip/unzip.c >/dev/null 2>&1; then
  if [ ! -f "$SRC_LIST" ]; then
    as_root tee "$SRC_LIST" >/dev/null <<'SRC'
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
  (cd "$DEPS_DIR" && as_root apt-get source -qq zlib >/dev/null)
fi
ls -d "$DEPS_DIR"/zlib-*/contrib/minizip | head -n 1
