#!/usr/bin/env bash
# movaro-gif-cli open and optimize beside GraphicsMagick's "convert -coalesce +dither -colors 256"
# on the long workloads of make_long.sh: wall time and peak resident memory (/usr/bin/time).
# GraphicsMagick holds every coalesced frame in memory (8 bytes a pixel), which the full 1080p
# workload would take 16 GB for: it runs on the first 100 frames (LIMIT_GM frames), and ours runs
# on both the cut and the whole file.
# Usage: bench/long/run.sh CLI WORKDIR
set -uo pipefail
CLI=${1:?usage: run.sh CLI WORKDIR}
WORK=${2:?usage: run.sh CLI WORKDIR}
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
measure() { # label command...
  local label=$1; shift
  /usr/bin/time -f "%e %M" -o "$OUT/t" "$@" >/dev/null 2>"$OUT/err" || { echo "| $label | failed: $(tail -1 "$OUT/err") |"; return; }
  read -r s kb <"$OUT/t"
  printf '| %s | %s | %.0f |\n' "$label" "$s" "$(echo "$kb / 1024" | bc -l)"
}
for name in screen photo; do
  full=$WORK/$name-*0.gif
  full=$(ls $WORK/$name-1000.gif $WORK/$name-3000.gif 2>/dev/null | head -1)
  cut=$WORK/$name-cut100.gif
  [ -s "$cut" ] || gm convert "$full[0-99]" "$cut"
  echo "| $name | seconds | peak MB |"
  echo "|---|---|---|"
  measure "ours open, 100 frames" "$CLI" open "$cut" "$OUT/o.gif"
  measure "ours optimize, 100 frames" "$CLI" optimize "$cut" "$OUT/o.gif"
  measure "gm convert -coalesce +dither -colors 256, 100 frames" gm convert "$cut" -coalesce +dither -colors 256 "$OUT/g.gif"
  measure "ours open, $(basename "$full")" "$CLI" open "$full" "$OUT/o.gif"
  measure "ours optimize, $(basename "$full")" "$CLI" optimize "$full" "$OUT/o.gif"
  echo
done
