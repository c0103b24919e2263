#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch and runs every test
# under Wine on a virtual display.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=$ROOT/build
source "$ROOT/tools/wine-env.sh"

if [ "${1:-}" = --on-display ]; then
  prepare_wine_prefix
  rc=0
  ctest --test-dir "$ROOT/build" --output-on-failure --timeout 300 || rc=$?
  # The benchmark's figures (CTest keeps the output of passing tests to itself).
  grep -h '^entry ' "$ROOT/build/Testing/Temporary/LastTest.log" 2>/dev/null | sed 's/^/benchmark: /' || true
  wineserver -k || true
  # The end-to-end tests save what the screen showed; PNG is easier to look at.
  for shot in "$ROOT"/build/screenshots/*.bmp; do
    [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  done
  ls "$ROOT"/build/screenshots/*.png 2>/dev/null | sed 's/^/screenshot: /' || true
  exit $rc
fi

bash "$ROOT/tools/setup.sh" >/dev/null
rm -rf "$ROOT/build"
source "$ROOT/tools/wine-env.sh"  # again: setup may have brought 64-bit Wine
if [ "$VELMORA_WIN64" = ON ]; then
  echo "This kernel runs no 32-bit programs: the tests run a 64-bit build under 64-bit Wine," \
       "without the loader's and the skin library's tests on our 32-bit DLLs."
fi
# The announcement pages of the test build are served by the tests themselves.
configure_and_build -DVELMORA_NOTES_URL=http://127.0.0.1:18931/page/notes.htm \
  -DVELMORA_VERSION_URL=http://127.0.0.1:18931/page/version.htm -DVELMORA_TEST_UPDATE_PORT=18931
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display
