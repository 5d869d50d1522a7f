#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes a PAL type-2 DV AVI file of MINUTES minutes (once, in the build tree) and runs
# analysis_bench on it: analysis frames a second beside cat and MediaInfo, with peak memory.
# The tape is laid out as camcorders write it (date and time only in the second half of the
# sequences), since how much of each frame the analysis reads depends on where the packs are.
# Usage: bench/analysis_bench.sh [BUILD_DIR] [MINUTES]   (defaults: build, 10)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
minutes=${2:-10}
bench=$build/bench/analysis_bench
dvgen=$build/tools/vantrel-dvgen
for tool in "$bench" "$dvgen"; do
  [ -x "$tool" ] || { echo "missing $tool: build analysis_bench and vantrel-dvgen" >&2; exit 1; }
done
frames=$((minutes * 60 * 25))
tape=$build/bench-data/analysis-pal-${minutes}min-camcorder.avi
mkdir -p "$(dirname "$tape")"
if [ ! -f "$tape" ]; then
  "$dvgen" --system pal --type 2 --camcorder-layout --frames "$frames" --jump $((frames / 2)):+3600 -o "$tape"
fi
"$bench" "$tape"
if command -v mediainfo > /dev/null; then
  # By default MediaInfo analyses only some frames of a long file; --ParseSpeed=1 reads them all.
  analysed=$(mediainfo --File_DvDif_Analysis=1 -f "$tape" | sed -n 's/^Errors_Stats_End *: Frame Count: \([0-9]*\).*/\1/p')
  echo "(mediainfo --File_DvDif_Analysis=1 analysed ${analysed:-?} of $frames frames)"
fi
