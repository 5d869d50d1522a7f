#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes two PAL type-2 DV AVI files of MINUTES minutes (once, in the build tree) and runs
# analysis_bench on each: the analysis thread and vantrel-probe beside cat and MediaInfo, with
# CPU time and peak memory, page cache warm and cold; each reader runs 5 times, interleaved with
# the others, and the medians are compared (ROUNDS overrides the 5).
#   camcorder layout: every pack, the date and time only in the second half of the sequences,
#     as camcorders write them; few sequences decide a frame.
#   ffmpeg layout: what ffmpeg writes (no camera, shutter or date packs), like camcorders
#     without a shutter pack and blank stretches: every sequence of every frame must be read.
# Usage: bench/analysis_bench.sh [BUILD_DIR] [MINUTES]   (defaults: build, 10)
# ROUNDS=N runs each reader N times; BENCH_OPTIONS=--as-found keeps the page cache as the files
# were left (meaningful right after they were made: as their writers left them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
minutes=${2:-10}
bench=$build/bench/analysis_bench
dvgen=$build/tools/vantrel-dvgen
probe=$build/tools/vantrel-probe
for tool in "$bench" "$dvgen" "$probe"; do
  [ -x "$tool" ] || { echo "missing $tool: build analysis_bench, vantrel-dvgen and vantrel-probe" >&2; exit 1; }
done
frames=$((minutes * 60 * 25))
data=$build/bench-data
mkdir -p "$data"
camcorder=$data/analysis-pal-${minutes}min-camcorder.avi
if [ ! -f "$camcorder" ]; then
  "$dvgen" --system pal --type 2 --camcorder-layout --frames "$frames" --jump $((frames / 2)):+3600 -o "$camcorder"
fi
ffmpeg_tape=$data/analysis-pal-${minutes}min-ffmpeg.avi
if [ ! -f "$ffmpeg_tape" ] && command -v ffmpeg > /dev/null; then
  # One second encoded by ffmpeg, then copied over and over by ffmpeg into a file of its own.
  second=$(mktemp --suffix=.avi)
  trap 'rm -f "$second"' EXIT
  ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
    -t 1 -c:v dvvideo -pix_fmt yuv420p -c:a pcm_s16le -ac 2 "$second"
  ffmpeg -v error -y -stream_loop $((minutes * 60 - 1)) -i "$second" -c copy "$ffmpeg_tape"
fi
for tape in "$camcorder" "$ffmpeg_tape"; do
  [ -f "$tape" ] || { echo "no ffmpeg: the ffmpeg layout is left out"; continue; }
  echo "== $(basename "$tape")"
  "$bench" "$tape" --probe "$probe" --cold --rounds "${ROUNDS:-5}" ${BENCH_OPTIONS:-}
  if command -v mediainfo > /dev/null; then
    # By default MediaInfo analyses only some frames of a long file; --ParseSpeed=1 reads them all.
    analysed=$(mediainfo --File_DvDif_Analysis=1 -f "$tape" | sed -n 's/^Errors_Stats_End *: Frame Count: \([0-9]*\).*/\1/p')
    echo "(mediainfo --File_DvDif_Analysis=1 analysed ${analysed:-?} of $frames frames)"
  fi
done
