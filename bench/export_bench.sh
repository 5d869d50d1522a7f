#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Scenes and exports on a generated PAL tape: vantrel-export against real time with and without
# burn-in, vantrel-split against cp of the same file, the scene list against the per-frame probe.
# Run by hand; prints figures with the machine's load, since the build machines are shared.
# Usage: bench/export_bench.sh [BUILD_DIR] [MINUTES]   (defaults: build, 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
minutes=${2:-2}
tools=$build/tools
for tool in vantrel-dvgen vantrel-probe vantrel-export vantrel-split; do
  [ -x "$tools/$tool" ] || { echo "missing $tools/$tool: build it first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=$((minutes * 60 * 25))
seconds=$((minutes * 60))
tape=$work/tape.avi
# Four scenes, as camcorders lay out their packs.
"$tools/vantrel-dvgen" --camcorder-layout --frames "$frames" --jump $((frames / 4)):+600 \
  --jump $((frames / 2)):+3600 --jump $((3 * frames / 4)):+86400 -o "$tape" > /dev/null
cat "$tape" > /dev/null   # warm the page cache

calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
# Wall, user and system seconds of one run.
timed() { TIMEFORMAT='%R %U %S'; { time "$@" > /dev/null 2>&1; } 2>&1 | tail -1; }

echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) (shared by other builds)"
echo "tape: $minutes min PAL, $frames frames, $(( $(stat -c %s "$tape") / 1000000 )) MB, 4 scenes"
echo
for burn in none date panel; do
  args=()
  [ "$burn" != none ] && args=(--burn-in "$burn")
  read -r wall user sys < <(timed "$tools/vantrel-export" "${args[@]}" --chapters --subtitles "$tape" "$work/out-$burn.mp4")
  echo "export, burn-in $burn: $wall s wall, $(calc "$user + $sys") s CPU; $(calc "$seconds / $wall")x real time" \
       "(by CPU on 2 cores: $(calc "$seconds / (($user + $sys) / 2)")x)"
done
echo
read -r cp_wall _ _ < <(timed cp "$tape" "$work/copy.avi")
read -r split_wall _ _ < <(timed "$tools/vantrel-split" "$tape" "$work/part")
echo "split into scenes: $split_wall s; cp of the same file: $cp_wall s; ratio $(calc "$split_wall / $cp_wall")"
read -r scenes_wall _ _ < <(timed "$tools/vantrel-probe" --scenes "$tape")
read -r probe_wall _ _ < <(timed "$tools/vantrel-probe" "$tape")
echo "scene list: $scenes_wall s; per-frame probe: $probe_wall s"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
