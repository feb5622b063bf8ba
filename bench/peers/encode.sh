#!/usr/bin/env bash
# Encoding side by side: our whole GIF write (encode_tool: SaveToStream into memory) and giflib's
# EGifSpew (gifharness encode), both on the same indices decoded by giflib, alternated in one run
# so they share the machine's noise.
#
# Usage: bench/peers/encode.sh BUILD_DIR [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (encode_tool is built there with one job)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   ROUNDS     alternations per workload (default 3); each one times 7 writes of each side
# Prints the median Mpx/s (wall clock) and output bytes of each side per round and the ratio
# ours / giflib; then, per workload, the CPU seconds each process spent beyond decoding the input
# (user + system, less a decode-only run), which the other jobs of a busy machine disturb less.
# With gifdiff (gifsicle) on the PATH, also checks once that our output shows the same frames.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: encode.sh BUILD_DIR [WORKDIR] [ROUNDS]}
WORK=${2:-$ROOT/build/bench-work}
ROUNDS=${3:-3}
REPS=7
HARNESS_SRC=${HARNESS_SRC:-$ROOT/../shared/bench/gifharness.c}

nice cmake --build "$BUILD" --target encode_tool -j1 >/dev/null
HARNESS=$BUILD/peers/gifharness
mkdir -p "$(dirname "$HARNESS")"
if [ ! -x "$HARNESS" ] || [ "$HARNESS_SRC" -nt "$HARNESS" ]; then
  cc -O2 -o "$HARNESS" "$HARNESS_SRC" -lgif
fi
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

field() { sed -n "s/.*$1=\([0-9.]*\).*/\1/p"; }
cpu() { /usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -1 | awk '{ print $1 + $2 }'; }

printf '%-8s %5s %11s %13s %12s %14s %8s\n' workload round "ours Mpx/s" "ours bytes" "giflib Mpx/s" "giflib bytes" ratio
for name in photo screen; do
  file=$WORK/$name.gif
  if [ ! -s "$file" ]; then echo "$name: $file missing (run make_workloads.sh $WORK)"; continue; fi
  for r in $(seq 1 "$ROUNDS"); do
    g=$("$HARNESS" encode "$file" $REPS)
    o=$("$BUILD/bench/encode_tool" "$file" $REPS "$OUT/$name.gif")
    gm=$(echo "$g" | field mpix_per_s_median); om=$(echo "$o" | field mpix_per_s_median)
    printf '%-8s %5d %11s %13s %12s %14s %8s\n' "$name" "$r" "$om" "$(echo "$o" | field bytes)" \
      "$gm" "$(echo "$g" | field bytes)" "$(python3 -c "print('%.2fx' % ($om / $gm))")"
  done
  if [ -x /usr/bin/time ]; then
    d=$(cpu "$HARNESS" decode "$file")
    gc=$(cpu "$HARNESS" encode "$file" $REPS)
    oc=$(cpu "$BUILD/bench/encode_tool" "$file" $REPS)
    python3 -c "d, g, o = $d, $gc, $oc
print('%s: CPU s for $REPS writes beyond decoding: ours %.2f, giflib %.2f, speed ratio %.2fx' % ('$name', o - d, g - d, (g - d) / (o - d)))"
  fi
  if command -v gifdiff >/dev/null; then
    if gifdiff "$file" "$OUT/$name.gif" >/dev/null; then echo "$name: gifdiff: same frames"; else echo "$name: gifdiff: FRAMES DIFFER"; fi
  fi
done
