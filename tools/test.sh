#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch and runs every test
# under Wine on a virtual display: the 32-bit build's suites in build/, then
# the 64-bit build's in build64/, so that a fault of either shows on any
# machine. VELMORA_TEST_ARCHES chooses fewer: "64" (what a machine that runs
# no 32-bit programs does anyway) or "32".
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = --on-display ]; then
  source "$ROOT/tools/wine-env.sh"
  prepare_wine_prefix
  rc=0
  ctest --test-dir "$BUILD" --output-on-failure --timeout 300 ${VELMORA_SKIP_TESTS:+-E "$VELMORA_SKIP_TESTS"} || rc=$?
  # The benchmark's figures (CTest keeps the output of passing tests to itself).
  grep -h '^entry ' "$BUILD/Testing/Temporary/LastTest.log" 2>/dev/null | sed 's/^/benchmark: /' || true
  wineserver -k || true
  # The end-to-end tests save what the screen showed; PNG is easier to look at.
  for shot in "$BUILD"/screenshots/*.bmp; do
    [ -e "$shot" ] && convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"
  done
  ls "$BUILD"/screenshots/*.png 2>/dev/null | sed 's/^/screenshot: /' || true
  exit $rc
fi

bash "$ROOT/tools/setup.sh" >/dev/null
source "$ROOT/tools/wine-env.sh"  # for runs_32bit_programs (it only sets variables)
if [ -n "${VELMORA_TEST_ARCHES:-}" ]; then
  arches=$VELMORA_TEST_ARCHES
elif runs_32bit_programs; then
  arches="32 64"
else
  arches=64
fi
for arch in $arches; do
  case $arch in
    32) runs_32bit_programs || { echo "This kernel runs no 32-bit programs: the 32-bit build cannot be tested here." >&2; exit 1; } ;;
    64) ;;
    *) echo "VELMORA_TEST_ARCHES: \"$arches\" is not a list of 32 and 64" >&2; exit 1 ;;
  esac
done

rc=0
skip=""
for arch in $arches; do
  folder=build; [ "$arch" = 64 ] && folder=build64
  echo "== the $arch-bit build, in $folder/"
  rm -rf "${ROOT:?}/$folder"
  (
    export VELMORA_ARCH=$arch BUILD=$ROOT/$folder VELMORA_SKIP_TESTS=$skip
    source "$ROOT/tools/wine-env.sh"
    # The announcement pages of the test build are served by the tests themselves.
    configure_and_build -DVELMORA_NOTES_URL=http://127.0.0.1:18931/page/notes.htm \
      -DVELMORA_VERSION_URL=http://127.0.0.1:18931/page/version.htm -DVELMORA_TEST_UPDATE_PORT=18931
    xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display
  ) || rc=1
  # The release is always the 32-bit program: building it twice once is enough.
  skip='^reproducible_release$'
done
exit $rc
