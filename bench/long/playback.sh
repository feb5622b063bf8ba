#!/usr/bin/env bash
# Playback of the 1920 × 1080, 1000-frame workload of make_long.sh in the animated view, in a real
# X server (Xvfb) and offscreen: how far each frame lands from the time the schedule set for it
# (sched_late), and the process's CPU time (every thread) against the wall time, over SECONDS.
# Then stepping to frames far apart (step_tool).
#
# Usage: bench/long/playback.sh BUILD_DIR WORKDIR [SECONDS] [DELAY]
#   DELAY  hundredths given to every frame (default 8: 96 ms a frame at the player's 12 ms a
#          hundredth, a little over 10 frames a second)
set -euo pipefail
BUILD=${1:?usage: playback.sh BUILD_DIR WORKDIR [SECONDS] [DELAY]}
WORK=${2:?usage: playback.sh BUILD_DIR WORKDIR [SECONDS] [DELAY]}
SECONDS_=${3:-20}
DELAY=${4:-8}
GIF=$WORK/screen-1000.gif
[ -s "$GIF" ] || { echo "missing $GIF: run bench/long/make_long.sh $WORK" >&2; exit 1; }
nice cmake --build "$BUILD" --target playback_tool step_tool -j1 >/dev/null

echo "xcb:       $(QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1920x1200x24' \
  "$BUILD/bench/playback_tool" "$GIF" "$SECONDS_" "$DELAY" 2>/dev/null)"
echo "offscreen: $(QT_QPA_PLATFORM=offscreen "$BUILD/bench/playback_tool" "$GIF" "$SECONDS_" "$DELAY" 2>/dev/null)"
echo "stepping:  $(QT_QPA_PLATFORM=offscreen "$BUILD/bench/step_tool" "$GIF" 0 999 500)"
