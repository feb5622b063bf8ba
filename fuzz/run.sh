#!/usr/bin/env bash
# Builds the fuzzers with clang and runs one: fuzz/run.sh NAME SECONDS [SEED-DIR...]
# Crashes, slow and greedy inputs land in build/fuzz/findings/NAME; the grown corpus in build/fuzz/corpus/NAME.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
./scripts/install-deps.sh clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$1" >/dev/null
name=$1
seconds=$2
shift 2
mkdir -p "build/fuzz/corpus/$name" "build/fuzz/findings/$name"
# A slow or greedy input is a finding like a crash: 10 s for one input, 512 MB resident and 512 MB
# in one allocation stop the run and keep the input. Freed blocks held back to catch late uses
# count as resident: 64 MB of them rather than 256 keeps the limit about the code's own memory.
export ASAN_OPTIONS="quarantine_size_mb=64${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
exec "build/fuzz/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=512 -malloc_limit_mb=512 \
    -artifact_prefix="build/fuzz/findings/$name/" "build/fuzz/corpus/$name" "$@"
