#!/usr/bin/env bash
# Side-by-side figures against peer tools, in one run: bench/vs_peers.sh [SECTION...]
# Sections are the scripts in bench/peers/ (encode, quantize, decode, open, optimize, ...), each
# called as SECTION.sh BUILD_DIR WORKDIR;
# without arguments every section runs. Each prints its timings and the ratios to the peers.
# Workloads are built once into build/bench-work by ../shared/bench/make_workloads.sh.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

./scripts/install-deps.sh gifsicle graphicsmagick imagemagick giflib-tools hyperfine time ffmpeg
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null

export BENCH_WORK="${BENCH_WORK:-$root/build/bench-work}"
export BENCH_BIN="$root/build/default/bin"
export BENCH_BUILD="$root/build/default"
export SHARED_BENCH="${SHARED_BENCH:-$root/../shared/bench}"
export MAGICK_CONFIGURE_PATH="$SHARED_BENCH/im-policy"
mkdir -p "$BENCH_WORK"
if [ ! -f "$BENCH_WORK/photo.gif" ]; then
    echo "== building the workloads (once)"
    "$SHARED_BENCH/make_workloads.sh" "$BENCH_WORK"
fi

sections=("$@")
if [ ${#sections[@]} -eq 0 ]; then
    for s in bench/peers/*.sh; do sections+=("$(basename "$s" .sh)"); done
fi
for s in "${sections[@]}"; do
    echo
    echo "== $s"
    bash "bench/peers/$s.sh" "$BENCH_BUILD" "$BENCH_WORK"
done
