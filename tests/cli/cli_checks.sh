#!/usr/bin/env bash
# Black-box checks of movaro-gif-cli: make, info, open, optimize, frames, their failures and exit
# statuses, help, "-" for standard input and output, the progress line.
set -euo pipefail
cli="$1"
corpus="$2"
out="$3"
rm -rf "$out"
mkdir -p "$out"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Two pictures in, one animation out, with its delay, looping and comment.
convert -size 20x10 xc:'rgb(200,30,30)' "$out/a.png"
convert -size 12x16 xc:'rgb(30,30,200)' "$out/b.png"
"$cli" make -d 25 -l 3 -c "un commentaire" -o "$out/made.gif" "$out/a.png" "$out/b.png"
info=$("$cli" info "$out/made.gif")
echo "$info" >"$out/made.json"
python3 - "$out/made.json" <<'PY' || fail "make wrote an unexpected document: $info"
import json, sys
d = json.load(open(sys.argv[1]))
assert (d["version"], d["width"], d["height"], d["global_colors"]) == ("89a", 20, 16, 0), d
f0, f1 = d["frames"]
assert [e["kind"] for e in f0["extensions"]] == ["loop", "graphic-control", "comment"], f0
assert f0["extensions"][0]["count"] == 3 and f0["extensions"][0]["id"] == "NETSCAPE2.0"
assert f0["extensions"][2]["lines"] == ["un commentaire"]
gce = f1["extensions"][0]
assert (gce["delay"], gce["disposal"], gce["transparent"]) == (25, 2, False), gce
assert (f1["width"], f1["height"], f1["local_colors"], f1["interlaced"]) == (12, 16, 256, False), f1
assert d["warnings"] == []
PY

# Open then save: every frame full screen, looping first in frame 0, the comment kept.
"$cli" open "$out/made.gif" "$out/opened.gif"
"$cli" info "$out/opened.gif" >"$out/opened.json"
python3 - "$out/opened.json" <<'PY' || fail "open/save changed the document unexpectedly"
import json, sys
d = json.load(open(sys.argv[1]))
for f in d["frames"]:
    assert (f["left"], f["top"], f["width"], f["height"]) == (0, 0, 20, 16), f
assert d["frames"][0]["extensions"][0] == {"kind": "loop", "id": "NETSCAPE2.0", "count": 3, "buffer": 0}
assert any(e["kind"] == "comment" and e["lines"] == ["un commentaire"] for e in d["frames"][0]["extensions"])
PY

# The composed frames as PNG. Frame 0 is disposed to the background (white here), so frame 1
# shows white where it does not cover the screen.
"$cli" frames "$out/made.gif" "$out/frames"
[ -f "$out/frames/frame-0000.png" ] && [ -f "$out/frames/frame-0001.png" ] || fail "frames missing"
pixel() { convert "$1" -format "%[pixel:p{$2}]" info:; }
[ "$(pixel "$out/frames/frame-0000.png" 15,2)" = "srgb(200,30,30)" ] || fail "frame 0 at (15,2)"
[ "$(pixel "$out/frames/frame-0001.png" 15,2)" = "srgb(255,255,255)" ] || fail "frame 1 at (15,2): $(pixel "$out/frames/frame-0001.png" 15,2)"
[ "$(pixel "$out/frames/frame-0001.png" 5,5)" = "srgb(30,30,200)" ] || fail "frame 1 at (5,5)"

# Records after the last image make no frame: two images give two pictures and two frames, and
# the trailing comment survives open and save.
python3 - "$out/made.gif" "$out/trailing.gif" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
assert data.endswith(b";")
open(sys.argv[2], "wb").write(data[:-1] + b"\x21\xfe\x03fin\x00;")
PY
"$cli" frames "$out/trailing.gif" "$out/frames-trailing"
[ "$(ls "$out/frames-trailing" | wc -l)" -eq 2 ] || fail "frames: $(ls "$out/frames-trailing" | wc -l) pictures for 2 images"
"$cli" open "$out/trailing.gif" "$out/trailing-opened.gif"
"$cli" info "$out/trailing-opened.gif" >"$out/trailing-opened.json"
python3 - "$out/trailing-opened.json" <<'PY' || fail "open: trailing records not kept on the last image"
import json, sys
d = json.load(open(sys.argv[1]))
assert len(d["frames"]) == 2, len(d["frames"])
assert {"kind": "comment", "lines": ["fin"]} in d["frames"][1]["extensions"], d["frames"][1]
PY

# The optimised copy is no larger and decodes to the same composed frames.
"$cli" optimize "$out/made.gif" "$out/optimized.gif"
[ "$(stat -c %s "$out/optimized.gif")" -le "$(stat -c %s "$out/made.gif")" ] || fail "optimize grew the file"
"$cli" frames "$out/optimized.gif" "$out/frames-opt"
for f in "$out"/frames/*.png; do
    compare -metric AE "$f" "$out/frames-opt/$(basename "$f")" null: 2>/dev/null || fail "optimize changed $(basename "$f")"
done

# Level 2 and lossy: smaller still; level 2 shows the same frames, lossy the same number of them.
"$cli" optimize --level 2 "$out/made.gif" "$out/level2.gif"
[ "$(stat -c %s "$out/level2.gif")" -le "$(stat -c %s "$out/optimized.gif")" ] || fail "level 2 larger than level 1"
"$cli" frames "$out/level2.gif" "$out/frames-level2"
for f in "$out"/frames/*.png; do
    compare -metric AE "$f" "$out/frames-level2/$(basename "$f")" null: 2>/dev/null || fail "level 2 changed $(basename "$f")"
done
"$cli" optimize --lossy 120 "$out/made.gif" "$out/lossy.gif"
"$cli" frames "$out/lossy.gif" "$out/frames-lossy"
[ "$(ls "$out/frames-lossy" | wc -l)" -eq "$(ls "$out/frames" | wc -l)" ] || fail "lossy changed the frame count"

# The high-quality palette: plasma pictures of thousands of colours come out closer than with the
# octree, at every level and dithering; one palette for both frames.
convert -seed 7 -size 64x48 plasma:fractal "$out/g1.png"
convert -seed 8 -size 64x48 plasma:fractal "$out/g2.png"
"$cli" make -o "$out/g-octree.gif" "$out/g1.png" "$out/g2.png"
"$cli" frames "$out/g-octree.gif" "$out/frames-g-octree"
for args in "--quality best" "--quality best --dither fs --level 2" "--quality BEST --dither ordered --level 1"; do
    # shellcheck disable=SC2086
    "$cli" make $args -o "$out/g-best.gif" "$out/g1.png" "$out/g2.png"
    "$cli" frames "$out/g-best.gif" "$out/frames-g-best"
    [ "$(ls "$out/frames-g-best" | wc -l)" -eq 2 ] || fail "make $args: not two frames"
    if [ "$args" = "--quality best" ]; then
        octree=$(compare -metric PSNR "$out/g1.png" "$out/frames-g-octree/$(ls "$out/frames-g-octree" | head -1)" null: 2>&1 || true)
        best=$(compare -metric PSNR "$out/g1.png" "$out/frames-g-best/$(ls "$out/frames-g-best" | head -1)" null: 2>&1 || true)
        python3 -c "import sys; sys.exit(0 if float('$best') > float('$octree') + 1 else 1)" \
            || fail "make --quality best: PSNR $best, octree $octree"
    fi
    rm -rf "$out/frames-g-best"
done

# Floyd-Steinberg with one palette: a change in a corner leaves the rest of the frame as it was
# (its error does not run on into what did not change), so the optimiser can keep it.
convert "$out/g1.png" -fill '#ff0000' -draw 'rectangle 20,10 25,15' "$out/g1-square.png"
"$cli" make --quality best --dither fs -o "$out/g-fs.gif" "$out/g1.png" "$out/g1-square.png"
"$cli" frames "$out/g-fs.gif" "$out/frames-g-fs"
fs_frames=("$out"/frames-g-fs/*.png)
for f in "${fs_frames[@]}"; do convert "$f" -fill '#ff0000' -draw 'rectangle 20,10 25,15' "$f.masked.png"; done
compare -metric AE "${fs_frames[0]}.masked.png" "${fs_frames[1]}.masked.png" null: 2>/dev/null \
    || fail "make --dither fs: the frame changed outside the rectangle that changed"
! compare -metric AE "${fs_frames[0]}" "${fs_frames[1]}" null: 2>/dev/null || fail "make --dither fs: the change is not shown"

# Failures, per subcommand: 1 for a file that cannot be read (in the window's words), 2 for a
# usage error; always a message on stderr and nothing on stdout.
echo "not a gif" >"$out/text.gif"
mkdir -p "$out/folder"
failures=(
    "1|info $out/absent.gif|Le fichier n'existe pas"
    "1|info $out/folder|Le fichier n'existe pas"
    "1|info $out/text.gif|Format de fichier invalide."
    "1|info $out/a.png|Format de fichier invalide."
    "2|info --bogus $out/made.gif|--bogus"
    "2|info|FILE"
    "1|open $out/absent.gif $out/x.gif|Le fichier n'existe pas"
    "1|open $out/text.gif $out/x.gif|Format de fichier invalide."
    "1|open $out/made.gif $out/folder|"
    "2|open $out/made.gif|OUT"
    "1|optimize $out/folder $out/x.gif|Le fichier n'existe pas"
    "1|optimize $out/made.gif $out/absent/x.gif|"
    "2|optimize -x $out/made.gif $out/x.gif|-x"
    "2|optimize --level 3 $out/made.gif $out/x.gif|--level"
    "2|optimize --lossy 201 $out/made.gif $out/x.gif|--lossy"
    "2|optimize --level 1 --lossy 20 $out/made.gif $out/x.gif|--lossy"
    "1|frames $out/text.gif $out/fr|Format de fichier invalide."
    "1|frames $out/made.gif $out/a.png|a.png"
    "1|make -o $out/x.gif $out/a.png $out/absent.png|Echec lors de l'ajout de l'image."
    "2|make -d ten -o $out/x.gif $out/a.png|--delay"
    "2|make -l 3x -o $out/x.gif $out/a.png|--loops"
    "2|make $out/a.png|--output"
    "2|make -o $out/x.gif|PICTURE"
    "2|make --quality fine -o $out/x.gif $out/a.png|--quality"
    "2|make --dither random -o $out/x.gif $out/a.png|--dither"
    "2|make --level 3 -o $out/x.gif $out/a.png|--level"
    "2|frobnicate $out/made.gif|"
    "2||subcommand"
)
for row in "${failures[@]}"; do
    IFS='|' read -r want args words <<<"$row"
    rm -f "$out/x.gif"
    code=0
    # shellcheck disable=SC2086
    "$cli" $args >"$out/stdout.txt" 2>"$out/err.txt" || code=$?
    [ "$code" -eq "$want" ] || fail "'$args': exit $code, expected $want ($(cat "$out/err.txt"))"
    grep -q "^movaro-gif-cli: " "$out/err.txt" || fail "'$args': no message"
    [ -z "$words" ] || grep -qF -- "$words" "$out/err.txt" || fail "'$args': '$words' missing from: $(cat "$out/err.txt")"
    [ ! -s "$out/stdout.txt" ] && [ ! -e "$out/x.gif" ] || fail "'$args' wrote an output"
done

# Help and version: on stdout, exit status 0, for the tool and every subcommand.
for args in --help --version "info --help" "open --help" "optimize --help" "frames --help" "make --help" \
    "filter --help"; do
    # shellcheck disable=SC2086
    "$cli" $args >"$out/help.txt" || fail "'$args' failed"
    grep -q "movaro-gif-cli" "$out/help.txt" || fail "'$args' printed: $(cat "$out/help.txt")"
done
grep -q -- "--text" <("$cli" info --help) || fail "info --help does not name --text"

# "-" for standard input and output gives the bytes the files give.
cat "$out/made.gif" | "$cli" optimize - - >"$out/piped.gif"
cmp "$out/piped.gif" "$out/optimized.gif" || fail "optimize - - differs from optimize with files"
"$cli" open - "$out/opened-stdin.gif" <"$out/made.gif"
cmp "$out/opened-stdin.gif" "$out/opened.gif" || fail "open - differs from open with a file"
[ "$("$cli" info - <"$out/made.gif")" = "$(cat "$out/made.json")" ] || fail "info - differs from info with a file"
"$cli" make -d 25 -l 3 -c "un commentaire" -o - "$out/a.png" "$out/b.png" | cmp - "$out/made.gif" \
    || fail "make -o - differs from make with a file"

# info --text: the summary a person reads.
"$cli" info --text "$out/made.gif" >"$out/text.txt"
grep -q "made.gif: GIF89a, 20 x 16, 2 frames, 0.50 s, loop count 3" "$out/text.txt" \
    && grep -q "comment: un commentaire" "$out/text.txt" && grep -q "frame 2: 12 x 16 at 0,0, delay 25" "$out/text.txt" \
    || fail "info --text: $(cat "$out/text.txt")"

# The progress line: on a terminal only, and not with --quiet; stderr stays empty otherwise.
"$cli" make -o "$out/x.gif" "$out/a.png" "$out/b.png" 2>"$out/err.txt"
[ ! -s "$out/err.txt" ] || fail "progress written to a stderr that is no terminal"
if command -v script >/dev/null; then
    tty_run() { script -qec "$1" /dev/null </dev/null; }
    tty_run "'$cli' make -o '$out/x.gif' '$out/a.png' '$out/b.png'" | grep -q "make 100 %" \
        || fail "no progress line on a terminal"
    ! tty_run "'$cli' --quiet make -o '$out/x.gif' '$out/a.png' '$out/b.png'" | grep -q "%" \
        || fail "--quiet still shows progress"
fi

if [ -d "$corpus/libnsgif" ]; then
    for bad in $(find "$corpus/libnsgif" -type f -name '*.gif' | head -n 40); do
        set +e
        timeout 10 "$cli" open "$bad" "$out/x.gif" >/dev/null 2>&1
        code=$?
        set -e
        [ "$code" -le 1 ] || fail "open $bad: exit $code"
    done
fi
# GraphicsMagick and FFmpeg (over a hundred libraries) are loaded by the files that need them,
# not at every start; a picture that needs GraphicsMagick still reads.
! ldd "$cli" | grep -E 'libGraphicsMagick|libav(codec|format)' || fail "the tool links the heavy decoders at start"
convert -size 9x7 xc:'rgb(10,200,10)' "$out/green.tif"
"$cli" make -o "$out/from-tiff.gif" "$out/green.tif"
"$cli" frames "$out/from-tiff.gif" "$out/tiff-frames"
[ "$(convert "$out/tiff-frames/"*.png -format '%w %h %[pixel:p{4,3}]' info:)" = "9 7 srgb(10,200,10)" ] \
    || fail "a TIFF read through the GraphicsMagick module lost its pixels"
echo "cli checks passed"
