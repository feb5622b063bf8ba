#!/usr/bin/env bash
# Black-box checks of movaro-gif-cli make --video on clips made here by ffmpeg.
set -euo pipefail
cli="$1"
out="$2"
rm -rf "$out"
mkdir -p "$out"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=80x60:rate=25:duration=4 \
    -c:v libx264 -pix_fmt yuv420p "$out/clip.mp4"

# A range at a rate, scaled: 1.5 s at 8 frames per second is 12 frames of 12 or 13 hundredths
# that add up to 150; looping as asked.
"$cli" make --video "$out/clip.mp4" --start 1 --end 2.5 --fps 8 --width 40 -l 2 -o "$out/range.gif"
"$cli" info "$out/range.gif" >"$out/range.json"
python3 - "$out/range.json" <<'PY' || fail "make --video wrote an unexpected document"
import json, sys
d = json.load(open(sys.argv[1]))
frames = d["frames"]
assert len(frames) == 12, len(frames)
assert (d["width"], d["height"]) == (40, 30), (d["width"], d["height"])
assert frames[0]["extensions"][0]["kind"] == "loop" and frames[0]["extensions"][0]["count"] == 2
delays = [e["delay"] for f in frames for e in f["extensions"] if e["kind"] == "graphic-control"]
assert len(delays) == 12 and sum(delays) == 150 and set(delays) <= {12, 13}, delays
assert all((f["width"], f["height"], f["local_colors"]) == (40, 30, 256) for f in frames)
PY

# Defaults: the whole clip at 10 frames per second, its own size.
"$cli" make --video "$out/clip.mp4" -o "$out/whole.gif"
"$cli" info "$out/whole.gif" | python3 -c '
import json, sys
d = json.load(sys.stdin)
assert (len(d["frames"]), d["width"], d["height"]) == (40, 80, 60), (len(d["frames"]), d["width"], d["height"])
' || fail "make --video defaults"

# A file that is not a clip or a range past its end (1), and bad options (2): a message, no output.
echo "not a clip" >"$out/notes.mp4"
for row in "1|--video $out/notes.mp4" "1|--video $out/clip.mp4 --start 9" "2|--video $out/clip.mp4 --fps 0" \
           "2|--video $out/clip.mp4 --width abc" "2|--video $out/clip.mp4 --frobnicate" \
           "2|--video $out/clip.mp4 -d 10" "2|--fps 5 $out/f.png"; do
    IFS='|' read -r want args <<<"$row"
    rm -f "$out/bad.gif"
    status=0
    # shellcheck disable=SC2086
    "$cli" make $args -o "$out/bad.gif" 2>"$out/err.txt" || status=$?
    [ "$status" -eq "$want" ] || fail "make $args: exit status $status, expected $want"
    grep -q "movaro-gif-cli: " "$out/err.txt" || fail "make $args: no message"
    [ ! -e "$out/bad.gif" ] || fail "make $args: wrote an output"
done
echo "cli video checks passed"
