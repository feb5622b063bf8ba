#!/usr/bin/env bash
# Opening a GIF for editing side by side: our open (bench_open --open: read, compose and reduce
# every frame to 256 colours, plain write) against GraphicsMagick and ImageMagick doing the same
# job (coalesce, 256 colours without dither, write), in one run so they share the machine's noise.
#
# Usage: bench/peers/open.sh BUILD_DIR [WORKDIR] [RUNS]
#   BUILD_DIR  a configured build tree (bench_open is built there with one job)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   RUNS       timed runs per command (default 3)
# Prints per workload: median wall seconds (hyperfine, or /usr/bin/time when it is missing), CPU
# seconds and peak memory (/usr/bin/time -v, one run) of each tool, and the ratio tool / ours.
# Packages: graphicsmagick imagemagick time hyperfine.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: open.sh BUILD_DIR [WORKDIR] [RUNS]}
WORK=${2:-$ROOT/build/bench-work}
RUNS=${3:-3}
# Debian's ImageMagick policy caps memory at 256 MiB; the raised limits keep it from spilling.
export MAGICK_CONFIGURE_PATH=${MAGICK_CONFIGURE_PATH:-$ROOT/../shared/bench/im-policy}
# The ImageMagick binary itself, whatever a convert earlier on the PATH may be.
IM=${IM:-$(command -v convert-im6.q16 || command -v convert)}

nice cmake --build "$BUILD" --target bench_open -j1 >/dev/null
OURS=$BUILD/bench/bench_open
OUT=$(mktemp -d "${TMPDIR:-/tmp}/movaro-open.XXXXXX")
trap 'rm -rf "$OUT"' EXIT

median_wall() { # command... -> median seconds
  if command -v hyperfine >/dev/null; then
    hyperfine --runs "$RUNS" --warmup 0 --export-json "$OUT/h.json" -- "$*" >/dev/null 2>&1
    python3 -c 'import json,sys; print("%.3f" % json.load(open(sys.argv[1]))["results"][0]["median"])' "$OUT/h.json"
  else
    for _ in $(seq 1 "$RUNS"); do /usr/bin/time -f %e -o "$OUT/t" "$@" >/dev/null 2>&1; cat "$OUT/t"; done |
      sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
  fi
}
usage() { # command... -> "cpu_s peak_MiB"
  /usr/bin/time -v -o "$OUT/v" "$@" >/dev/null 2>&1
  awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} /Maximum resident/ {m=$2}
    END {printf "%.2f %.1f\n", u + s, m / 1024}' "$OUT/v"
}

printf '%-14s %-6s %10s %8s %10s %9s\n' workload tool "wall s" "CPU s" "peak MiB" "x ours"
for name in photo screen-O3; do
  in=$WORK/$name.gif
  if [ ! -s "$in" ]; then echo "$name: $in missing (run make_workloads.sh $WORK)"; continue; fi
  declare -A cmd=(
    [ours]="$OURS --open $in $OUT/ours.gif"
    [gm]="gm convert $in -coalesce +dither -colors 256 $OUT/gm.gif"
    [im]="$IM $in -coalesce +dither -colors 256 $OUT/im.gif"
  )
  base=""
  for tool in ours gm im; do
    # shellcheck disable=SC2086 # the command lines are word lists
    wall=$(median_wall ${cmd[$tool]})
    # shellcheck disable=SC2086
    read -r cpu mem < <(usage ${cmd[$tool]})
    [ -z "$base" ] && base=$wall
    printf '%-14s %-6s %10s %8s %10s %9s\n' "$name" "$tool" "$wall" "$cpu" "$mem" \
      "$(python3 -c "print('%.2f' % ($wall / $base))")"
  done
  if command -v gifdiff >/dev/null && [ -s "$OUT/ours.gif" ]; then
    if gifdiff "$in" "$OUT/ours.gif" >/dev/null; then echo "$name: our frames show the same pixels as the input"
    else echo "$name: our frames differ from the input (gifdiff)"; fi
  fi
done
