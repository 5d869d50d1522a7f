// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the recording date of a DV file as a SubRip or WebVTT subtitle file.
#pragma once

#include <string>
#include <vector>

namespace vantrel::exporting {

enum class SubtitleOutcome { Unknown, Done, DoneWithoutDates, DoneWithDamage, CouldNotStart, Failed };

// Opens the output first (an unwritable path fails before any work), analyses the input and
// writes one cue per shown text. `notes` receives damage and the reason of a failure.
SubtitleOutcome exportDateSubtitles(const std::string& inputPath, const std::string& outputPath,
                                    const std::string& dateFormat, std::vector<std::string>& notes);

}  // namespace vantrel::exporting
