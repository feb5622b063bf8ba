#!/usr/bin/env bash
# An animation from a video clip, side by side: our command-line tool (movaro-gif-cli make --video:
# decoding, sampling at 10 frames per second, octree reduction of each frame, GIF writing) against
# ffmpeg's usual recipe, fps=10 with palettegen/paletteuse (its default dithering). Alternated in
# one run so that both share the machine's noise. Quality: the PSNR of each GIF against the clip
# frames it was sampled from, measured by ffmpeg's psnr filter over the RGB planes. The two sample
# differently: ours takes the picture on screen at k/10 s (fps=10:round=up picks the same frames),
# ffmpeg's fps=10 rounds to the nearest slot and keeps the last, one clip frame later here; each is
# measured against its own sampling, and ours against ffmpeg's too.
#
# Usage: bench/peers/video.sh BUILD_DIR [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (movaro-gif-cli is built there with one job)
#   WORKDIR    where the clip is made once (default: build/bench-work); video/clip-720p.mp4
#   ROUNDS     alternations (default 2)
# The clip: 30 s of 1280 × 720 at 30 frames per second, H.264: moving colour gradients (hard for
# 256-colour palettes) with ffmpeg's moving test card over them.
# Prints each side's median wall time, peak memory, size and PSNR, and the ratios.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: video.sh BUILD_DIR [WORKDIR] [ROUNDS]}
WORK=${2:-$ROOT/build/bench-work}
ROUNDS=${3:-2}
OUT=$(mktemp -d "$BUILD/video-bench.XXXXXX")
trap 'rm -rf "$OUT"' EXIT

nice cmake --build "$BUILD" --target movaro-gif-cli -j1 >/dev/null
CLI=$BUILD/bin/movaro-gif-cli
FF="ffmpeg -nostdin -hide_banner -loglevel error -y"

CLIP=$WORK/video/clip-720p.mp4
if [ ! -s "$CLIP" ]; then
  mkdir -p "$WORK/video"
  $FF -f lavfi -i "gradients=s=1280x720:r=30:d=30:n=5:speed=0.015" \
      -f lavfi -i "testsrc2=s=480x270:r=30:d=30" \
      -filter_complex "[0:v][1:v]overlay=x='mod(t*90,800)':y='200+100*sin(t)'" \
      -c:v libx264 -preset medium -crf 20 -pix_fmt yuv420p "$CLIP.part.mp4"
  mv "$CLIP.part.mp4" "$CLIP"
fi

run() { # name command... -> "seconds peakKiB"
  local name=$1
  shift
  /usr/bin/time -f '%e %M' -o "$OUT/$name.time" "$@" >/dev/null 2>"$OUT/$name.err" ||
    { cat "$OUT/$name.err" >&2; exit 1; }
  cat "$OUT/$name.time"
}
psnr() { # gif fps-filter -> average PSNR (dB) against the clip sampled by that filter
  ffmpeg -nostdin -hide_banner -i "$1" -i "$CLIP" \
    -lavfi "[0:v]format=gbrp[a];[1:v]$2,format=gbrp[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.*PSNR .* average:\([0-9.inf]*\).*/\1/p' | tail -1
}
median() { python3 -c 'import statistics,sys; print("%.2f" % statistics.median(float(v) for v in sys.argv[1:]))' "$@"; }

ours_t="" ours_m="" ff_t="" ff_m=""
for ((r = 0; r < ROUNDS; r++)); do
  read -r t m <<<"$(run ours "$CLI" make --video "$CLIP" --fps 10 -o "$OUT/ours.gif")"
  ours_t+=" $t" ours_m+=" $m"
  read -r t m <<<"$(run ffmpeg $FF -i "$CLIP" -vf "fps=10,split[a][b];[a]palettegen[p];[b][p]paletteuse" "$OUT/ffmpeg.gif")"
  ff_t+=" $t" ff_m+=" $m"
done
ot=$(median $ours_t) ft=$(median $ff_t)
om=$(median $ours_m) fm=$(median $ff_m)
op=$(psnr "$OUT/ours.gif" fps=10:round=up) fp=$(psnr "$OUT/ffmpeg.gif" fps=10)
oq=$(psnr "$OUT/ours.gif" fps=10)
os=$(stat -c %s "$OUT/ours.gif") fs=$(stat -c %s "$OUT/ffmpeg.gif")
frames() { ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1"; }

printf '%-8s %9s %11s %12s %9s %7s\n' side "median s" "peak MiB" bytes "PSNR dB" frames
printf '%-8s %9s %11s %12s %9s %7s\n' ours "$ot" "$(python3 -c "print(round($om/1024))")" "$os" "$op" "$(frames "$OUT/ours.gif")"
printf '%-8s %9s %11s %12s %9s %7s\n' ffmpeg "$ft" "$(python3 -c "print(round($fm/1024))")" "$fs" "$fp" "$(frames "$OUT/ffmpeg.gif")"
python3 - "$ot" "$ft" "$op" "$fp" <<'PY'
import sys
ot, ft, op, fp = map(float, sys.argv[1:])
print("speed: ffmpeg / ours = %.2fx (target >= 2x); PSNR ours - ffmpeg = %+.2f dB (target >= -1 dB)" % (ft / ot, op - fp))
PY
echo "ours against ffmpeg's sampling (one clip frame later): $oq dB"
