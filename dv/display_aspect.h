// SPDX-License-Identifier: GPL-3.0-or-later
// The display aspect a camcorder records in the VAUX video source control pack of each frame.
#pragma once

#include "dv/dif_layout.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel::dv {

enum class DisplayAspect { Unknown, Standard4x3, Wide16x9 };

constexpr std::uint8_t kVideoSourceControlPack = 0x61;

// The aspect of the frame's first video source control pack (0x61): its PC2 bits 2..0 say
// 0 for a 4:3 picture, 2 for a 16:9 picture (full-height anamorphic), 1 for 4:3 letterbox;
// other values and a missing pack read as Unknown, which a viewer shows as 4:3.
DisplayAspect DecodeDisplayAspect(std::span<const std::byte> frame, VideoSystem system) noexcept;

}  // namespace vantrel::dv
