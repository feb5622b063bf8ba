#!/usr/bin/env bash
# The optimised save side by side with gifsicle -O1: wall time, peak memory and bytes written,
# alternated in one run so both share the machine's noise.
#
# Usage: bench/peers/optimize.sh BUILD_DIR [WORKDIR] [RUNS]
#   BUILD_DIR  a configured build tree (movaro-gif-cli is built there)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   RUNS       timed runs per command (default 5); the median is printed
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: optimize.sh BUILD_DIR [WORKDIR] [RUNS]}
WORK=${2:-$ROOT/build/bench-work}
RUNS=${3:-5}
CLI=$BUILD/bin/movaro-gif-cli
nice cmake --build "$BUILD" --target movaro-gif-cli -j1 >/dev/null
command -v gifsicle >/dev/null || { echo "gifsicle missing (apt-get install gifsicle)"; exit 1; }
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

measure() { # command... -> "seconds peakKB"
  /usr/bin/time -f '%e %M' "$@" 2>&1 >/dev/null | tail -1
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-14s %-12s %9s %10s %12s\n' workload tool "median s" "peak MB" bytes
for name in screen photo screen-O3; do
  in=$WORK/$name.gif
  [ -s "$in" ] || { echo "$name: $in missing"; continue; }
  : >"$OUT/ours"; : >"$OUT/gifsicle"
  for _ in $(seq 1 "$RUNS"); do
    measure "$CLI" optimize "$in" "$OUT/ours.gif" >>"$OUT/ours"
    measure gifsicle -O1 "$in" -o "$OUT/gifsicle.gif" >>"$OUT/gifsicle"
  done
  for tool in ours gifsicle; do
    t=$(awk '{print $1}' "$OUT/$tool" | median)
    m=$(awk '{print $2}' "$OUT/$tool" | median)
    printf '%-14s %-12s %9s %10.1f %12s\n' "$name" "$tool" "$t" "$(echo "$m / 1024" | bc -l)" \
      "$(stat -c %s "$OUT/$tool.gif")"
  done
  o=$(awk '{print $1}' "$OUT/ours" | median)
  g=$(awk '{print $1}' "$OUT/gifsicle" | median)
  echo "$name: ours is $(python3 -c "print('%.2f' % ($g / max($o, 1e-3)))")x the speed of gifsicle -O1"
  if command -v gifdiff >/dev/null && ! gifdiff "$in" "$OUT/ours.gif" >/dev/null; then
    echo "$name: WARNING: the optimised file does not show the same frames (gifdiff)"
  fi
done
