#!/usr/bin/env bash
# Every suite starts thousands of Wine processes: one that cannot start fails
# a suite with code 1 and no output. A start fails when the loader's heap
# covers the page Windows keeps its shared user data in (0x7FFE0000), so a
# freshly started Wine process must have its heap wholly below that page.
# Several starts, since the heap's place can change from one to the next.
set -eu
dir=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null; rm -rf "$dir"' EXIT
fail=0
for start in 1 2 3 4 5; do
  # find.exe reads its input until it ends: the process lives while we look.
  mkfifo "$dir/input"
  wine find x <"$dir/input" >/dev/null 2>&1 &
  pid=$!
  exec 3>"$dir/input"
  # The shared page is mapped early in the start; the heap is there by then.
  for _ in $(seq 1 200); do
    grep -q '^7ffe0000-' "/proc/$pid/maps" 2>/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  heap=$(grep '\[heap\]' "/proc/$pid/maps" 2>/dev/null | head -n 1 | cut -d' ' -f1 || true)
  shared=$(grep -c '^7ffe0000-' "/proc/$pid/maps" 2>/dev/null || true)
  exec 3>&-
  rc=0; wait "$pid" || rc=$?
  rm -f "$dir/input"
  end=${heap#*-}
  if [ "${shared:-0}" = 0 ]; then
    echo "start $start: the shared user data page was never mapped (the process ended with $rc)"; fail=1
  elif [ -n "$heap" ] && [ $((16#$end)) -gt $((16#7ffe0000)) ]; then
    echo "start $start: the heap $heap lies over the shared user data page or above it"; fail=1
  else
    echo "start $start: heap ${heap:-none}, shared user data page mapped"
  fi
done
exit $fail
