// SPDX-License-Identifier: GPL-3.0-or-later
// MediaInfo's per-frame reading of a DV file (time code and recording date of every frame).
#pragma once

#include <string>
#include <vector>

namespace vantrel::tests {

struct MediaInfoFrame {
    long frame = -1;
    std::string timecode;   // "HH:MM:SS:FF" (';' before the frames of drop-frame turned into ':'), or ""
    std::string recorded;   // "YYYY-MM-DD HH:MM:SS", or ""
};

// Runs `mediainfo --ParseSpeed=1 --File_DvDif_Analysis=1 -f FILE` and parses its Errors_Stats table.
std::vector<MediaInfoFrame> mediaInfoFrames(const std::string& path);

// The probe's line turned into the same two texts, for comparison.
MediaInfoFrame probeLineAsMediaInfo(const std::string& line);

}  // namespace vantrel::tests
