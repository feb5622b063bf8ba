# Helpers of the end-to-end tests: a private X server, the editor's window, screenshots.
set -euo pipefail

: "${MOVARO_BIN:?}" "${E2E_OUT:?}"
rm -rf "$E2E_OUT"
mkdir -p "$E2E_OUT"
export HOME="$E2E_OUT/home"            # a settings store of our own, never the user's
export XDG_CONFIG_HOME="$HOME/.config"
mkdir -p "$XDG_CONFIG_HOME"
# Sessions start with the welcome and how-to windows switched off; a session about them removes
# this file first.
SETTINGS_FILE="$XDG_CONFIG_HOME/Movaro Gif/Movaro Gif.ini"
mkdir -p "$(dirname "$SETTINGS_FILE")"
cat >"$SETTINGS_FILE" <<'INI'
[Software]
Movaro%20Gif\Welcome%20Settings\Checkstart_Checked=True
Movaro%20Gif\How%20Settings\Dontshow_Checked=True
INI
unset QT_QPA_PLATFORM

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

start_x() {
    local fifo="$E2E_OUT/displayfd"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" 2>"$E2E_OUT/xvfb.log" &
    XVFB_PID=$!
    local number
    read -r -t 30 number <"$fifo" || fail "Xvfb did not start"
    export DISPLAY=":$number"
    trap stop_all EXIT
}

stop_all() {
    [ -n "${APP_PID:-}" ] && kill "$APP_PID" 2>/dev/null || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
    wait 2>/dev/null || true
}

# start_app ARGS... : starts movaro-gif in the background
start_app() {
    "$MOVARO_BIN/movaro-gif" "$@" >"$E2E_OUT/app.log" 2>&1 &
    APP_PID=$!
}

# wait_window TITLE-REGEX : prints the id of the first visible window whose name matches
wait_window() {
    local id=""
    for _ in $(seq 1 100); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$APP_PID" 2>/dev/null || fail "the editor exited: $(cat "$E2E_OUT/app.log")"
        sleep 0.1
    done
    fail "no window named '$1' appeared"
}

# screenshot NAME : the whole screen as NAME.png in the output folder
screenshot() {
    import -display "$DISPLAY" -window root "$E2E_OUT/$1.png"
}

# quit_from_menu KEYS-COMMAND... : File > Quitter through the keyboard, then waits for the editor
# to end. The arguments send alt+f to the main window (e.g. "xdotool key --window $window").
quit_from_menu() {
    "$@" alt+f
    sleep 0.5
    screenshot quit-file-menu
    xdotool key q
    for _ in $(seq 1 50); do
        kill -0 "$APP_PID" 2>/dev/null || return 0
        sleep 0.1
    done
    screenshot quit-still-open
    fail "the editor did not quit"
}

# frame_count FILE.gif : the number of images in the file (records after the last image are no frame)
frame_count() {
    "$MOVARO_BIN/movaro-gif-cli" info "$1" |
        python3 -c 'import json, sys; print(sum(f["width"] > 0 for f in json.load(sys.stdin)["frames"]))'
}

# open_animated_sample : the corpus's animated sample copied to $work/anim.gif and opened in the
# editor; sets sample (the original), work, frames_before and window. Skips the session when the
# corpus is missing.
open_animated_sample() {
    : "${MOVARO_CORPUS_DIR:?}"
    sample="$MOVARO_CORPUS_DIR/giflib/pic/welcome2.gif"
    [ -f "$sample" ] || { echo "corpus missing: skipped"; exit 0; }
    work="$E2E_OUT/work"
    mkdir -p "$work"
    cp "$sample" "$work/anim.gif"
    frames_before=$(frame_count "$work/anim.gif")
    [ "$frames_before" -ge 3 ] || fail "the sample should be animated"
    start_x
    start_app "$work/anim.gif"
    window=$(wait_window 'anim\.gif - Movaro Gif')
    sleep 1
}

# press KEYS... : keys to the main window, which has the focus back after each dialog (there is no
# window manager)
press() {
    xdotool windowfocus --sync "$window" 2>/dev/null || true
    xdotool key "$@"
}
