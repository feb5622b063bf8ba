#!/usr/bin/env bash
# The editor starts in a real X server and shows its main window with its caption and size.
source "$(dirname "$0")/lib.sh"

start_x
start_app
window=$(wait_window '^Movaro Gif$|Movaro Gif$')
sleep 0.5
screenshot 01-started

title=$(xdotool getwindowname "$window")
case "$title" in
    *"Movaro Gif") ;;
    *) fail "unexpected title '$title'" ;;
esac
read -r width height < <(xdotool getwindowgeometry --shell "$window" | awk -F= '/WIDTH/ {w=$2} /HEIGHT/ {h=$2} END {print w, h}')
[ "$width" -ge 817 ] && [ "$height" -ge 658 ] || fail "window is ${width}x${height}, expected at least 817x658"
echo "window '$title' ${width}x${height}"
