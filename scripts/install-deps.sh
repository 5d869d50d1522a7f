#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every Debian 12 package that the build, the tests and the demo need. Safe to run again.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  # media graphs and DV
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-tools
  libdv4-dev
  # exports for viewing: x264enc, and libavformat for MP4/Matroska with chapters and subtitles
  gstreamer1.0-plugins-ugly libavformat-dev
  # batched reads of the frames' metadata blocks
  liburing-dev
  # IEEE 1394 camcorders
  libraw1394-dev libavc1394-dev libiec61883-dev
  # peers the tests compare against
  ffmpeg mediainfo dvgrab
  # a private message bus for the sleep inhibitor's test
  dbus-daemon
  # user interface, screenshots
  qt6-base-dev libqt6svg6 xvfb xauth fonts-dejavu-core
  # installing and packaging: manual pages, icons, the Debian package and the checks of all three
  scdoc librsvg2-bin dpkg-dev file desktop-file-utils appstream shared-mime-info lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
