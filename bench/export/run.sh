#!/usr/bin/env bash
# The export dialog's figures on a screen recording: time from a change of settings to the first
# and to the exact size, the gap between the two, and the size the save then writes (export_tool);
# then "Tenir sous" 100 KB and 50 KB: bytes, PSNR over time (each input frame against the frame
# the output shows at that moment, ImageMagick compare) and seconds, beside gifsicle -O3 given the
# lossy value and colours that the fit chose (gifsicle has no size target of its own).
#
# Usage: bench/export/run.sh BUILD_DIR [WORKDIR] [RUNS]
#   WORKDIR  the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   RUNS     runs of each timing (default 3; the median is shown)
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: run.sh BUILD_DIR [WORKDIR] [RUNS]}
WORK=${2:-$ROOT/build/bench-work}
RUNS=${3:-3}
IN=$WORK/screen.gif
CLI=$BUILD/bin/movaro-gif-cli
TOOL=$BUILD/bench/export_tool
nice cmake --build "$BUILD" --target movaro-gif-cli export_tool -j1 >/dev/null
command -v gifsicle >/dev/null || { echo "gifsicle missing (scripts/install-deps.sh gifsicle)"; exit 1; }
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
for r in $(seq 1 "$RUNS"); do
  "$TOOL" "$IN" >"$OUT/steps-$r.txt" 2>/dev/null
done
# The median of each timing over the runs; sizes are the same in every run.
python3 - "$OUT" "$RUNS" <<'PY'
import re, statistics, sys
out, runs = sys.argv[1], int(sys.argv[2])
tables = [open(f"{out}/steps-{r}.txt").read().splitlines() for r in range(1, runs + 1)]
print(tables[0][0] + "  in 200 ms")
for i, line in enumerate(tables[0][1:], 1):
    cols = [re.split(r"\s{2,}", t[i].strip()) for t in tables]
    first = statistics.median(float(c[2]) for c in cols)
    exact = statistics.median(float(c[4]) for c in cols)
    c = cols[0]
    # What the window shows 200 ms after the change: the first figure when it came by then.
    print(f"{c[0]:<28} {c[1]:<46} {first:9.0f} {c[3]:>11} {exact:9.0f} {c[5]:>11} {c[6]:>8} {c[7]:>6}  {'yes' if first <= 200 else 'no'}")
PY

# PSNR over time: frame i of the input against the output's frame shown when frame i starts.
psnr_over_time() {
  python3 - "$CLI" "$1" "$2" "$OUT" <<'PY'
import json, math, os, subprocess, sys
cli, a, b, out = sys.argv[1:5]
def frames(path, tag):
    info = json.loads(subprocess.run([cli, "info", path], capture_output=True, check=True).stdout)
    delays = []
    for f in info["frames"]:
        g = [e for e in f["extensions"] if e["kind"] == "graphic-control"]
        delays.append(g[0]["delay"] if g else 0)
    d = f"{out}/{tag}"
    os.makedirs(d, exist_ok=True)
    subprocess.run(["convert", path, "-coalesce", f"{d}/f%04d.png"], check=True)
    return delays, [f"{d}/f{i:04d}.png" for i in range(len(delays))]
da, fa = frames(a, "in")
db, fb = frames(b, "out")
starts_b, t = [], 0
for d in db:
    starts_b.append(t); t += d
total, t, j = 0.0, 0, 0
for i, f in enumerate(fa):
    while j + 1 < len(fb) and starts_b[j + 1] <= t:
        j += 1
    r = subprocess.run(["compare", "-metric", "MSE", f, fb[j], "null:"], capture_output=True, text=True)
    m = r.stderr.strip()
    total += float(m[m.index("(") + 1:m.index(")")]) if "(" in m else 1.0
    t += da[i]
mse = total / len(fa)
print("inf" if mse == 0 else f"{10 * math.log10(1 / mse):.2f}")
PY
}
median_time() { # command... -> median wall seconds of RUNS runs
  for _ in $(seq 1 "$RUNS"); do
    /usr/bin/time -f '%e' -o "$OUT/t.one" "$@" >/dev/null 2>&1 || true
    cat "$OUT/t.one"
  done | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}

printf '\n%-10s %-40s %9s %9s %8s %s\n' target tool bytes PSNR seconds settings
for kb in 100 50; do
  secs=$(median_time "$CLI" -q export --fit-under "$kb" "$IN" "$OUT/ours.gif")
  "$CLI" -q export --fit-under "$kb" "$IN" "$OUT/ours.gif" >"$OUT/fit.txt"
  settings=$(grep '^level' "$OUT/fit.txt")
  given=$(grep '^given up' "$OUT/fit.txt")
  lossy=$(echo "$settings" | sed -n 's/.*lossy \([0-9]*\),.*/\1/p')
  colours=$(echo "$settings" | sed -n 's/.*colours \([0-9]*\),.*/\1/p')
  printf '%-10s %-40s %9s %9s %8s %s\n' "$kb KB" "ours export --fit-under $kb" "$(stat -c %s "$OUT/ours.gif")" \
    "$(psnr_over_time "$IN" "$OUT/ours.gif")" "$secs" "$settings ($given)"
  peer=(gifsicle -O3 --lossy="$lossy")
  [ "$colours" -lt 256 ] && peer+=(--colors="$colours")
  gsecs=$(median_time "${peer[@]}" "$IN" -o "$OUT/peer.gif")
  printf '%-10s %-40s %9s %9s %8s %s\n' "$kb KB" "${peer[*]}" "$(stat -c %s "$OUT/peer.gif")" \
    "$(psnr_over_time "$IN" "$OUT/peer.gif")" "$gsecs" "all frames"
done
