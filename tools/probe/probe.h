// SPDX-License-Identifier: GPL-3.0-or-later
// Prints, frame by frame, the info panel's four lines (or a JSON record) for DV AVI files.
#pragma once

#include <cstdio>
#include <string>

namespace vantrel::probe {

enum class OutputMode { Unknown, InfoLines, Json };

// OutputFailed: writing to `out` failed; "write error: REASON" went to `err` and nothing more
// should be read.
enum class FileOutcome { Unknown, Read, ReadWithDamage, Unreadable, OutputFailed };

// Reads every frame of `path` in order from frame 0, with a fresh remembered shutter, and
// writes one line per frame to `out`. Problems go to `err` as "vantrel-probe: FILE: reason",
// an odd file name in $'...' quotes.
// Allocates per file, never per frame.
FileOutcome probeFile(const std::string& path, OutputMode mode, std::FILE* out, std::FILE* err);

// Says "vantrel-probe: write error: REASON" for the system error number.
void reportWriteError(std::FILE* err, int error);

}  // namespace vantrel::probe
