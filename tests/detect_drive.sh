#!/usr/bin/env bash
# Runs the detection suite with D: of the Wine prefix mapped to a folder of
# its own (a fixed drive, as Wine reports a mapped folder), taken away after.
# usage: detect_drive.sh FOLDER PROGRAM [ARGS...]
set -u
folder=$1
shift
drive="${WINEPREFIX:?}/dosdevices/d:"
if [ -e "$drive" ] || [ -L "$drive" ]; then
  if [ "$(readlink "$drive")" != "$folder" ]; then
    echo "D: of the prefix is taken ($(readlink "$drive")): the suite needs one of its own"
    exit 1
  fi
fi
# Wine's mount manager reads the drives when the server starts: the shell's
# folder browser shows D: only when it came before the server. Restarted
# around the suite, persistent as tools/wine-env.sh keeps it.
restart_server() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  wineserver -p 2>/dev/null || true
}
rm -rf "$folder" && mkdir -p "$folder"
ln -sfn "$folder" "$drive"
restart_server
"$(dirname "$0")/../tools/wine-run.sh" "$@"
rc=$?
rm -f "$drive"
restart_server
rm -rf "$folder"
exit $rc
