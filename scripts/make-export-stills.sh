#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's stills of burnt-in exports: the demo tape exported with the date and with the
# info panel burnt in, frame 400 of each decoded by ffmpeg at its display aspect (768 x 576).
# Usage: scripts/make-export-stills.sh [BUILD_DIR]   (writes docs/images/export-*.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tape=$(VANTREL_DVGEN=$build/tools/vantrel-dvgen bash "$root/scripts/make-demo-tape.sh" "$work")
for burn in date panel; do
  "$build/tools/vantrel-export" --burn-in "$burn" "$tape" "$work/$burn.mp4" 2> /dev/null
  ffmpeg -v error -y -i "$work/$burn.mp4" -vf "select=eq(n\,400),scale=768:576" -frames:v 1 \
    "$root/docs/images/export-burn-in-$burn.png"
done
