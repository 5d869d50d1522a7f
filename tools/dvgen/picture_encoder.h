// SPDX-License-Identifier: GPL-3.0-or-later
// Encodes a short loop of moving test pictures into DV frames (GStreamer's DV encoder).
#pragma once

#include "dv/dif_layout.h"
#include "dv/expected.h"

#include <cstddef>
#include <string>
#include <vector>

namespace vantrel::dvgen {

// `count` consecutive pictures of the videotestsrc pattern `pattern` (ball, smpte, snow, ...),
// each one whole DV frame of the system's size: 4:2:0 for PAL, 4:1:1 for NTSC.
// The same arguments give the same bytes.
Expected<std::vector<std::vector<std::byte>>, std::string> encodeTestPictures(dv::VideoSystem system,
                                                                            const std::string& pattern, int count);

}  // namespace vantrel::dvgen
