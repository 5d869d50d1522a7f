#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a Qt test program on a fresh virtual X server; exit 77 (skipped) where there is none.
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run is not installed: skipped"; exit 77; }
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"
