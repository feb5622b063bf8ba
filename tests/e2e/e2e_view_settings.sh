#!/usr/bin/env bash
# Hiding the status bar and collapsing "Commentaires" under Xvfb: the status bar stays hidden at the
# next start (the screenshots' bottom strips show it), while the panel comes back expanded, as panels
# are not remembered; F1 hands the manual to the desktop's handler.
source "$(dirname "$0")/lib.sh"

# The desktop's handler for addresses: this one only writes down what it was asked to open.
mkdir -p "$E2E_OUT/bin"
cat >"$E2E_OUT/bin/xdg-open" <<SH
#!/bin/sh
echo "\$@" >>"$E2E_OUT/opened.txt"
SH
chmod +x "$E2E_OUT/bin/xdg-open"
export PATH="$E2E_OUT/bin:$PATH"

# bottom_strip SHOT NAME : the last 24 rows of the main window in screenshot SHOT as NAME.png
bottom_strip() {
    convert "$E2E_OUT/$1.png" -crop "${width}x24+${x}+$((y + height - 24))" +repage "$E2E_OUT/$2.png"
}

start_x
start_app
window=$(wait_window '^Movaro Gif$| - Movaro Gif$')
sleep 0.8
eval "$(xdotool getwindowgeometry --shell "$window" | tr 'A-Z' 'a-z')"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
screenshot 01-started

# View > "Barre d'état" through its mnemonic.
xdotool key --window "$window" alt+a
sleep 0.4
screenshot 02-view-menu
xdotool key t
sleep 0.4
# View > "Commentaires": the fifth item (the first is highlighted when the menu opens from the keyboard).
xdotool key --window "$window" alt+a
sleep 0.4
xdotool key Down Down Down Down
sleep 0.2
screenshot 03-view-menu-comments
xdotool key Return
sleep 0.5
screenshot 04-hidden-and-collapsed

# F1: the manual goes to the desktop's handler.
xdotool key --window "$window" F1
for _ in $(seq 1 30); do
    [ -s "$E2E_OUT/opened.txt" ] && break
    sleep 0.1
done
grep -q 'share/movaro-gif/help/index.html$' "$E2E_OUT/opened.txt" 2>/dev/null \
    || fail "F1 did not hand the manual to the desktop: $(cat "$E2E_OUT/opened.txt" 2>/dev/null)"
manual=$(head -n 1 "$E2E_OUT/opened.txt")
[ -f "${manual#file://}" ] || fail "the manual handed over does not exist: $manual"

quit_from_menu xdotool key --window "$window"

ini="$SETTINGS_FILE"
grep -q 'Mainform%20Settings\\StatusBar_Visible=False' "$ini" || fail "the hidden status bar was not written: $(cat "$ini")"

start_app
window=$(wait_window '^Movaro Gif$| - Movaro Gif$')
sleep 0.8
eval "$(xdotool getwindowgeometry --shell "$window" | tr 'A-Z' 'a-z')"
screenshot 05-restarted

bottom_strip 01-started strip-started
bottom_strip 04-hidden-and-collapsed strip-hidden
bottom_strip 05-restarted strip-restarted
differs() { [ "$(compare -metric AE "$E2E_OUT/$1.png" "$E2E_OUT/$2.png" null: 2>&1)" != "0" ]; }
differs strip-started strip-hidden || fail "hiding the status bar changed nothing on screen"
differs strip-started strip-restarted || fail "the status bar is back after the restart"
echo "status bar hidden before and after the restart; manual: $(head -n 1 "$E2E_OUT/opened.txt")"
