#!/usr/bin/env bash
# Installs what is missing, builds Velmora and runs it under Wine. With a
# display it simply starts the program. Without one it shows the main job on
# a virtual display: a demo game folder whose path holds 英雄联盟, a theme
# installed through the real window, what landed in its Game folder, and
# screenshots of each step (with a theme's preview pop-up, and the tray menu
# after a game patch changed one of the installed files).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export BUILD=$ROOT/build-run
DEMO=$BUILD/demo
SHOTS=$BUILD/screenshots

if [ "${1:-}" = --on-display ]; then
  source "$ROOT/tools/wine-env.sh"
  prepare_wine_prefix
  game="$DEMO/Games/英雄联盟"
  rm -rf "$DEMO" && mkdir -p "$game/Game" "$SHOTS"
  # A copy of the program, so that its path file stays out of the build.
  cp "$BUILD/app/Velmora.exe" "$DEMO/"
  printf '%s' "Z:${game//\//\\}" | iconv -f UTF-8 -t GBK > "$DEMO/游戏地址.txt"
  LC_ALL=zh_CN.UTF-8 wine "$BUILD/tests/velmora_demo.exe" "Z:${DEMO//\//\\}\\Velmora.exe" \
    "Z:${SHOTS//\//\\}" > "$DEMO/demo.log" 2>&1 || { cat "$DEMO/demo.log"; exit 1; }
  wineserver -k || true
  for shot in "$SHOTS"/[0-9]-*.bmp; do convert "$shot" "${shot%.bmp}.png" && rm -f "$shot"; done
  echo "Installed into $game/Game:"
  (cd "$game/Game" && find . -type f | sort | head -n 12 && echo "... $(find . -type f | wc -l) files, $(du -sh . | cut -f1)")
  ls "$SHOTS"/[0-9]-*.png | sed 's/^/screenshot: /'
  exit 0
fi

bash "$ROOT/tools/setup.sh" >/dev/null
# Sourced after the set-up, which brings 32-bit Wine: the 32-bit program,
# unless this kernel runs no 32-bit programs.
source "$ROOT/tools/wine-env.sh"
configure_and_build >/dev/null
if [ -n "${DISPLAY:-}" ]; then
  prepare_wine_prefix
  exec wine "$BUILD/app/Velmora.exe"
fi
xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --on-display
