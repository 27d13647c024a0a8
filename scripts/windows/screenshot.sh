#!/usr/bin/env bash
# Starts a Windows program under Wine on a virtual display of its own and saves a picture of the
# screen once the window had time to draw; the program is ended afterwards.
#   scripts/windows/screenshot.sh PROGRAM.exe OUT.png [SECONDS]
set -euo pipefail
source "$(dirname "$0")/env.sh"
exe=$1 out=$2 wait_seconds=${3:-20}
win_prepare_prefix

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
sleep 2
DISPLAY=$display wine "$exe" >/dev/null 2>&1 &
app=$!
sleep "$wait_seconds"
mkdir -p "$(dirname "$out")"
xwd -root -silent -display "$display" | xwdtopnm 2>/dev/null | pnmtopng >"$out"
# The program ends with its Wine session.
DISPLAY=$display wineserver -k 2>/dev/null || true
wait "$app" 2>/dev/null || true
[ -s "$out" ]
