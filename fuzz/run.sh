#!/usr/bin/env bash
# Builds the fuzzers with clang and runs one: fuzz/run.sh NAME SECONDS [SEED-DIR...]
# Crashes and slow inputs land in build/fuzz/findings/NAME; the grown corpus in build/fuzz/corpus/NAME.
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
# Fork mode keeps the run going past slow inputs (a huge frame legitimately announced by a few
# bytes costs seconds under the sanitizers); crashes still stop it.
exec "build/fuzz/fuzz/$name" -fork=1 -ignore_timeouts=1 -ignore_ooms=1 -max_total_time="$seconds" \
    -timeout=30 -rss_limit_mb=2560 \
    -artifact_prefix="build/fuzz/findings/$name/" "build/fuzz/corpus/$name" "$@"
