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
rm -rf "$folder" && mkdir -p "$folder"
ln -sfn "$folder" "$drive"
# The server caches the drives: a new one is seen by processes started after this.
"$(dirname "$0")/../tools/wine-run.sh" "$@"
rc=$?
rm -f "$drive"
rm -rf "$folder"
exit $rc
