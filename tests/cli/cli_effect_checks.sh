#!/usr/bin/env bash
# Black-box checks of `movaro-gif-cli effect`: where the frames go, their delays and pictures,
# the silent stops, and the refused arguments.
set -euo pipefail
cli="$1"
out="$2"
rm -rf "$out"
mkdir -p "$out"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
pixel() { convert "$1" -format "%[pixel:p{$2}]" info:; }
# delays FILE: the delay of every frame, space-separated; size FILE I: width x height of frame I.
delays() { "$cli" info "$1" | python3 -c 'import json,sys; print(" ".join(str(next(e["delay"] for e in f["extensions"] if e["kind"] == "graphic-control")) for f in json.load(sys.stdin)["frames"]))'; }
size() { "$cli" info "$1" | python3 -c 'import json,sys; f=json.load(sys.stdin)["frames"]['"$2"']; print(str(f["width"]) + "x" + str(f["height"]))'; }
loops() { "$cli" info "$1" | python3 -c 'import json,sys; print(json.load(sys.stdin)["frames"][0]["extensions"][0].get("count"))'; }

convert -size 20x10 xc:'rgb(200,30,30)' "$out/a.png"
convert -size 20x10 xc:'rgb(30,30,200)' "$out/b.png"
convert -size 20x10 xc:'rgb(30,200,30)' "$out/c.png"
"$cli" make -d 40 -l 3 -o "$out/three.gif" "$out/a.png" "$out/b.png" "$out/c.png"

# A fade in front of frame 2 with the initial settings: 9 frames of delay 0, from frame 1's
# colour to frame 2's, then frame 2.
"$cli" effect fade "$out/three.gif" "$out/fade.gif" --frame 2
[ "$(delays "$out/fade.gif")" = "40 40 0 0 0 0 0 0 0 0 0 40" ] || fail "fade delays: $(delays "$out/fade.gif")"
"$cli" frames "$out/fade.gif" "$out/fade"
[ "$(pixel "$out/fade/frame-0002.png" 3,3)" = "srgb(30,30,200)" ] || fail "fade starts at $(pixel "$out/fade/frame-0002.png" 3,3)"
[ "$(pixel "$out/fade/frame-0010.png" 3,3)" = "srgb(30,200,30)" ] || fail "fade ends at $(pixel "$out/fade/frame-0010.png" 3,3)"
[ "$(pixel "$out/fade/frame-0011.png" 3,3)" = "srgb(30,200,30)" ] || fail "frame 2 moved or changed"

# A scroll over a chosen colour at frame 0 starts with that plain colour and keeps the looping.
"$cli" effect scroll "$out/three.gif" "$out/scroll.gif" --frame 0 --colour 00FF00 --direction 1 --duration 40
[ "$(delays "$out/scroll.gif")" = "0 0 0 0 0 40 40 40" ] || fail "scroll delays: $(delays "$out/scroll.gif")"
[ "$(loops "$out/scroll.gif")" = "3" ] || fail "scroll lost the looping: $(loops "$out/scroll.gif")"
"$cli" frames "$out/scroll.gif" "$out/scroll"
[ "$(pixel "$out/scroll/frame-0000.png" 10,5)" = "srgb(0,255,0)" ] || fail "scroll frame 0: $(pixel "$out/scroll/frame-0000.png" 10,5)"
# N = 4: the picture enters from the right in steps of 5 pixels.
[ "$(pixel "$out/scroll/frame-0001.png" 15,5)" = "srgb(200,30,30)" ] || fail "scroll enters from the right"
[ "$(pixel "$out/scroll/frame-0001.png" 14,5)" = "srgb(0,255,0)" ] || fail "scroll frame 1 beside the picture"

# The squeeze fills the view it is given, 13 frames of 8 hundredths.
"$cli" effect squeeze "$out/three.gif" "$out/squeeze.gif" --frame 1 --view 26x12
[ "$(delays "$out/squeeze.gif")" = "40 8 8 8 8 8 8 8 8 8 8 8 8 8 40 40" ] || fail "squeeze delays"
[ "$(size "$out/squeeze.gif" 1)" = "26x12" ] || fail "squeeze frame size $(size "$out/squeeze.gif" 1)"

# A seeded random dissolve is repeatable.
"$cli" effect dissolve-random "$out/three.gif" "$out/r1.gif" --frame 1 --seed 77
"$cli" effect dissolve-random "$out/three.gif" "$out/r2.gif" --frame 1 --seed 77
cmp -s "$out/r1.gif" "$out/r2.gif" || fail "the same seed gave different dissolves"

# Silent stops: N = 0, or no frame before the selected one. The document is saved as it stands.
"$cli" effect wipe "$out/three.gif" "$out/n0.gif" --frame 1 --duration 25 --rate 2 || fail "N = 0 failed"
[ "$(delays "$out/n0.gif")" = "40 40 40" ] || fail "N = 0 inserted frames"
"$cli" effect replace "$out/three.gif" "$out/first.gif" --frame 0 || fail "replace at frame 0 failed"
[ "$(delays "$out/first.gif")" = "40 40 40" ] || fail "replace at frame 0 inserted frames"

# Refused arguments: a message, a non-zero exit, no output file.
for args in "fad --frame 1" "fade --frame 3" "fade" "scroll --frame 1 --direction 4" "wipe --frame 1 --wipe 2" \
            "fade --frame 1 --rate 31" "scroll --frame 1 --colour 12345" "squeeze --frame 1 --view 20"; do
    set -- $args
    name="$1"
    shift
    if "$cli" effect "$name" "$out/three.gif" "$out/refused.gif" "$@" 2>"$out/err.txt"; then
        fail "accepted: $args"
    fi
    [ -s "$out/err.txt" ] || fail "no message for: $args"
    [ ! -e "$out/refused.gif" ] || fail "wrote a file for: $args"
done
"$cli" effect fade "$out/missing.gif" "$out/refused.gif" --frame 1 2>/dev/null && fail "opened a missing file"
echo "cli effect checks passed"
