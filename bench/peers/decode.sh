#!/usr/bin/env bash
# Decoding side by side: our reader (bench_decode) and giflib's DGifSlurp (gifharness decode-mem),
# both from a file held in memory, alternated in one run so they share the machine's noise.
#
# Usage: bench/peers/decode.sh BUILD_DIR [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (bench_decode is built there with one job)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   ROUNDS     alternations per workload (default 3); each one times 7 decodes of each side
# Prints the median Mpx/s of each side per round and the ratio ours / giflib.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: decode.sh BUILD_DIR [WORKDIR] [ROUNDS]}
WORK=${2:-$ROOT/build/bench-work}
ROUNDS=${3:-3}
REPS=7
HARNESS_SRC=${HARNESS_SRC:-$ROOT/../shared/bench/gifharness.c}

nice cmake --build "$BUILD" --target bench_decode -j1 >/dev/null
HARNESS=$BUILD/peers/gifharness
mkdir -p "$(dirname "$HARNESS")"
if [ ! -x "$HARNESS" ] || [ "$HARNESS_SRC" -nt "$HARNESS" ]; then
  cc -O2 -o "$HARNESS" "$HARNESS_SRC" -lgif
fi

ours() { # benchmark name -> median Mpx/s
  MOVARO_BENCH_WORK=$WORK "$BUILD/bench/bench_decode" --benchmark_filter="^$1/" \
    --benchmark_repetitions=$REPS --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null |
    python3 -c 'import json,sys
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("aggregate_name") == "median": print("%.1f" % b["Mpx/s"])'
}
giflib() { # file -> median Mpx/s
  "$HARNESS" decode-mem "$1" $REPS | sed -n 's/.*mpix_per_s_median=\([0-9.]*\).*/\1/p'
}

printf '%-10s %5s %12s %12s %8s\n' workload round "ours Mpx/s" "giflib Mpx/s" ratio
for w in photo:BM_DecodePhoto screen:BM_DecodeScreen; do
  name=${w%%:*}; bench=${w#*:}
  file=$WORK/$name.gif
  if [ ! -s "$file" ]; then echo "$name: $file missing (run make_workloads.sh $WORK)"; continue; fi
  for r in $(seq 1 "$ROUNDS"); do
    g=$(giflib "$file")
    o=$(ours "$bench")
    printf '%-10s %5d %12s %12s %8s\n' "$name" "$r" "$o" "$g" "$(python3 -c "print('%.2fx' % ($o / $g))")"
  done
done
