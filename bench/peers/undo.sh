#!/usr/bin/env bash
# The undo history's memory bound in a long session: 500 edits on photo.gif (100 frames of
# 640 × 480), with the editor's 200 MB bound and with no bound, side by side in one run.
#
# Usage: bench/peers/undo.sh BUILD_DIR [WORKDIR] [EDITS]
#   BUILD_DIR  a build tree configured with the GUI (undo_tool is built there with one job)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work)
#   EDITS      edits per session (default 500)
# Prints one line per session (see bench/undo_tool.cpp), then the peak memory of the bounded session
# over the unbounded one.
#
# Measured on the 2-core machine (photo.gif, 108 MB resident once opened):
#   500 edits:  bound 200 MB keeps the newest 478 steps, 199.8 MB held, peak RSS 421 MB;
#               no bound keeps 500 steps, 203.5 MB, peak 423 MB (ratio 0.99: 500 edits barely reach it)
#   1500 edits: bound keeps the newest 428 steps, 199.5 MB held, peak RSS 428 MB;
#               no bound keeps 1500 steps, 672 MB held, peak 960 MB (ratio 0.45)
# The rest of the peak above the history is the frame cache's decoded pictures and the filtered frames'
# own pictures in the document.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: undo.sh BUILD_DIR [WORKDIR] [EDITS]}
WORK=${2:-$ROOT/build/bench-work}
EDITS=${3:-500}
GIF=$WORK/photo.gif

[ -f "$GIF" ] || { echo "missing $GIF: run ../shared/bench/make_workloads.sh $WORK" >&2; exit 1; }
nice cmake --build "$BUILD" --target undo_tool -j1 >/dev/null
TOOL=$BUILD/bench/undo_tool

bounded=$(QT_QPA_PLATFORM=offscreen "$TOOL" "$GIF" "$EDITS" 2>/dev/null)
unbounded=$(QT_QPA_PLATFORM=offscreen "$TOOL" "$GIF" "$EDITS" 1000000 2>/dev/null)
echo "bound 200 MB: $bounded"
echo "no bound:     $unbounded"
peak() { sed -n 's/.*peak_rss=\([0-9.]*\).*/\1/p' <<<"$1"; }
python3 -c "import sys; print('peak RSS bounded / unbounded: %.2f' % (float(sys.argv[1]) / float(sys.argv[2])))" \
    "$(peak "$bounded")" "$(peak "$unbounded")"
