#!/usr/bin/env bash
# A user session with the mouse: the second thumbnail is dragged onto the fourth, the file saved
# with Ctrl+S; movaro-gif-cli then finds the frames in their new order (told apart by their delays).
source "$(dirname "$0")/lib.sh"

work="$E2E_OUT/work"
mkdir -p "$work"
convert -size 40x30 -delay 10 xc:red -delay 20 xc:green -delay 30 xc:blue -delay 40 xc:yellow \
    -loop 0 "$work/ordre.gif"

delays() {
    "$MOVARO_BIN/movaro-gif-cli" info "$1" | python3 -c '
import json, sys
frames = json.load(sys.stdin)["frames"]
print(" ".join(str(e["delay"]) for f in frames for e in f["extensions"] if e["kind"] == "graphic-control"))'
}
[ "$(delays "$work/ordre.gif")" = "10 20 30 40" ] || fail "the sample is not as made: $(delays "$work/ordre.gif")"

start_x
start_app "$work/ordre.gif"
window=$(wait_window 'ordre\.gif - Movaro Gif')
sleep 1
screenshot 01-opened

eval "$(xdotool getwindowgeometry --shell "$window")" # X, Y: the window's place on the screen
echo "window at $X,$Y size ${WIDTH}x$HEIGHT"
# Thumbnail slots are 126 pixels apart; the second one's middle is at (251, 562) in the window.
from_x=$((X + 251)) to_x=$((X + 251 + 2 * 126)) row=$((Y + 562))
xdotool mousemove --sync "$from_x" "$row"
sleep 0.3
xdotool mousedown 1
sleep 0.3
for x in $(seq $((from_x + 10)) 30 "$to_x") "$to_x"; do
    xdotool mousemove --sync "$x" "$row"
    sleep 0.1
done
sleep 0.3
screenshot 02-dragging
xdotool mouseup 1
sleep 0.8
screenshot 03-dropped

xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key ctrl+s
sleep 1
screenshot 04-saved
quit_from_menu xdotool key --window "$window"

order=$(delays "$work/ordre.gif")
[ "$order" = "10 30 40 20" ] || fail "the saved frames are in the order $order"
echo "saved in the order $order"
