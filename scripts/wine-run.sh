#!/bin/sh
# Runs a Windows program under Wine for CTest (its CMAKE_CROSSCOMPILING_EMULATOR). The output goes through a file:
# the background services Wine starts along with a program (its desktop among them) keep that program's standard
# output open, and CTest would wait for them to end.
out=$(mktemp)
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
