#!/usr/bin/env bash
# A fade of 59 blended frames between two 640 × 480 photographs, side by side in one run with ImageMagick's
# `convert A.png B.png -morph 59 out.gif`, which blends the same number of frames (59 between A and B) and
# quantises and writes them as a GIF, as our effect does (generation, octree reduction, insertion,
# plain save).
#
# Usage: bench/peers/effects.sh [BUILD_DIR] [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (default $BENCH_BUILD or build/default)
#   WORKDIR    the workloads (default $BENCH_WORK or build/bench-work); A and B are cut from big.png
#   ROUNDS     alternations (default 3)
# Ours: `movaro-gif-cli effect fade two.gif out.gif --frame 1 --duration 193 --rate 30` (N = 58,
# and a fade makes N + 1 frames: 59 in front of B, 61 in all), on a two-frame GIF made from A and B.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:-${BENCH_BUILD:-$ROOT/build/default}}
WORK=${2:-${BENCH_WORK:-$ROOT/build/bench-work}}
ROUNDS=${3:-3}
SHARED_BENCH=${SHARED_BENCH:-$ROOT/../shared/bench}
export MAGICK_CONFIGURE_PATH=${MAGICK_CONFIGURE_PATH:-$SHARED_BENCH/im-policy}
if command -v convert-im6.q16 >/dev/null 2>&1; then IM=convert-im6.q16; else IM=convert; fi

PHOTO=$WORK/big.png
if [ ! -s "$PHOTO" ]; then
  echo "effects: $PHOTO missing (run $SHARED_BENCH/make_workloads.sh $WORK)" >&2
  exit 1
fi
nice cmake --build "$BUILD" --target movaro-gif-cli -j1 >/dev/null
CLI=$BUILD/bin/movaro-gif-cli
[ -x "$CLI" ] || CLI=$(find "$BUILD" -name movaro-gif-cli -type f -perm -u+x | head -1)

D=$WORK/effects
mkdir -p "$D"
"$IM" "$PHOTO" -crop 640x480+200+150 +repage -define png:color-type=2 "$D/A.png"
"$IM" "$PHOTO" -crop 640x480+1100+500 +repage -define png:color-type=2 "$D/B.png"
"$CLI" --quiet make -o "$D/two.gif" "$D/A.png" "$D/B.png"

now() { date +%s.%N; }
elapsed() { python3 -c "print('%.3f' % ($2 - $1))"; }
printf '%5s %10s %10s\n' round "IM -morph" ours
im=() ours=()
for r in $(seq 1 "$ROUNDS"); do
  t0=$(now); "$IM" "$D/A.png" "$D/B.png" -morph 59 "$D/im.gif"; t1=$(now)
  "$CLI" --quiet effect fade "$D/two.gif" "$D/ours.gif" --frame 1 --duration 193 --rate 30; t2=$(now)
  a=$(elapsed "$t0" "$t1"); b=$(elapsed "$t1" "$t2")
  printf '%5d %10s %10s\n' "$r" "$a" "$b"
  im+=("$a"); ours+=("$b")
done
frames() { "$IM" "$1" -format '%n\n' info: | head -1; }
echo "frames: ImageMagick $(frames "$D/im.gif"), ours $(frames "$D/ours.gif")"
python3 - "${im[*]}" "${ours[*]}" <<'PY'
import statistics, sys
im, ours = (statistics.median(map(float, a.split())) for a in sys.argv[1:3])
print(f"median  ImageMagick {im:.3f} s  ours {ours:.3f} s  ratio ImageMagick / ours: {im / ours:.1f}x")
PY
