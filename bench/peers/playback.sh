#!/usr/bin/env bash
# Playback of a 640 × 480 animation in the animated view: CPU use of the process and how far each
# shown frame lands from its time, offscreen and in a real X server (Xvfb).
#
# Usage: bench/peers/playback.sh BUILD_DIR [WORKDIR] [SECONDS] [DELAY]
#   BUILD_DIR  a build tree configured with the GUI (playback_tool is built there with one job)
#   WORKDIR    the workloads of ../shared/bench/make_workloads.sh (default: build/bench-work);
#              photo.gif there is 100 frames of 640 × 480
#   SECONDS    how long each run plays (default 10)
#   DELAY      hundredths given to every frame (default 8: 96 ms a frame, about 10 frames a second
#              at the player's 12 ms a hundredth)
# Prints one line per platform. step_err: |shown interval − 12 × delay| per frame; drift: the
# last frame's time against the ideal timeline from the first frame.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=${1:?usage: playback.sh BUILD_DIR [WORKDIR] [SECONDS] [DELAY]}
WORK=${2:-$ROOT/build/bench-work}
SECONDS_=${3:-10}
DELAY=${4:-8}
GIF=$WORK/photo.gif

[ -f "$GIF" ] || { echo "missing $GIF: run ../shared/bench/make_workloads.sh $WORK" >&2; exit 1; }
nice cmake --build "$BUILD" --target playback_tool -j1 >/dev/null
TOOL=$BUILD/bench/playback_tool

QT_QPA_PLATFORM=offscreen "$TOOL" "$GIF" "$SECONDS_" "$DELAY" 2>/dev/null
if command -v xvfb-run >/dev/null; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" "$TOOL" "$GIF" "$SECONDS_" "$DELAY" 2>/dev/null
else
  echo "xvfb-run not found: X server run skipped" >&2
fi
