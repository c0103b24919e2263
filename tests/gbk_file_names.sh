#!/usr/bin/env bash
# Files that the program names in GBK must carry the same Chinese names on the
# Linux side of the Wine drive, with Wine in an English locale.
set -eu
exe=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
LC_ALL=C.UTF-8 VELMORA_NAME_DIR="Z:${dir//\//\\}" "$(dirname "$0")/../tools/wine-run.sh" "$exe" --gtest_filter='GbkNames.*'
fail=0
check() { if [ -e "$1" ]; then echo "found: $1"; else echo "MISSING: $1"; fail=1; fi; }
check "$dir/游戏地址.txt"
check "$dir/英雄联盟/界面.ini"
if [ "$(cat "$dir/游戏地址.txt" | iconv -f GBK -t UTF-8)" != 'D:\英雄联盟' ]; then
  echo "path file does not hold the GBK bytes of the path"; fail=1
fi
ls -R "$dir"
exit $fail
