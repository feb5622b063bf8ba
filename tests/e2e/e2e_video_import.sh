#!/usr/bin/env bash
# A user session: open a GIF, add a clip through the real add dialog (F2, type the path, Enter),
# accept the video dialog's defaults with Enter (the whole clip at 10 frames per second), save
# with Ctrl+S and quit; the saved file is checked with movaro-gif-cli.
source "$(dirname "$0")/lib.sh"

: "${MOVARO_CORPUS_DIR:?}"
source_gif="$MOVARO_CORPUS_DIR/giflib/pic/welcome2.gif"
[ -f "$source_gif" ] || { echo "corpus missing: skipped"; exit 0; }

work="$E2E_OUT/work"
mkdir -p "$work"
cp "$source_gif" "$work/accueil.gif"
frames_before=$(frame_count "$work/accueil.gif")
clip="$work/clip.mp4"
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=3 \
    -c:v libx264 -pix_fmt yuv420p "$clip"

start_x
start_app "$work/accueil.gif"
window=$(wait_window 'accueil\.gif - Movaro Gif')
sleep 1
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" F2
wait_window '^Ajouter une image$' >/dev/null
sleep 0.5
screenshot 02-add-dialog
xdotool type --delay 5 "$clip"
xdotool key Return
sleep 1.5
screenshot 03-video-dialog
xdotool search --onlyvisible --name '^Importer une vidéo$' >/dev/null 2>&1 || fail "no video dialog"
xdotool key Return
for _ in $(seq 1 100); do
    xdotool search --onlyvisible --name '^Importer une vidéo$' >/dev/null 2>&1 || break
    sleep 0.1
done
sleep 0.5
screenshot 04-imported
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" ctrl+s
sleep 1
quit_from_menu xdotool key --window "$window"

"$MOVARO_BIN/movaro-gif-cli" info "$work/accueil.gif" >"$E2E_OUT/info.json"
frames_after=$(frame_count "$work/accueil.gif")
[ "$frames_after" -eq $((frames_before + 30)) ] || fail "expected $((frames_before + 30)) frames, found $frames_after"
python3 - "$E2E_OUT/info.json" <<'PY' || fail "saved file does not hold the clip's frames"
import json, sys
frames = json.load(open(sys.argv[1]))["frames"]
last = [e for e in frames[-1]["extensions"] if e["kind"] == "graphic-control"][0]
assert last["delay"] == 10 and last["disposal"] == 2, last
assert (frames[-1]["width"], frames[-1]["height"]) == (160, 120), frames[-1]
PY
echo "saved $frames_after frames"
