#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is needed, builds, and runs the main job on the demo tape: until the player
# window exists, that is vantrel-probe reading the tape frame by frame.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
cmake -S "$root" -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > build.configure.log 2>&1 \
  || { cat build.configure.log; exit 1; }
cmake --build build -j "$(nproc)" --target vantrel-probe vantrel-dvgen

tape=$(bash scripts/make-demo-tape.sh "$root/demo")
echo "== vantrel-probe $tape (the frames where the camera settings change, and the last frame)"
./build/tools/vantrel-probe "$tape" > demo/probe.txt
awk -F'\t' 'NR == 1 || $3 != exposure || $4 != balance { print } { exposure = $3; balance = $4 } END { print }' demo/probe.txt
echo "== $(wc -l < demo/probe.txt) frames; full listing in demo/probe.txt"
