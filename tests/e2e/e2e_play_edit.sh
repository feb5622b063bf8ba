#!/usr/bin/env bash
# A user session with an animated GIF: play it (the view changes while it plays), stop, step to
# the next frame, delete a frame after its confirmation, save with Ctrl+S, quit; the saved file
# is then checked with movaro-gif-cli.
source "$(dirname "$0")/lib.sh"

open_animated_sample
screenshot 01-opened

# Play from the Control menu and watch the view change.
press alt+c
sleep 0.3
xdotool key j
sleep 0.4
screenshot 02-playing-a
sleep 1.5 # this sample shows each frame for a second (1.2 s at the editor's pace)
screenshot 03-playing-b
# The view area: below the menu and tool bars, left of the side column.
eval "$(xdotool getwindowgeometry --shell "$window")"
view="560x300+$((X + 20))+$((Y + 70))"
convert "$E2E_OUT/02-playing-a.png" -crop "$view" "$E2E_OUT/view-a.png"
convert "$E2E_OUT/03-playing-b.png" -crop "$view" "$E2E_OUT/view-b.png"
diff=$(compare -metric AE "$E2E_OUT/view-a.png" "$E2E_OUT/view-b.png" null: 2>&1 || true)
[ "${diff%% *}" != "0" ] || fail "the view did not change while playing"

# Stop, then step to the next frame.
press alt+c
sleep 0.3
xdotool key a
sleep 0.3
press alt+c
sleep 0.3
xdotool key s
sleep 0.3
screenshot 04-stepped

# Delete the selected frame: the confirmation is answered Yes.
press Delete
wait_window "^Confirmation$" >/dev/null
sleep 0.3
screenshot 05-confirm-delete
xdotool key Return
sleep 0.5
screenshot 06-deleted
press ctrl+s
sleep 1
quit_from_menu press

info=$("$MOVARO_BIN/movaro-gif-cli" info "$work/anim.gif")
echo "$info" >"$E2E_OUT/info.json"
frames_after=$(frame_count "$work/anim.gif")
[ "$frames_after" -eq $((frames_before - 1)) ] || fail "expected $((frames_before - 1)) frames, found $frames_after"
echo "$info" | grep -q '"frames":\[{[^]]*"extensions":\[{"kind":"loop"' || fail "looping extension not first in frame 0"
echo "played, stepped, deleted and saved: $frames_after frames"
