// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of vantrel-dvgen, turned into tape options.
#pragma once

#include "dv/expected.h"
#include "tools/dvgen/tape_options.h"

#include <string>
#include <vector>

namespace vantrel::dvgen {

struct DvgenCommand {
    TapeOptions options;
    std::string outputPath;
    bool wantsHelp = false;
    bool wantsVersion = false;
};

// Parses the arguments after the program name; the error names the faulty argument.
Expected<DvgenCommand, std::string> parseDvgenArguments(const std::vector<std::string>& arguments);

extern const char* const kDvgenUsage;

}  // namespace vantrel::dvgen
