#!/usr/bin/env bash
# Builds the release: the 32-bit Velmora.exe with the maker's values (the
# CMake defaults, or -D options given here, such as
# -DVELMORA_PACKS_SOURCE=/path/to/packs), in build-release/ (or the folder
# VELMORA_RELEASE_BUILD names), and prints its path, size and SHA-256. The
# same sources always give the same bytes. When the build fails, it shows
# why (a damaged pack, say) and exits with 1.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VELMORA_RELEASE_BUILD:-$ROOT/build-release}
bash "$ROOT/tools/setup.sh" >/dev/null
minizip=$(ls -d "${VELMORA_DEPS:-/var/cache/velmora}"/zlib-*/contrib/minizip | head -n 1)
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_WIN64_TEST_BUILD=OFF -DMINIZIP_SOURCE_DIR="$minizip" "$@" >/dev/null
log=$(mktemp)
if ! cmake --build "$BUILD" -j"$(nproc)" --target Velmora >"$log" 2>&1; then
  # The build's own words, without its progress lines.
  grep -v -E '^\[ *[0-9]+%\]|^g?make\[[0-9]+\]: (Entering|Leaving) directory' "$log" >&2 || true
  rm -f "$log"
  echo "The release was not built." >&2
  exit 1
fi
rm -f "$log"
exe="$BUILD/app/Velmora.exe"
echo "path:    $exe"
echo "size:    $(stat -c %s "$exe") bytes"
echo "sha256:  $(sha256sum "$exe" | cut -d' ' -f1)"
