#!/usr/bin/env bash
# A user session: open a GIF, File > Exporter... with the keyboard, choose 8 colours, wait for the
# size, save through the real file dialog; the saved file is the one `movaro-gif-cli export` makes
# with the same settings, byte for byte.
source "$(dirname "$0")/lib.sh"

: "${MOVARO_CORPUS_DIR:?}"
source_gif="$MOVARO_CORPUS_DIR/blink-images/resources/quicksort.gif"
[ -f "$source_gif" ] || { echo "corpus missing: skipped"; exit 0; }

work="$E2E_OUT/work"
mkdir -p "$work"
cp "$source_gif" "$work/tri.gif"

start_x
start_app "$work/tri.gif"
window=$(wait_window 'tri\.gif - Movaro Gif')
sleep 1
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --window "$window" alt+f
sleep 0.5
screenshot 01-file-menu
xdotool key x
dialog=$(wait_window '^Exporter$')
sleep 2
screenshot 02-dialog

# 8 colours, typed into the field its label names.
xdotool key --window "$dialog" alt+c
xdotool key ctrl+a
xdotool type --delay 20 "8"
xdotool key Tab
sleep 4
screenshot 03-8-colours

xdotool key alt+e
wait_window '^Exporter$' >/dev/null
for _ in $(seq 1 50); do
    [ "$(xdotool search --onlyvisible --name '^Exporter$' | wc -l)" -ge 2 ] && break
    sleep 0.1
done
sleep 0.5
screenshot 04-save-dialog
xdotool type --delay 5 "$work/exporte.gif"
xdotool key Return
for _ in $(seq 1 50); do
    xdotool search --onlyvisible --name '^Exporter$' >/dev/null 2>&1 || break
    sleep 0.1
done
screenshot 05-saved
[ -f "$work/exporte.gif" ] || fail "nothing saved"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
quit_from_menu xdotool key --window "$window"

"$MOVARO_BIN/movaro-gif-cli" info "$work/exporte.gif" >"$E2E_OUT/info.json" || fail "the saved file does not read"
python3 - "$E2E_OUT/info.json" <<'PY' || fail "the saved file has more than 8 colours"
import json, sys
info = json.load(open(sys.argv[1]))
# 8 colours, and a transparent entry where the optimiser needs one; a frame that draws few of
# them may carry a smaller table of its own.
assert 0 < info["global_colors"] <= 16, info["global_colors"]
assert all(f["local_colors"] <= 16 for f in info["frames"])
PY
"$MOVARO_BIN/movaro-gif-cli" export --colours 8 "$source_gif" "$work/cli.gif" >/dev/null
cmp "$work/exporte.gif" "$work/cli.gif" || fail "the dialog saved another file than the engine makes"
echo "exported $(stat -c %s "$work/exporte.gif") bytes"
