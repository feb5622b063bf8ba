#!/usr/bin/env bash
# Building an animation from the 100 photo and 100 screen-recording PNG frames with the
# high-quality palette and level 2, side by side with ffmpeg palettegen/paletteuse (one palette for
# the clip, as ours): median wall time, bytes, and PSNR over every composed frame against the PNG
# frames taken together (one mean squared error, ImageMagick compare). The octree default is shown
# for reference. Dither: none unless DITHER is given (ours fs|ordered against ffmpeg's
# floyd_steinberg|bayer).
#
# Usage: bench/peers/make_quality.sh BUILD_DIR [WORKDIR] [ROUNDS] [DITHER]
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: make_quality.sh BUILD_DIR [WORKDIR] [ROUNDS] [DITHER]}
WORK=${2:-$ROOT/build/bench-work}
ROUNDS=${3:-3}
DITHER=${4:-none}
case $DITHER in
  none) FFDITHER=none ;;
  fs) FFDITHER=floyd_steinberg ;;
  ordered) FFDITHER=bayer ;;
  *) echo "DITHER: none, fs or ordered" >&2; exit 2 ;;
esac
nice cmake --build "$BUILD" --target movaro-gif-cli -j1 >/dev/null
CLI=$BUILD/bin/movaro-gif-cli
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); python3 -c "print('%.2f' % ($t1 - $t0))"; }
median() { python3 -c 'import statistics,sys; print("%.2f" % statistics.median(float(v) for v in sys.argv[1:]))' "$@"; }
psnr() { # frames-folder gif
  rm -rf "$OUT/c"; mkdir -p "$OUT/c"
  convert "$2" -coalesce "$OUT/c/f%03d.png"
  local sum=0 n=0 i=0
  for f in "$1"/f*.png; do
    m=$(compare -metric MSE "$f" "$OUT/c/$(printf 'f%03d.png' "$i")" null: 2>&1 | grep -o '([0-9.e+-]*)' | tr -d '()' || true)
    sum=$(python3 -c "print($sum + ${m:-1})"); n=$((n + 1)); i=$((i + 1))
  done
  python3 -c "import math; m=$sum/$n; print('inf' if m == 0 else '%.2f' % (10*math.log10(1/m)))"
}

printf '%-8s %-26s %9s %11s %8s\n' workload side "median s" bytes PSNR
for w in screen photo; do
  frames=("$WORK/frames/$w"/f*.png)
  declare -A times=()
  for ((r = 0; r < ROUNDS; r++)); do
    times[best]+=" $(seconds "$CLI" -q make -d 60 --quality best --dither "$DITHER" --level 2 -o "$OUT/best-$w.gif" "${frames[@]}")"
    times[ffmpeg]+=" $(seconds ffmpeg -v error -y -framerate 5/3 -i "$WORK/frames/$w/f%03d.png" \
      -filter_complex "[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=$FFDITHER" "$OUT/ffmpeg-$w.gif")"
  done
  times[octree]=$(seconds "$CLI" -q make -d 60 --level 2 -o "$OUT/octree-$w.gif" "${frames[@]}")
  for s in best ffmpeg octree; do
    label=$s
    [ "$s" = best ] && label="ours best --level 2 $DITHER"
    [ "$s" = ffmpeg ] && label="ffmpeg paletteuse $FFDITHER"
    [ "$s" = octree ] && label="ours octree --level 2"
    printf '%-8s %-26s %9s %11s %8s\n' "$w" "$label" "$(median ${times[$s]})" "$(stat -c %s "$OUT/$s-$w.gif")" "$(psnr "$WORK/frames/$w" "$OUT/$s-$w.gif")"
  done
  unset times
done
