#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How fast vantrel-probe reads a DV AVI file, beside reading the file with cat (warm cache) and
# MediaInfo's per-frame DV analysis of the same file. Run by hand; prints figures.
# Usage: bench/probe_bench.sh [BUILD_DIR] [MINUTES]   (defaults: build, 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
minutes=${2:-2}
probe=$build/tools/vantrel-probe
dvgen=$build/tools/vantrel-dvgen
for tool in "$probe" "$dvgen"; do
  [ -x "$tool" ] || { echo "missing $tool: build vantrel-probe and vantrel-dvgen" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
frames=$((minutes * 60 * 25))
tape=$work/bench-pal.avi
# Laid out as camcorders write it: the date and time only in the second half of the sequences.
"$dvgen" --system pal --type 2 --camcorder-layout --frames "$frames" --jump $((frames / 2)):+3600 -o "$tape"
bytes=$(stat -c %s "$tape")

calc() { awk "BEGIN { print $1 }"; }

# Best of three runs, in seconds.
best_of_three() {
  local best="" start end elapsed
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    elapsed=$(calc "$end - $start")
    if [ -z "$best" ] || [ "$(calc "$elapsed < $best")" = 1 ]; then best=$elapsed; fi
  done
  echo "$best"
}

cat "$tape" > /dev/null   # warm the page cache
cat_s=$(best_of_three cat "$tape")
probe_s=$(best_of_three "$probe" "$tape")
json_s=$(best_of_three "$probe" --json "$tape")
lines=$("$probe" "$tape" | wc -l)
[ "$lines" -eq "$frames" ] || { echo "probe printed $lines lines for $frames frames" >&2; exit 1; }

printf 'file: PAL type 2, %d frames (%d min), %.1f MB, page cache warm\n' "$frames" "$minutes" "$(calc "$bytes / 1000000")"
printf '%-34s %9s %12s %10s\n' "reader" "seconds" "frames/s" "MB/s"
row() { printf '%-34s %9.3f %12.0f %10.0f\n' "$1" "$2" "$(calc "$frames / $2")" "$(calc "$bytes / 1000000 / $2")"; }
row "cat FILE > /dev/null" "$cat_s"
row "vantrel-probe FILE" "$probe_s"
row "vantrel-probe --json FILE" "$json_s"
if command -v mediainfo > /dev/null; then
  # By default MediaInfo analyses only the first frames of a long file; --ParseSpeed=1 makes it
  # read them all, which is the fair comparison. Both rows count the whole file's frames.
  mediainfo_s=$(best_of_three mediainfo --File_DvDif_Analysis=1 "$tape")
  analysed=$(mediainfo --File_DvDif_Analysis=1 -f "$tape" | sed -n 's/^Errors_Stats_End *: Frame Count: \([0-9]*\).*/\1/p')
  row "mediainfo --File_DvDif_Analysis=1" "$mediainfo_s"
  echo "  (analysed ${analysed:-?} of $frames frames)"
  full_s=$(best_of_three mediainfo --ParseSpeed=1 --File_DvDif_Analysis=1 "$tape")
  row "  same with --ParseSpeed=1" "$full_s"
  printf 'probe vs mediainfo (all frames): %.1f times as fast\n' "$(calc "$full_s / $probe_s")"
else
  echo "mediainfo not installed: its rows are left out"
fi
printf 'probe vs cat:                    %.2f times the time of cat\n' "$(calc "$probe_s / $cat_s")"
