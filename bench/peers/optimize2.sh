#!/usr/bin/env bash
# Level 2 and lossy optimisation side by side with gifsicle -O3 and -O3 --lossy=N: median wall
# time, bytes written and, for lossy output, PSNR over every composed frame (ImageMagick compare
# on the coalesced frames, against the input's).
#
# Usage: bench/peers/optimize2.sh BUILD_DIR [WORKDIR] [RUNS] [LOSSY]
#   WORKDIR  the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   RUNS     timed runs per command (default 5); LOSSY the lossy level compared (default 80)
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: optimize2.sh BUILD_DIR [WORKDIR] [RUNS] [LOSSY]}
WORK=${2:-$ROOT/build/bench-work}
RUNS=${3:-5}
LOSSY=${4:-80}
CORPUS=${MOVARO_CORPUS_DIR:-$ROOT/../shared/corpus}
CLI=$BUILD/bin/movaro-gif-cli
nice cmake --build "$BUILD" --target movaro-gif-cli -j1 >/dev/null
command -v gifsicle >/dev/null || { echo "gifsicle missing (scripts/install-deps.sh gifsicle)"; exit 1; }
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
timed() { # file command... -> median seconds of RUNS runs
  local f=$1; shift
  : >"$f"
  for _ in $(seq 1 "$RUNS"); do
    /usr/bin/time -f '%e' -o "$f.one" "$@" >/dev/null 2>&1
    cat "$f.one" >>"$f"
  done
  median <"$f"
}
# PSNR of every composed frame of $2 against $1 taken together (one mean squared error).
psnr() {
  rm -rf "$OUT/a" "$OUT/b"; mkdir -p "$OUT/a" "$OUT/b"
  convert "$1" -coalesce "$OUT/a/f%04d.png"
  convert "$2" -coalesce "$OUT/b/f%04d.png"
  local sum=0 n=0
  for f in "$OUT"/a/*.png; do
    # The normalised MSE in parentheses; a frame that cannot be compared counts as all wrong.
    m=$(compare -metric MSE "$f" "$OUT/b/$(basename "$f")" null: 2>&1 | grep -o '([0-9.e+-]*)' | tr -d '()' || true)
    sum=$(python3 -c "print($sum + ${m:-1})"); n=$((n + 1))
  done
  python3 -c "import math; m=$sum/$n; print('inf' if m == 0 else '%.2f' % (10*math.log10(1/m)))"
}

inputs=("$WORK/screen.gif" "$WORK/photo.gif")
for f in image-rs-gif/tests/samples/gifplayer-muybridge.gif blink-images/resources/count-down-color-test.gif image-rs-gif/tests/samples/sample_big.gif; do
  for g in $CORPUS/$f; do [ -s "$g" ] && inputs+=("$g"); done
done

printf '%-28s %-22s %9s %11s %8s\n' workload tool "median s" bytes PSNR
for in in "${inputs[@]}"; do
  name=$(basename "$in" .gif)
  t1=$(timed "$OUT/t1" "$CLI" -q optimize --level 2 "$in" "$OUT/ours2.gif")
  t2=$(timed "$OUT/t2" gifsicle -O3 "$in" -o "$OUT/g3.gif")
  t3=$(timed "$OUT/t3" "$CLI" -q optimize --lossy "$LOSSY" "$in" "$OUT/oursl.gif")
  t4=$(timed "$OUT/t4" gifsicle -O3 --lossy="$LOSSY" "$in" -o "$OUT/gl.gif")
  printf '%-28s %-22s %9s %11s %8s\n' "$name" "ours --level 2" "$t1" "$(stat -c %s "$OUT/ours2.gif")" -
  printf '%-28s %-22s %9s %11s %8s\n' "$name" "gifsicle -O3" "$t2" "$(stat -c %s "$OUT/g3.gif")" -
  printf '%-28s %-22s %9s %11s %8s\n' "$name" "ours --lossy $LOSSY" "$t3" "$(stat -c %s "$OUT/oursl.gif")" "$(psnr "$in" "$OUT/oursl.gif")"
  printf '%-28s %-22s %9s %11s %8s\n' "$name" "gifsicle --lossy=$LOSSY" "$t4" "$(stat -c %s "$OUT/gl.gif")" "$(psnr "$in" "$OUT/gl.gif")"
  python3 -c "print('$name: level 2 bytes %.3fx gifsicle -O3, time %.2fx; lossy bytes %.3fx' % ($(stat -c %s "$OUT/ours2.gif")/$(stat -c %s "$OUT/g3.gif"), $t1/max($t2,1e-3), $(stat -c %s "$OUT/oursl.gif")/$(stat -c %s "$OUT/gl.gif")))"
done
