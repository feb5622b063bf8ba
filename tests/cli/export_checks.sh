#!/usr/bin/env bash
# Black-box checks of movaro-gif-cli export: the size it prints is the file it writes, each frame's
# bytes add up, "fit under" writes a file under the target or fails saying so, bad options are usage errors.
set -euo pipefail
cli="$1"
corpus="$2"
out="$3"
rm -rf "$out"
mkdir -p "$out"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

in="$corpus/blink-images/resources/quicksort.gif"
[ -f "$in" ] || fail "corpus file missing: $in"

"$cli" export --level 2 --lossy 40 --colours 64 --dither ordered --sizes "$in" "$out/a.gif" >"$out/a.txt"
python3 - "$out/a.txt" "$out/a.gif" <<'PY' || fail "export printed sizes that are not the file's: $(cat "$out/a.txt")"
import os, re, sys
text = open(sys.argv[1]).read()
size = int(re.search(r"^size: (\d+) bytes$", text, re.M).group(1))
frames = [int(v) for v in re.findall(r"^frame \d+: (\d+) bytes$", text, re.M)]
assert "level 2, lossy 40, colours 64, dither ordered, drop every 0" in text, text
assert size == os.path.getsize(sys.argv[2]), (size, os.path.getsize(sys.argv[2]))
table = 3 * 64
assert sum(frames) + 13 + table + 1 == size, (sum(frames), size)
PY
frames=$("$cli" info "$out/a.gif" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["frames"]))')
[ "$frames" = "$(grep -c '^frame ' "$out/a.txt")" ] || fail "--sizes lists $(grep -c '^frame ' "$out/a.txt") frames, the file has $frames"

"$cli" export --fit-under 78 "$in" "$out/fit.gif" >"$out/fit.txt"
grep -q '^fits under 78000 bytes' "$out/fit.txt" || fail "fit: $(cat "$out/fit.txt")"
grep -q '^given up: .*lossy' "$out/fit.txt" || fail "fit gave up nothing: $(cat "$out/fit.txt")"
[ "$(stat -c %s "$out/fit.gif")" -le 78000 ] || fail "fit wrote $(stat -c %s "$out/fit.gif") bytes"

set +e
"$cli" export --fit-under 1 "$in" "$out/tiny.gif" >"$out/tiny.txt" 2>"$out/tiny.err"
status=$?
"$cli" export --level 1 --lossy 20 "$in" "$out/bad.gif" 2>/dev/null
bad=$?
set -e
[ "$status" = 1 ] || fail "an unreachable size exited $status"
grep -q '^cannot fit under 1000 bytes' "$out/tiny.txt" || fail "unreachable: $(cat "$out/tiny.txt")"
[ -s "$out/tiny.gif" ] || fail "the smallest file found was not written"
[ "$bad" = 2 ] || fail "--lossy below level 2 exited $bad"
echo "cli export checks passed"
