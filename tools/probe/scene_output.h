// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the scene list of DV files: one line (or JSON object) per scene.
#pragma once

#include "tools/probe/probe.h"

#include <cstdio>
#include <string>

namespace vantrel::probe {

// Analyses `path` on the analysis engine and writes its scenes to `out`; problems go to `err`
// as "vantrel-probe: FILE: reason".
FileOutcome listScenes(const std::string& path, OutputMode mode, int sceneGapSeconds, std::FILE* out,
                       std::FILE* err);

}  // namespace vantrel::probe
