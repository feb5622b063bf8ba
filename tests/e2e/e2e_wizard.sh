#!/usr/bin/env bash
# A first run: the welcome dialog, "Assistant d'animation", the how-to window closed, the wizard's
# four pages walked with three pictures of three formats added through its picture dialog, the
# build, Ctrl+S into a typed path; movaro-gif-cli then reads three frames of delay 60 looping
# endlessly. The options, how-to and about windows are opened from the menus on the way out.
source "$(dirname "$0")/lib.sh"

: "${MOVARO_CORPUS_DIR:?}"
pictures=("$MOVARO_CORPUS_DIR/pngsuite/tests/pngsuite/basn2c08.png"
          "$MOVARO_CORPUS_DIR/bmpsuite/g/pal8.bmp"
          "$MOVARO_CORPUS_DIR/libgdiplus/tests/test.jpg")
for p in "${pictures[@]}"; do
    [ -f "$p" ] || { echo "corpus missing: skipped"; exit 0; }
done

rm -f "$SETTINGS_FILE" # a fresh settings store: every start-up window shows
work="$E2E_OUT/work"
mkdir -p "$work"
target="$work/trois images.gif"
# The file dialogs open in the working folder: the session types short names there, since on a busy
# machine the dialogs' completer can swallow a key of a long typed path.
names=()
for i in "${!pictures[@]}"; do
    names+=("$((i + 1)).${pictures[$i]##*.}")
    ln -s "${pictures[$i]}" "$work/${names[$i]}"
done
cd "$work"

start_x
start_app
# The splash window lives only while the windows are made; catch it if we can.
for i in 1 2 3 4 5 6; do
    xdotool search --onlyvisible --classname 'movaro-gif' >/dev/null 2>&1 && break
    sleep 0.05
done
screenshot 00-starting

welcome=$(wait_window '^Bienvenue$')
sleep 0.5
screenshot 01-welcome
xdotool windowfocus --sync "$welcome" 2>/dev/null || true
xdotool key --window "$welcome" Down # from "Nouvelle animation Gif" to "Assistant d'animation"
sleep 0.2
screenshot 02-welcome-wizard-chosen
xdotool key Return # (the window is gone before the key is released: no --window)

# The how-to window comes on top of the wizard at the first start-ups.
how=$(wait_window '^Comment créer des Gifs$')
sleep 0.5
screenshot 03-how-to
xdotool windowfocus --sync "$how" 2>/dev/null || true
xdotool key Return

wizard=$(wait_window '^Assistant nouvelle animation$')
sleep 0.5
press() {
    xdotool windowfocus --sync "$wizard" 2>/dev/null || true
    xdotool key --window "$wizard" "$@"
    sleep 0.3
}
screenshot 04-wizard-p1
press ctrl+a
xdotool type --window "$wizard" --delay 5 "Trois images"
press Return
screenshot 05-wizard-p2
press Return
screenshot 06-wizard-p3
for p in "${names[@]}"; do
    press alt+i
    dialog=$(wait_window '^Ouvrir$')
    sleep 0.5
    xdotool windowfocus --sync "$dialog" 2>/dev/null || true
    xdotool type --delay 120 "$p"
    xdotool key Return
    for _ in $(seq 1 50); do
        xdotool search --onlyvisible --name '^Ouvrir$' >/dev/null 2>&1 || break
        sleep 0.1
    done
done
sleep 0.3
screenshot 07-wizard-p3-list
press alt+s # "&Suivant >" ("&Supprimer l'image" shares the letter but is off: nothing is selected)
screenshot 08-wizard-p4
xdotool windowfocus --sync "$wizard" 2>/dev/null || true
xdotool key alt+t
for _ in $(seq 1 100); do
    xdotool search --onlyvisible --name '^Assistant nouvelle animation$' >/dev/null 2>&1 || break
    sleep 0.1
done
window=$(wait_window '^Trois images - Movaro Gif$')
sleep 0.5
screenshot 09-built

xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key ctrl+s # as a keyboard sends it: a synthetic Ctrl+S leaves the next S of the dialog to chance
saveas=$(wait_window '^Enregistrer sous$')
sleep 0.5
xdotool windowfocus --sync "$saveas" 2>/dev/null || true
xdotool type --delay 120 "$(basename "$target")"
xdotool key Return
for _ in $(seq 1 50); do
    [ -f "$target" ] && break
    sleep 0.1
done
sleep 0.5
screenshot 10-saved

# The other windows from the menus: View > Options..., Help > the how-to window and the about box.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" alt+a
sleep 0.3
screenshot 11-view-menu
xdotool key Up Return
options=$(wait_window '^Options$')
sleep 0.5
screenshot 12-options
xdotool windowfocus --sync "$options" 2>/dev/null || true
xdotool key Escape
sleep 0.3
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" alt+d
sleep 0.3
screenshot 13-help-menu
xdotool key Down Return # below "&Rubriques d'aide"
how=$(wait_window '^Comment créer des Gifs$')
sleep 0.5
screenshot 14-how-to-from-help
xdotool windowfocus --sync "$how" 2>/dev/null || true
xdotool key Escape
sleep 0.3
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --window "$window" alt+d
sleep 0.3
xdotool key Up Return
about=$(wait_window '^À propos de Movaro Gif$')
sleep 0.5
screenshot 15-about
xdotool windowfocus --sync "$about" 2>/dev/null || true
xdotool key Return
sleep 0.3

xdotool windowfocus --sync "$window" 2>/dev/null || true
quit_from_menu xdotool key --window "$window"

[ -f "$target" ] || fail "nothing was saved at $target"
"$MOVARO_BIN/movaro-gif-cli" info "$target" >"$E2E_OUT/info.json"
python3 - "$E2E_OUT/info.json" <<'PY' || fail "the saved animation is not what the wizard was asked for"
import json, sys
info = json.load(open(sys.argv[1]))
frames = info["frames"]
assert len(frames) == 3, len(frames)
loops = [e for e in frames[0]["extensions"] if e["kind"] == "loop"]
assert loops and loops[0]["count"] == 0, frames[0]["extensions"]
for f in frames:
    control = [e for e in f["extensions"] if e["kind"] == "graphic-control"][0]
    assert control["delay"] == 60, control
PY
grep -q 'Dontshow_Tag=1' "$SETTINGS_FILE" || fail "the how-to window's count was not kept: $(cat "$SETTINGS_FILE")"
echo "the wizard built 3 frames"
