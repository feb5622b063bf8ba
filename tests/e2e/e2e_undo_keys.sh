#!/usr/bin/env bash
# A user session with undo and redo from the keyboard: delete the first frame, move the new first
# frame forward, Ctrl+Z twice (the file's order is back), Ctrl+Y (the deletion again), save with
# Ctrl+S, quit; movaro-gif-cli then checks the saved frames against the original ones.
source "$(dirname "$0")/lib.sh"

open_animated_sample
press_and_wait() {
    press "$@"
    sleep 0.4
}
screenshot 01-opened

press_and_wait Delete
wait_window "^Confirmation$" >/dev/null
sleep 0.3
xdotool key Return
sleep 0.5
press_and_wait ctrl+alt+v
screenshot 02-deleted-and-moved
press_and_wait alt+e
screenshot 03-edit-menu
xdotool key Escape
sleep 0.2
xdotool key Escape # and the menu bar lets go of the keyboard
sleep 0.3
press_and_wait ctrl+z
press_and_wait ctrl+z
screenshot 04-undone
press_and_wait ctrl+y
screenshot 05-redone
press_and_wait ctrl+s
screenshot 06-saved
quit_from_menu xdotool key --window "$window"

# Each frame's pixels by their signature. Saving stores this sample's frames with other colour
# values, so the frames are compared by pattern: the saved order must be the file's less its first.
identify -format '%#\n' "$sample" >"$E2E_OUT/before.txt"
identify -format '%#\n' "$work/anim.gif" >"$E2E_OUT/after.txt"
python3 - "$E2E_OUT/before.txt" "$E2E_OUT/after.txt" <<'PY' || fail "the saved frames are not the file's frames less the first"
import sys
pattern = lambda xs: [xs.index(x) for x in xs]
before = open(sys.argv[1]).read().split()
after = open(sys.argv[2]).read().split()
assert pattern(after) == pattern(before[1:]), (pattern(before), pattern(after))
PY
echo "saved $((frames_before - 1)) frames in the file's order"
