#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest. The program's output goes
# through a file: Wine's helper processes (the desktop, services) inherit the
# output handles and outlive the program, and a pipe held by them would keep
# CTest waiting until its time-out.
set -u
out=$(mktemp)
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
