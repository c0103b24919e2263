# Sourced by run.sh and test.sh: one build of one architecture, with its own
# Wine prefix, set up once, with a virtual desktop (frames, a taskbar and a
# tray; and no two-second wait on every window that closes, which plain Xvfb
# without a window manager costs).
# VELMORA_ARCH chooses the build: 32 (the program we ship) or 64 (the same
# sources for 64-bit Windows, for the tests). By default 32 where this
# machine runs 32-bit programs, else 64. BUILD is the build folder: the
# tests' by default; the run command keeps its own, built with the maker's
# announcement pages instead of the tests' server.

# A kernel booted without 32-bit Linux programs cannot start 32-bit Wine.
runs_32bit_programs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

if [ -z "${VELMORA_ARCH:-}" ]; then
  if runs_32bit_programs; then VELMORA_ARCH=32; else VELMORA_ARCH=64; fi
fi
export VELMORA_ARCH
BUILD=${BUILD:-$ROOT/build}
export WINEPREFIX=${VELMORA_WINEPREFIX:-$BUILD/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer prompts, no sound device to wait for, and no
# debugger that would sit on a crashed test until its time-out.
export WINEDLLOVERRIDES="mscoree,mshtml=;winealsa.drv,winepulse.drv,wineoss.drv=d;winedbg.exe=d"
if [ "$VELMORA_ARCH" = 32 ]; then
  export WINEARCH=win32 VELMORA_TOOLCHAIN=mingw-i686.cmake VELMORA_WIN64=OFF
else
  export WINEARCH=win64 VELMORA_TOOLCHAIN=mingw-x86_64.cmake VELMORA_WIN64=ON
  # Debian's wine and wine-stable pick the 32-bit loader whenever it is installed.
  # (prepare_wine_prefix writes the two shims that take it into the PATH.)
  export WINELOADER=/usr/lib/wine/wine64
  export PATH="$BUILD/wine64-bin:$PATH"
fi

# Debian's 64-bit Wine has no preloader to hold the low 2 GB for Windows: the
# kernel puts the loader's heap anywhere in the gigabyte above it, and about
# one start in several thousand finds it over the shared user data page at
# 0x7FFE0000 and ends with code 1 before the program runs ("failed to map
# the shared user data", shown only with err messages on). Without address
# randomization the heap starts right after the loader, far below that
# page. The setting passes to every process Wine starts from there.
no_randomization() {
  if setarch "$(uname -m)" -R true 2>/dev/null; then echo "setarch $(uname -m) -R"; fi
}

prepare_wine_prefix() {
  if [ "$VELMORA_ARCH" = 64 ]; then
    mkdir -p "$BUILD/wine64-bin"
    for shim in wine wine-stable; do
      printf '#!/bin/sh\nexec %s /usr/lib/wine/wine64 "$@"\n' "$(no_randomization)" > "$BUILD/wine64-bin/$shim"
      chmod +x "$BUILD/wine64-bin/$shim"
    done
  fi
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
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/tools/$VELMORA_TOOLCHAIN" \
    -DVELMORA_WIN64_TEST_BUILD=$VELMORA_WIN64 -DMINIZIP_SOURCE_DIR="$minizip" "$@" >/dev/null
  cmake --build "$BUILD" -j"$(nproc)"
}
