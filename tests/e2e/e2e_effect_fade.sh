#!/usr/bin/env bash
# A transition made with the mouse and the keyboard: a three-frame animation opened from the command
# line, its second thumbnail clicked, E&ffets > Fondu with the dialog's initial settings (0.8 s at 10
# images a second: 9 frames), OK, Ctrl+S; movaro-gif-cli then finds 12 frames, the 9 new ones of
# delay 0 just before the formerly selected frame.
source "$(dirname "$0")/lib.sh"

: "${MOVARO_CORPUS_DIR:?}"
suite="$MOVARO_CORPUS_DIR/pngsuite/tests/pngsuite"
pictures=("$suite/basn2c08.png" "$suite/basn3p08.png" "$suite/basn6a08.png")
for p in "${pictures[@]}"; do [ -f "$p" ] || { echo "corpus missing: skipped"; exit 0; }; done

work="$E2E_OUT/work"
mkdir -p "$work"
"$MOVARO_BIN/movaro-gif-cli" --quiet make -o "$work/trois.gif" "${pictures[@]}"
[ "$(frame_count "$work/trois.gif")" -eq 3 ] || fail "the fixture does not hold three frames"

start_x
start_app "$work/trois.gif"
window=$(wait_window '^trois\.gif - Movaro Gif$')
sleep 1
screenshot 01-opened

# Places in the window at its start-up size (817 x 658): the second thumbnail of the strip and the
# "Effets" title of the menu bar.
xdotool mousemove --window "$window" 316 562 click 1
sleep 0.5
screenshot 02-second-selected
xdotool mousemove --window "$window" 325 8 click 1
sleep 0.5
screenshot 03-effects-menu
xdotool key Down Down Down Down Return # Défilement, Remplacement, Essuyage, Fondu
dialog=$(wait_window '^Effet Fondu$')
sleep 0.5
screenshot 04-fade-dialog
xdotool key Return # the focus is on OK
for _ in $(seq 1 100); do
    xdotool search --onlyvisible --name '^Effet Fondu$' >/dev/null 2>&1 || break
    sleep 0.1
done
sleep 1
screenshot 05-generated
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" ctrl+s
sleep 1
screenshot 06-saved
quit_from_menu xdotool key --window "$window"

"$MOVARO_BIN/movaro-gif-cli" info "$work/trois.gif" >"$E2E_OUT/info.json"
python3 - "$E2E_OUT/info.json" <<'PY' || fail "the saved file does not hold the fade"
import json, sys
frames = json.load(open(sys.argv[1]))["frames"]
delays = [next(e["delay"] for e in f["extensions"] if e["kind"] == "graphic-control") for f in frames]
print("delays:", delays)
assert len(frames) == 12, len(frames)
assert delays == [60] + [0] * 9 + [60, 60], delays
PY
