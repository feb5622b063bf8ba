#!/usr/bin/env bash
# The lossy rate-distortion curve side by side with gifsicle: for our --lossy N (level 2) and
# gifsicle -O3 --lossy=N, the bytes written, the PSNR over every composed frame against the input
# (psnr_tool: one mean squared error over R, G, B of all frames, as optimize2.sh gets it from
# ImageMagick's compare) and the median wall time.
#
# Usage: bench/peers/lossy_curve.sh BUILD_DIR [WORKDIR] [RUNS] [INPUT...]
#   WORKDIR  the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   RUNS     timed runs per command (default 1)
#   INPUT    GIFs to measure (default: screen.gif, photo.gif and the corpus recordings of optimize2.sh)
#   OURS / THEIRS  the lossy values (default "0 20 40 60 80 100 120 160 200" / "20 40 80 120")
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: lossy_curve.sh BUILD_DIR [WORKDIR] [RUNS] [INPUT...]}
WORK=${2:-$ROOT/build/bench-work}
RUNS=${3:-1}
shift $(($# < 3 ? $# : 3))
CORPUS=${MOVARO_CORPUS_DIR:-$ROOT/../shared/corpus}
OURS=${OURS:-0 20 40 60 80 100 120 160 200}
THEIRS=${THEIRS:-20 40 80 120}
CLI=$BUILD/bin/movaro-gif-cli
PSNR=$BUILD/bench/psnr_tool
nice cmake --build "$BUILD" --target movaro-gif-cli psnr_tool -j1 >/dev/null
command -v gifsicle >/dev/null || { echo "gifsicle missing (scripts/install-deps.sh gifsicle)"; exit 1; }
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
timed() { # command... -> median seconds of RUNS runs
  : >"$OUT/t"
  for _ in $(seq 1 "$RUNS"); do
    /usr/bin/time -f '%e' -o "$OUT/t.one" "$@" >/dev/null 2>&1
    cat "$OUT/t.one" >>"$OUT/t"
  done
  median <"$OUT/t"
}

inputs=("$@")
if [ ${#inputs[@]} -eq 0 ]; then
  inputs=("$WORK/screen.gif" "$WORK/photo.gif")
  for f in image-rs-gif/tests/samples/gifplayer-muybridge.gif blink-images/resources/count-down-color-test.gif image-rs-gif/tests/samples/sample_big.gif; do
    [ -s "$CORPUS/$f" ] && inputs+=("$CORPUS/$f")
  done
fi

printf '%-28s %-10s %5s %10s %8s %8s\n' workload side N bytes PSNR seconds
for in in "${inputs[@]}"; do
  name=$(basename "$in" .gif)
  for n in $OURS; do
    s=$(timed "$CLI" -q optimize --level 2 --lossy "$n" "$in" "$OUT/o.gif")
    printf '%-28s %-10s %5s %10s %8s %8s\n' "$name" ours "$n" "$(stat -c %s "$OUT/o.gif")" "$("$PSNR" "$in" "$OUT/o.gif" | cut -d' ' -f1)" "$s"
  done
  for n in $THEIRS; do
    s=$(timed gifsicle -O3 --lossy="$n" "$in" -o "$OUT/g.gif")
    printf '%-28s %-10s %5s %10s %8s %8s\n' "$name" gifsicle "$n" "$(stat -c %s "$OUT/g.gif")" "$("$PSNR" "$in" "$OUT/g.gif" | cut -d' ' -f1)" "$s"
  done
done
