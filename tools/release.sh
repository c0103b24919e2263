#!/usr/bin/env bash
# Builds the release: the 32-bit Velmora.exe with the maker's values (the
# CMake defaults, or -D options given here, such as
# -DVELMORA_PACKS_SOURCE=/path/to/packs), in build-release/, and prints its
# path, size and SHA-256. The same sources always give the same bytes.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
bash "$ROOT/tools/setup.sh" >/dev/null
minizip=$(ls -d "${VELMORA_DEPS:-/var/cache/velmora}"/zlib-*/contrib/minizip | head -n 1)
cmake -S "$ROOT" -B "$ROOT/build-release" -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVELMORA_WIN64_TEST_BUILD=OFF -DMINIZIP_SOURCE_DIR="$minizip" "$@" >/dev/null
cmake --build "$ROOT/build-release" -j"$(nproc)" --target Velmora >/dev/null
exe="$ROOT/build-release/app/Velmora.exe"
echo "path:    $exe"
echo "size:    $(stat -c %s "$exe") bytes"
echo "sha256:  $(sha256sum "$exe" | cut -d' ' -f1)"
