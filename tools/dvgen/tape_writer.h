// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the frames of a generated tape into a file: DV AVI type 1 or 2, or raw DV.
#pragma once

#include "dv/expected.h"

#include <string>

namespace vantrel::dvgen {

class TapeGenerator;

Expected<void, std::string> writeTape(TapeGenerator& generator, const std::string& path);

}  // namespace vantrel::dvgen
