#!/usr/bin/env bash
# Two files on the command line, as a file manager's "Open with" passes them: two main windows,
# each with its own document and title; a frame deleted and saved in each lands in its own file,
# closing one leaves the other open, and both files are promoted in the recent list.
source "$(dirname "$0")/lib.sh"

work="$E2E_OUT/work"
mkdir -p "$work"
for c in red green blue white; do convert -size 30x20 "xc:$c" "$work/$c.png"; done
"$MOVARO_BIN/movaro-gif-cli" make -o "$work/trois.gif" "$work/red.png" "$work/green.png" "$work/blue.png"
"$MOVARO_BIN/movaro-gif-cli" make -o "$work/quatre.gif" "$work/red.png" "$work/green.png" "$work/blue.png" "$work/white.png"

start_x
start_app "$work/trois.gif" "$work/quatre.gif"
first=$(wait_window '^trois\.gif - Movaro Gif$')
second=$(wait_window '^quatre\.gif - Movaro Gif$')
second_pid=$(xdotool getwindowpid "$second")
trap 'kill "$second_pid" 2>/dev/null || true; stop_all' EXIT
[ "$second_pid" != "$APP_PID" ] || fail "both windows belong to one process"
# Both open centred; side by side they can be seen and each raised for its keys (no window manager).
xdotool windowmove "$first" 0 0
xdotool windowmove "$second" 460 360
sleep 0.5
screenshot 01-two-windows

# Keys to one window: raised and focused first.
press_in() {
    local window=$1
    shift
    xdotool windowraise "$window"
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key "$@"
}

# In each window: delete the selected frame (answering Yes) and save with Ctrl+S.
delete_and_save() {
    press_in "$1" Delete
    wait_window "^Confirmation$" >/dev/null
    sleep 0.3
    xdotool key Return
    sleep 0.5
    press_in "$1" ctrl+s
    sleep 1
}
delete_and_save "$first"
delete_and_save "$second"
screenshot 02-saved

[ "$(frame_count "$work/trois.gif")" -eq 2 ] || fail "trois.gif: $(frame_count "$work/trois.gif") frames, expected 2"
[ "$(frame_count "$work/quatre.gif")" -eq 3 ] || fail "quatre.gif: $(frame_count "$work/quatre.gif") frames, expected 3"

# Closing the first window leaves the second one open.
quit_from_menu press_in "$first"
kill -0 "$second_pid" 2>/dev/null || fail "closing one window ended the other"
xdotool search --onlyvisible --name '^quatre\.gif - Movaro Gif$' >/dev/null || fail "the second window is gone"
APP_PID=$second_pid
quit_from_menu press_in "$second"

recent=$(grep -h 'Recent.F[1-4]=' "$XDG_CONFIG_HOME/Movaro Gif/Movaro Gif.ini" || true)
grep -q 'trois\.gif' <<<"$recent" && grep -q 'quatre\.gif' <<<"$recent" || fail "recent files: $recent"
echo "two windows, two saved files; recent: $(tr '\n' ' ' <<<"$recent")"
