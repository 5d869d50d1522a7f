#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the demo tape: one minute of PAL DV (type-2 AVI) in four scenes, the recording clock
# jumping at each cut, the camera settings changing with the light, a short dropout of the camera
# pack and of the time code. Prints the tape's path.
# Usage: scripts/make-demo-tape.sh OUT_DIR   (VANTREL_DVGEN names the generator, default build/tools/vantrel-dvgen)
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUT_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
dvgen=${VANTREL_DVGEN:-$root/build/tools/vantrel-dvgen}
if [ ! -x "$dvgen" ]; then
  echo "$0: $dvgen is missing: build the vantrel-dvgen target first" >&2
  exit 1
fi
mkdir -p "$1"
tape="$(cd "$1" && pwd)/demo-tape.avi"

# Scene 1 (frames 0-374): a summer evening outdoors, automatic exposure, F8, 1/100 s.
# Scene 2 (375-749): indoors under lamps 2 h 47 min later, iris priority, F2.0, gain up, 1/50 s,
#   darker still from frame 600 on (more gain, 1/25 s).
# Scene 3 (750-1124): the next morning under clouds, manual exposure, one-push white balance, 1/120 s.
# Scene 4 (1125-1499): three days later in the sun again, 1/600 s.
# Frames 1000-1009 lost the camera pack; frames 1100-1104 carry damaged first copies of the time code.
"$dvgen" --system pal --type 2 --frames 1500 --audio 48k --pattern ball \
  --start 2004-07-14T18:03:09 --timecode 00:12:31:04 \
  --camera iris=24,ae=0,gain=1,wb=0,light=4 --shutter 100 \
  --jump 375:+10020 --camera 375:iris=8,ae=3,gain=5,wb=1,light=1 --shutter 375:50 \
  --camera 600:iris=8,ae=3,gain=7,wb=1,light=1 --shutter 600:25 \
  --jump 750:+50400 --camera 750:iris=16,ae=4,gain=1,wb=2,light=5 --shutter 750:120 \
  --jump 1125:+259200 --camera 1125:iris=28,ae=0,gain=1,wb=0,light=4 --shutter 1125:600 \
  --no-camera 1000-1009 --damage 13:1100-1104 \
  -o "$tape"
echo "$tape"
