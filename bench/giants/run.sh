#!/usr/bin/env bash
# Time and peak memory of info, open and optimize on tiny files that announce huge frames.
# Usage: bench/giants/run.sh CLI [WORKDIR]   (prints a Markdown table)
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
CLI=${1:?usage: run.sh CLI [WORKDIR]}
WORK=${2:-$(mktemp -d)}
python3 "$HERE/make_giants.py" "$WORK"
echo "| file | command | time s | peak MB | result |"
echo "|---|---|---|---|---|"
for f in "$WORK"/giant-*.gif; do
  name=$(basename "$f" .gif)
  for cmd in info open optimize; do
    args=("$f")
    [ "$cmd" = info ] || args+=("$WORK/out-$cmd.gif")
    rm -f "$WORK/out-$cmd.gif"
    stats=$( { /usr/bin/time -f '%e %M' "$CLI" "$cmd" "${args[@]}" >/dev/null 2>"$WORK/err"; } 2>&1 | tail -1)
    result=$(grep -v '^[0-9.]* [0-9]*$' "$WORK/err" | head -1 | sed 's/movaro-gif-cli: //')
    [ -z "$result" ] && [ -s "$WORK/out-$cmd.gif" ] && result="writes $(stat -c %s "$WORK/out-$cmd.gif") bytes"
    [ -z "$result" ] && result=ok
    # time(1) prints into the command's stderr file when it is redirected: read it from there
    line=$(grep -E '^[0-9.]+ [0-9]+$' "$WORK/err" | tail -1)
    [ -n "$line" ] && stats=$line
    printf '| %s | %s | %s | %.0f | %s |\n' "$name" "$cmd" "${stats% *}" "$(echo "${stats#* } / 1024" | bc -l)" "$result"
  done
done
