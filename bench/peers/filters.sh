#!/usr/bin/env bash
# Blur, gaussian blur and sharpen of one 1920 × 1080 photo (big.png of make_workloads.sh), side by
# side in one run with ImageMagick's `-blur 0x1`, `-gaussian-blur 0x1` and `-sharpen 0x1`,
# alternated so both share the machine's noise.
#
# Usage: bench/peers/filters.sh [BUILD_DIR] [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (default $BENCH_BUILD or build/default); filter_tool is
#              built there with one job
#   WORKDIR    the workloads (default $BENCH_WORK or build/bench-work)
#   ROUNDS     alternations (default 5)
# For each kernel, per round: ImageMagick reading the photo and filtering it (`convert big.png
# OP null:`), ImageMagick only reading it (`convert big.png null:`), our process (read and filter
# once) and our filter alone (timed inside filter_tool). Then the medians and two ratios:
#   process  ImageMagick read+filter / ours read+filter
#   filter   ImageMagick (read+filter − read) / our filter alone
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-${BENCH_BUILD:-$ROOT/build/default}}
WORK=${2:-${BENCH_WORK:-$ROOT/build/bench-work}}
ROUNDS=${3:-5}
SHARED_BENCH=${SHARED_BENCH:-$ROOT/../shared/bench}
export MAGICK_CONFIGURE_PATH=${MAGICK_CONFIGURE_PATH:-$SHARED_BENCH/im-policy}

# ImageMagick 6 itself, not a wrapper that happens to be called `convert`.
if command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16; else IM=convert; fi

PHOTO=$WORK/big.png
if [ ! -s "$PHOTO" ]; then
  echo "filters: $PHOTO missing (run $SHARED_BENCH/make_workloads.sh $WORK)" >&2
  exit 1
fi
nice cmake --build "$BUILD" --target filter_tool -j1 >/dev/null
TOOL=$BUILD/bench/filter_tool

now() { date +%s.%N; }
field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
elapsed() { python3 -c "print('%.4f' % ($2 - $1))"; }

for kernel in blur gaussian sharpen; do
  case $kernel in
    blur) op=(-blur 0x1) ;;
    gaussian) op=(-gaussian-blur 0x1) ;;
    sharpen) op=(-sharpen 0x1) ;;
  esac
  echo "-- $kernel (ImageMagick ${op[*]})"
  printf '%5s %16s %12s %16s %14s\n' round "IM read+filter" "IM read" "ours read+filter" "ours filter"
  im=() imread=() ours=() alone=()
  for r in $(seq 1 "$ROUNDS"); do
    t0=$(now); "$IM" "$PHOTO" "${op[@]}" null:; t1=$(now)
    "$IM" "$PHOTO" null:; t2=$(now)
    line=$("$TOOL" "$PHOTO" 1 "$kernel"); t3=$(now)
    a=$(elapsed "$t0" "$t1"); b=$(elapsed "$t1" "$t2"); c=$(elapsed "$t2" "$t3")
    d=$(echo "$line" | field filter_s_median)
    printf '%5d %16s %12s %16s %14s\n' "$r" "$a" "$b" "$c" "$d"
    im+=("$a"); imread+=("$b"); ours+=("$c"); alone+=("$d")
  done
  # Our filter alone, over more repetitions in one process (warm caches, like ImageMagick's pass).
  warm=$("$TOOL" "$PHOTO" 9 "$kernel" | field filter_s_median)
  python3 - "${im[*]}" "${imread[*]}" "${ours[*]}" "${alone[*]}" "$warm" <<'PY'
import statistics, sys
im, imread, ours, alone = (statistics.median(map(float, a.split())) for a in sys.argv[1:5])
warm = float(sys.argv[5])
im_filter = max(im - imread, 1e-6)
print(f"median  IM read+filter {im:.3f} s  IM read {imread:.3f} s  ours read+filter {ours:.3f} s  ours filter {alone:.4f} s (warm {warm:.4f} s)")
print(f"ratio ImageMagick / ours: {im / ours:.1f}x (process), {im_filter / alone:.1f}x (filter alone, cold), {im_filter / warm:.1f}x (warm)")
PY
done
