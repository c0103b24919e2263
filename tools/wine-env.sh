# Sourced by run.sh and test.sh: one Wine prefix for the build, set up once,
# with a virtual desktop (frames, a taskbar and a tray; and no two-second wait
# on every window that closes, which plain Xvfb without a window manager costs).
# The build folder: the tests' by default; the run command keeps its own,
# built with the maker's announcement pages instead of the tests' server.
BUILD=${BUILD:-$ROOT/build}
export WINEPREFIX=${VELMORA_WINEPREFIX:-$BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts, no sound device to wait for, and no
# debugger that would sit on a crashed test until its time-out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d;winedbg.exe=d"
export WINEARCH=win32

prepare_wine_prefix() {
  if [ ! -f "$WINEPREFIX/.velmora-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wine regedit /S "$ROOT/tools/wine-desktop.reg" >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.velmora-ready"
  fi
  # A persistent server: each Wine process then starts in a few tens of milliseconds.
  wineserver -p 2>/dev/null || true  # already running: keep it
}

configure_and_build() {
  local minizip
  minizip=$(ls -d "${VELMORA_DEPS:-/var/cache/velmora}"/zlib-*/contrib/minizip | head -n 1)
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/mingw-i686.cmake" \
    -DMINIZIP_SOURCE_DIR="$minizip" "$@" >/dev/null
  cmake --build "$BUILD" -j"$(nproc)"
}
