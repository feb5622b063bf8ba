#!/usr/bin/env bash
# Quantising one 1920 × 1080 photo (big.png of make_workloads.sh) to 256 colours without dither,
# side by side in one run: our octree reduction + nearest-colour mapping (quantize_tool) against
# ImageMagick `convert big.png +dither -colors 256 out.gif`, alternated so both share the noise.
#
# Usage: bench/peers/quantize.sh [BUILD_DIR] [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (default $BENCH_BUILD or build/default); quantize_tool is
#              built there with one job
#   WORKDIR    the workloads (default $BENCH_WORK or build/bench-work)
#   ROUNDS     alternations (default 5)
# Prints per round: ImageMagick's process time, ours (process: PNG read + reduction; and the
# reduction alone, as timed inside the tool), then the medians and the ratios ImageMagick / ours,
# and the PSNR of both results against the photo.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-${BENCH_BUILD:-$ROOT/build/default}}
WORK=${2:-${BENCH_WORK:-$ROOT/build/bench-work}}
ROUNDS=${3:-5}
SHARED_BENCH=${SHARED_BENCH:-$ROOT/../shared/bench}
export MAGICK_CONFIGURE_PATH=${MAGICK_CONFIGURE_PATH:-$SHARED_BENCH/im-policy}

# ImageMagick 6 itself, not a wrapper that happens to be called `convert`.
if command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16; COMPARE=compare-im6.q16
else IM=convert; COMPARE=compare; fi

PHOTO=$WORK/big.png
if [ ! -s "$PHOTO" ]; then
  echo "quantize: $PHOTO missing (run $SHARED_BENCH/make_workloads.sh $WORK)" >&2
  exit 1
fi
nice cmake --build "$BUILD" --target quantize_tool -j1 >/dev/null
TOOL=$BUILD/bench/quantize_tool
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

now() { date +%s.%N; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }

printf '%5s %14s %16s %16s\n' round "ImageMagick s" "ours process s" "ours reduce s"
im_times=() our_times=() reduce_times=()
for r in $(seq 1 "$ROUNDS"); do
  t0=$(now); "$IM" "$PHOTO" +dither -colors 256 "$OUT/im.gif"; t1=$(now)
  line=$("$TOOL" "$PHOTO" 1); t2=$(now)
  im=$(python3 -c "print('%.3f' % ($t1 - $t0))")
  ours=$(python3 -c "print('%.3f' % ($t2 - $t1))")
  reduce=$(echo "$line" | field reduce_s_median)
  printf '%5d %14s %16s %16s\n' "$r" "$im" "$ours" "$reduce"
  im_times+=("$im"); our_times+=("$ours"); reduce_times+=("$reduce")
done

python3 - "${im_times[*]}" "${our_times[*]}" "${reduce_times[*]}" <<'EOF'
import statistics, sys
im, ours, reduce = (sorted(map(float, a.split())) for a in sys.argv[1:4])
mi, mo, mr = statistics.median(im), statistics.median(ours), statistics.median(reduce)
print(f"median  ImageMagick {mi:.3f} s   ours process {mo:.3f} s   ours reduction {mr:.4f} s")
print(f"ratio ImageMagick / ours: {mi / mo:.1f}x (whole process), {mi / mr:.1f}x (reduction alone)")
EOF

# Quality of both results against the photo (PSNR over R, G, B).
"$TOOL" "$PHOTO" 1 "$OUT/ours.ppm" >/dev/null
for side in im.gif ours.ppm; do
  psnr=$("$COMPARE" -metric PSNR "$PHOTO" "$OUT/$side" null: 2>&1 || true)
  echo "PSNR $side vs photo: $psnr dB"
done
