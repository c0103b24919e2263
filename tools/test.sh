#!/usr/bin/env bash
# Installs what is missing, builds everything from scratch and runs every test
# under Wine on a virtual display: the 32-bit build's suites in build/ and
# the 64-bit build's in build64/, so that a fault of either shows on any
# machine. VELMORA_TEST_ARCHES chooses fewer: "64" (what a machine that runs
# no 32-bit programs does anyway) or "32".
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = --on-display ]; then
  source "$ROOT/tools/wine-env.sh"
  prepare_wine_prefix
  rc=0
  # A suite that hangs ends here, long before CI's own limit.
  ctest --test-dir "$BUILD" --output-on-failure --timeout 900 ${VELMORA_SKIP_TESTS:+-E "$VELMORA_SKIP_TESTS"} || rc=$?
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

# One build of one architecture in its own folder, and its tests on a display
# of its own, with a port of its own for the announcement server, so that the
# two builds' tests can run side by side.
folder_of() { if [ "$1" = 64 ]; then echo build64; else echo build; fi; }
build_arch() {
  local folder port=$((18900 + $1))
  folder=$(folder_of "$1")
  rm -rf "${ROOT:?}/$folder"
  (
    export VELMORA_ARCH=$1 BUILD=$ROOT/$folder
    source "$ROOT/tools/wine-env.sh"
    # The announcement pages of the test build are served by the tests themselves.
    configure_and_build -DVELMORA_NOTES_URL=http://127.0.0.1:$port/page/notes.htm \
      -DVELMORA_VERSION_URL=http://127.0.0.1:$port/page/version.htm -DVELMORA_TEST_UPDATE_PORT=$port
  )
}
test_arch() {  # ARCH SKIP
  (
    export VELMORA_ARCH=$1 BUILD=$ROOT/$(folder_of "$1") VELMORA_SKIP_TESTS=$2
    source "$ROOT/tools/wine-env.sh"
    xvfb-run -a -n $((100 + $1)) -s "-screen 0 1024x768x24" bash "$0" --on-display
  )
}

rc=0
if [ "$arches" = "32 64" ] || [ "$arches" = "64 32" ]; then
  # Most of a test's time goes on waiting for windows and processes, not on a
  # core: the 32-bit build's tests run while the 64-bit build is built and
  # tested. The release is always the 32-bit program, built by its own test
  # twice; that runs once, beside the 64-bit build's tests.
  echo "== the 32-bit build, in build/, and the 64-bit build, in build64/, tested side by side"
  build_arch 32
  test_arch 32 '^reproducible_release$' >"$ROOT/build/test-output.log" 2>&1 &
  tests32=$!
  { build_arch 64 && test_arch 64 "" >"$ROOT/build64/test-output.log" 2>&1; } || rc=1
  wait $tests32 || rc=1
  for folder in build build64; do
    echo "== the tests of $folder/"
    cat "$ROOT/$folder/test-output.log" 2>/dev/null || true
  done
else
  for arch in $arches; do
    echo "== the $arch-bit build, in $(folder_of "$arch")/"
    { build_arch "$arch" && test_arch "$arch" ""; } || rc=1
  done
fi
[ $rc = 0 ] && echo "== every suite passed" || echo "== some suite failed: see above"
exit $rc
