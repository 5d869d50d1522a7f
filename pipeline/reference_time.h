// SPDX-License-Identifier: GPL-3.0-or-later
// Media time of the pipeline: frame durations, positions and elapsed job time.
#pragma once

#include <cstdint>

namespace vantrel::pipeline {

using REFERENCE_TIME = std::int64_t;  // signed, in units of 100 ns

inline constexpr REFERENCE_TIME kReferenceTimePerSecond = 10'000'000;

}  // namespace vantrel::pipeline
