// SPDX-License-Identifier: GPL-3.0-or-later
// Prints, frame by frame, the info panel's four lines (or a JSON record) for DV AVI files.
#pragma once

#include <cstdio>
#include <string>

namespace vantrel::probe {

enum class OutputMode { Unknown, InfoLines, Json };

enum class FileOutcome { Unknown, Read, ReadWithDamage, Unreadable };

// Reads every frame of `path` in order from frame 0, with a fresh remembered shutter, and
// writes one line per frame to `out`. Problems go to `err` as "vantrel-probe: FILE: reason".
// Allocates per file, never per frame.
FileOutcome probeFile(const std::string& path, OutputMode mode, std::FILE* out, std::FILE* err);

}  // namespace vantrel::probe
