#!/usr/bin/env bash
# A user session with undo and redo from the keyboard: delete the first frame, move the new first
# frame forward, Ctrl+Z twice (the file's order is back), Ctrl+Y (the deletion again), save with
# Ctrl+S, quit; movaro-gif-cli then checks the saved frames against the original ones.
source "$(dirname "$0")/lib.sh"

: "${MOVARO_CORPUS_DIR:?}"
source_gif="$MOVARO_CORPUS_DIR/giflib/pic/welcome2.gif"
[ -f "$source_gif" ] || { echo "corpus missing: skipped"; exit 0; }

work="$E2E_OUT/work"
mkdir -p "$work"
cp "$source_gif" "$work/anim.gif"
frames_before=$(frame_count "$work/anim.gif")
[ "$frames_before" -ge 3 ] || fail "the sample should be animated"

start_x
start_app "$work/anim.gif"
window=$(wait_window 'anim\.gif - Movaro Gif')
sleep 1
press() {
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key "$@"
    sleep 0.4
}
screenshot 01-opened

press Delete
wait_window "^Confirmation$" >/dev/null
sleep 0.3
xdotool key Return
sleep 0.5
press ctrl+alt+v
screenshot 02-deleted-and-moved
press alt+e
screenshot 03-edit-menu
xdotool key Escape
sleep 0.2
xdotool key Escape # and the menu bar lets go of the keyboard
sleep 0.3
press ctrl+z
press ctrl+z
screenshot 04-undone
press ctrl+y
screenshot 05-redone
press ctrl+s
screenshot 06-saved
quit_from_menu xdotool key --window "$window"

# Each frame's pixels by their signature. Saving stores this sample's frames with other colour
# values, so the frames are compared by pattern: the saved order must be the file's less its first.
identify -format '%#\n' "$source_gif" >"$E2E_OUT/before.txt"
identify -format '%#\n' "$work/anim.gif" >"$E2E_OUT/after.txt"
python3 - "$E2E_OUT/before.txt" "$E2E_OUT/after.txt" <<'PY' || fail "the saved frames are not the file's frames less the first"
import sys
pattern = lambda xs: [xs.index(x) for x in xs]
before = open(sys.argv[1]).read().split()
after = open(sys.argv[2]).read().split()
assert pattern(after) == pattern(before[1:]), (pattern(before), pattern(after))
PY
echo "saved $((frames_before - 1)) frames in the file's order"
