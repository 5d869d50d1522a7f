// SPDX-License-Identifier: GPL-3.0-or-later
// Tells a DV frame by the IDs of its first DIF blocks, and its system by the header block's DSF bit.
#pragma once

#include "dv/dif_layout.h"

#include <cstddef>
#include <span>

namespace vantrel::dv {

// Bytes at the start of a frame that startsWithDifHeader looks at: sequence 0 up to its VAUX blocks.
constexpr std::size_t kDifHeaderCheckBytes = 6 * kDifBlockBytes;

// Whether the frame starts as every DV frame does: block 0 is a header block of sequence 0
// (section type 0, sequence 0, block number 0), and, where the span reaches them, block 1 is
// subcode (section type 1) and block 3 is VAUX (section type 2). Garbage, zeros and other video
// formats fail. A span shorter than one block fails.
bool startsWithDifHeader(std::span<const std::byte> frameStart) noexcept;

// The system the header block names: its DSF bit (byte 3, bit 7) is 1 for 625/50 (PAL) and 0 for
// 525/60 (NTSC). Unknown when the frame does not start with a DIF header.
VideoSystem systemOfDifHeader(std::span<const std::byte> frameStart) noexcept;

}  // namespace vantrel::dv
