#!/usr/bin/env bash
# Builds the two long-animation workloads (never committed) into WORKDIR:
#   screen-1000.gif  1920 × 1080, 1000 frames at 10 frames a second: ffmpeg's testsrc2 pattern
#                    with moving text, one palette from palettegen, mapped by paletteuse
#   photo-3000.gif   640 × 480, 3000 frames: the photo pan of ../shared/bench looped 30 times
# Usage: bench/long/make_long.sh WORKDIR   (the photo pan needs WORKDIR/frames/photo from
#        ../shared/bench/make_workloads.sh WORKDIR)
set -euo pipefail
WORK=${1:?usage: make_long.sh WORKDIR}
mkdir -p "$WORK"
# Two passes (palette, then mapping) so that ffmpeg never buffers the whole clip.
if [ ! -s "$WORK/screen-1000.gif" ]; then
  src=(-f lavfi -i "testsrc2=size=1920x1080:rate=10:duration=100")
  text="drawtext=fontfile=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf:fontsize=64:fontcolor=white:x=mod(t*200\\,w):y=h/3:text='Movaro %{n}'"
  ffmpeg -loglevel error -y "${src[@]}" -vf "$text,palettegen" "$WORK/screen-palette.png"
  ffmpeg -loglevel error -y "${src[@]}" -i "$WORK/screen-palette.png" \
    -lavfi "[0:v]$text[v];[v][1:v]paletteuse=dither=none" "$WORK/screen-1000.gif"
fi
if [ ! -s "$WORK/photo-3000.gif" ]; then
  [ -d "$WORK/frames/photo" ] || { echo "missing $WORK/frames/photo (make_workloads.sh)"; exit 1; }
  src=(-stream_loop 29 -framerate 10 -i "$WORK/frames/photo/f%03d.png")
  ffmpeg -loglevel error -y "${src[@]}" -vf palettegen "$WORK/photo-palette.png"
  ffmpeg -loglevel error -y "${src[@]}" -i "$WORK/photo-palette.png" \
    -lavfi "[0:v][1:v]paletteuse=dither=none" "$WORK/photo-3000.gif"
fi
ls -l "$WORK"/screen-1000.gif "$WORK"/photo-3000.gif
