#!/usr/bin/env bash
# The high-quality palette against the octree and pngquant on one 1920 × 1080 photo (big.png of
# make_workloads.sh), 256 colours without dither: median process time and PSNR over R, G, B
# (ImageMagick compare) of each result against the photo. Alternated in one run.
#
# Usage: bench/peers/quality.sh [BUILD_DIR] [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (default build/default); quantize_tool is built with one job
#   WORKDIR    the workloads (default build/bench-work); ROUNDS alternations (default 3)
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-$ROOT/build/default}
WORK=${2:-$ROOT/build/bench-work}
ROUNDS=${3:-3}
PHOTO=$WORK/big.png
[ -s "$PHOTO" ] || { echo "quality: $PHOTO missing (run ../shared/bench/make_workloads.sh $WORK)" >&2; exit 1; }
command -v pngquant >/dev/null || { echo "pngquant missing (scripts/install-deps.sh pngquant)"; exit 1; }
if command -v compare-im6.q16 >/dev/null 2>&1; then COMPARE=compare-im6.q16; else COMPARE=compare; fi
nice cmake --build "$BUILD" --target quantize_tool -j1 >/dev/null
TOOL=$BUILD/bench/quantize_tool
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); python3 -c "print('%.3f' % ($t1 - $t0))"; }
median() { python3 -c 'import statistics,sys; print("%.3f" % statistics.median(float(v) for v in sys.argv[1:]))' "$@"; }

declare -A times=()
sides=(octree best pngquant-s1 pngquant-s3)
for ((r = 0; r < ROUNDS; r++)); do
  times[octree]+=" $(seconds "$TOOL" "$PHOTO" 1 "$OUT/octree.ppm" octree)"
  times[best]+=" $(seconds "$TOOL" "$PHOTO" 1 "$OUT/best.ppm" best)"
  times[pngquant-s1]+=" $(seconds pngquant --force --speed 1 --nofs 256 --output "$OUT/pngquant-s1.png" "$PHOTO")"
  times[pngquant-s3]+=" $(seconds pngquant --force --speed 3 --nofs 256 --output "$OUT/pngquant-s3.png" "$PHOTO")"
done
printf '%-12s %9s %8s\n' side "median s" PSNR
for s in "${sides[@]}"; do
  f=$(ls "$OUT/$s".*)
  psnr=$("$COMPARE" -metric PSNR "$PHOTO" "$f" null: 2>&1 || true)
  printf '%-12s %9s %8s\n' "$s" "$(median ${times[$s]})" "$psnr"
done
