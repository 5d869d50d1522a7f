#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is needed, builds, and runs the main job on the demo tape: vantrel-probe reads the
# tape frame by frame, then the player window opens it and plays it. Without a display the player
# runs under Xvfb for a few seconds and saves a screenshot whose path it prints.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
cmake -S "$root" -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 \
  || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)" --target vantrel-probe vantrel-dvgen vantrel

tape=$(bash scripts/make-demo-tape.sh "$root/demo")
echo "== vantrel-probe $tape (the frames where the camera settings change, and the last frame)"
./build/tools/vantrel-probe "$tape" > demo/probe.txt
awk -F'\t' 'NR == 1 || $3 != exposure || $4 != balance { print } { exposure = $3; balance = $4 } END { print }' demo/probe.txt
echo "== $(wc -l < demo/probe.txt) frames; full listing in demo/probe.txt"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== vantrel $tape (the player window; close it to end)"
  ./build/shell/vantrel --play "$tape"
else
  echo "== vantrel $tape (no display: played under Xvfb for 4 seconds)"
  shot=$(xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb \
    ./build/shell/vantrel --screenshot "$root/demo/player-screenshot.png" --seconds 4 "$tape" 2>/dev/null)
  echo "== screenshot of the player window: $shot"
fi
