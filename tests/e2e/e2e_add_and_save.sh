#!/usr/bin/env bash
# A user session: open a GIF from the command line, add a picture through the real add dialog
# (F2, type the path, Enter), save with Ctrl+S, quit from the File menu; then the saved file is
# checked with movaro-gif-cli.
source "$(dirname "$0")/lib.sh"

: "${MOVARO_CORPUS_DIR:?}"
source_gif="$MOVARO_CORPUS_DIR/giflib/pic/welcome2.gif"
picture="$MOVARO_CORPUS_DIR/pngsuite/tests/pngsuite/basn2c08.png"
[ -f "$source_gif" ] && [ -f "$picture" ] || { echo "corpus missing: skipped"; exit 0; }

work="$E2E_OUT/work"
mkdir -p "$work"
cp "$source_gif" "$work/accueil.gif"
frames_before=$(frame_count "$work/accueil.gif")

start_x
start_app "$work/accueil.gif"
window=$(wait_window 'accueil\.gif - Movaro Gif')
sleep 1
screenshot 01-opened

xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" F2
dialog=$(wait_window '^Ajouter une image$')
sleep 0.5
screenshot 02-add-dialog
xdotool type --delay 5 "$picture"
xdotool key Return
sleep 1
for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name '^Ajouter une image$' >/dev/null 2>&1 || break
    sleep 0.1
done
screenshot 03-added
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" ctrl+s
sleep 1
screenshot 04-saved
quit_from_menu xdotool key --window "$window"

info=$("$MOVARO_BIN/movaro-gif-cli" info "$work/accueil.gif")
echo "$info" >"$E2E_OUT/info.json"
frames_after=$(frame_count "$work/accueil.gif")
[ "$frames_after" -eq $((frames_before + 1)) ] || fail "expected $((frames_before + 1)) frames, found $frames_after"
python3 - "$E2E_OUT/info.json" <<'PY' || fail "saved file does not hold what the session made"
import json, sys
info = json.load(open(sys.argv[1]))
frames = info["frames"]
first = frames[0]["extensions"][0]
assert first["kind"] == "loop", first
last = [e for e in frames[-1]["extensions"] if e["kind"] == "graphic-control"][0]
assert last["delay"] == 60 and last["disposal"] == 2, last
PY
echo "saved $frames_after frames"
