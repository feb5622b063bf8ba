#!/usr/bin/env bash
# Building an animation from 100 PNG frames, side by side: our command-line tool
# (movaro-gif-cli make: PNG import, octree reduction to 256 colours, GIF writing) against
# GraphicsMagick and ImageMagick (256 colours without dither, the closest to our nearest-colour
# mapping) and ffmpeg (palettegen/paletteuse without dither). Alternated in one run so that all
# share the machine's noise.
#
# Usage: bench/peers/make.sh BUILD_DIR [WORKDIR] [ROUNDS]
#   BUILD_DIR  a configured build tree (movaro-gif-cli is built there with one job)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   ROUNDS     alternations per workload (default 3)
# Prints each side's median wall time in seconds, the output size, and the ratio ours / peer.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: make.sh BUILD_DIR [WORKDIR] [ROUNDS]}
WORK=${2:-$ROOT/build/bench-work}
ROUNDS=${3:-3}
OUT=$(mktemp -d "$BUILD/make-bench.XXXXXX")
trap 'rm -rf "$OUT"' EXIT

nice cmake --build "$BUILD" --target movaro-gif-cli -j1 >/dev/null
CLI=$BUILD/bin/movaro-gif-cli
IM=$(command -v magick || command -v convert)
# ImageMagick's default policy caps memory at 256 MiB, which slows it down: use the raised one.
IM_POLICY=${IM_POLICY:-$ROOT/../shared/bench/im-policy}

seconds() { # command... -> wall seconds
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  python3 -c "print('%.2f' % ($t1 - $t0))"
}
median() { python3 -c 'import statistics,sys; print("%.2f" % statistics.median(float(v) for v in sys.argv[1:]))' "$@"; }

printf '%-8s %-16s %9s %11s %8s\n' workload side "median s" "bytes" "ours/peer"
for w in photo screen; do
  frames=("$WORK/frames/$w"/f*.png)
  declare -A times=()
  sides=(ours gm im ffmpeg)
  for ((r = 0; r < ROUNDS; r++)); do
    times[ours]+=" $(seconds "$CLI" make -d 60 -o "$OUT/ours-$w.gif" "${frames[@]}")"
    times[gm]+=" $(seconds gm convert -delay 60 "${frames[@]}" +dither -colors 256 "$OUT/gm-$w.gif")"
    times[im]+=" $(seconds env MAGICK_CONFIGURE_PATH="$IM_POLICY" "$IM" -delay 60 "${frames[@]}" +dither -colors 256 "$OUT/im-$w.gif")"
    times[ffmpeg]+=" $(seconds ffmpeg -v error -y -framerate 5/3 -i "$WORK/frames/$w/f%03d.png" \
      -filter_complex '[0:v]split[a][b];[a]palettegen[p];[b][p]paletteuse=dither=none' "$OUT/ffmpeg-$w.gif")"
  done
  ours=$(median ${times[ours]})
  for s in "${sides[@]}"; do
    m=$(median ${times[$s]})
    size=$(stat -c %s "$OUT/$s-$w.gif" 2>/dev/null || echo -)
    printf '%-8s %-16s %9s %11s %8s\n' "$w" "$s" "$m" "$size" "$(python3 -c "print('%.2f' % ($ours / $m))")"
  done
  unset times
done
