// SPDX-License-Identifier: GPL-3.0-or-later
// The display aspect a camcorder records in the VAUX video source control pack of each frame.
#include "dv/display_aspect.h"

#include "dv/pack_search.h"

namespace vantrel::dv {

DisplayAspect DecodeDisplayAspect(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    const auto pack = FindVauxPack(frame, system, kVideoSourceControlPack);
    if (!pack) return DisplayAspect::Unknown;
    switch (pack->pc[2] & 0x07) {
    case 0x00:                                  // full frame 4:3
    case 0x01: return DisplayAspect::Standard4x3;  // 4:3 letterbox in a 4:3 frame
    case 0x02: return DisplayAspect::Wide16x9;     // 16:9 squeezed into the frame
    default: return DisplayAspect::Unknown;
    }
}

}  // namespace vantrel::dv
