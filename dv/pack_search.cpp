// SPDX-License-Identifier: GPL-3.0-or-later
// Finds packs by ID in the subcode and VAUX areas of a DV frame.
#include "dv/pack_search.h"

#include <algorithm>

namespace vantrel::dv {
namespace {

DVPack packAt(std::span<const std::byte> frame, std::size_t offset) noexcept
{
    DVPack pack{};
    for (std::size_t i = 0; i < kPackBytes; ++i) pack.pc[i] = static_cast<std::uint8_t>(frame[offset + i]);
    return pack;
}

bool hasFillerData(const DVPack& pack) noexcept
{
    return pack.pc[2] == 0xFF || pack.pc[3] == 0xFF || pack.pc[4] == 0xFF;
}

// A BCD field whose digits are both at most 9 and whose value, with the tens digit masked as
// the decoders mask it, stays within [low, high].
bool isBcdInRange(std::uint8_t byte, std::uint8_t tensMask, int low, int high) noexcept
{
    const int units = byte & 0x0F;
    const int tens = (byte >> 4) & tensMask;
    if (units > 9 || tens > 9) return false;
    const int value = tens * 10 + units;
    return value >= low && value <= high;
}

// Whether the values of a time code, date or time pack are ones a camcorder writes. A damaged
// tape carries corrupt copies beside intact ones; taking a corrupt one would show an invented
// time or, after mktime's normalising, an invented date. Other packs are not looked into.
bool hasValuesInRange(const DVPack& pack, VideoSystem system) noexcept
{
    const int lastFrame = system == VideoSystem::Pal625_50 ? 24 : 29;
    switch (pack.header()) {
    case kTimeCodePack:
        return isBcdInRange(pack.pc[1], 0x3, 0, lastFrame) && isBcdInRange(pack.pc[2], 0x7, 0, 59) &&
               isBcdInRange(pack.pc[3], 0x7, 0, 59) && isBcdInRange(pack.pc[4], 0x3, 0, 23);
    case kRecordingDatePack:
        return isBcdInRange(pack.pc[2], 0x3, 1, 31) && isBcdInRange(pack.pc[3], 0x1, 1, 12) &&
               isBcdInRange(pack.pc[4], 0xF, 0, 99);
    case kRecordingTimePack:
        return isBcdInRange(pack.pc[2], 0x7, 0, 59) && isBcdInRange(pack.pc[3], 0x7, 0, 59) &&
               isBcdInRange(pack.pc[4], 0x3, 0, 23);
    default: return true;
    }
}

enum class DataTest { HeaderAndRanges, RefuseFillerBytesAndRanges };

std::optional<PackHit> searchSubcode(std::span<const std::byte> frame, std::size_t sequences, VideoSystem system,
                                     std::uint8_t id, DataTest test) noexcept
{
    sequences = std::min(sequences, frame.size() / kSequenceBytes);
    for (std::size_t s = 0; s < sequences; ++s) {
        for (std::size_t b = 0; b < kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < kSubcodePacksPerBlock; ++k) {
                const auto offset = subcodePackOffset(s, b, k);
                if (static_cast<std::uint8_t>(frame[offset]) != id) continue;
                const auto pack = packAt(frame, offset);
                if (test == DataTest::RefuseFillerBytesAndRanges && hasFillerData(pack)) continue;
                if (!hasValuesInRange(pack, system)) continue;
                return PackHit{pack, s};
            }
        }
    }
    return std::nullopt;
}

std::optional<DVPack> packOf(const std::optional<PackHit>& hit) noexcept
{
    if (!hit) return std::nullopt;
    return hit->pack;
}

}  // namespace

std::size_t searchableSequences(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    return std::min(sequenceCount(system), frame.size() / kSequenceBytes);
}

std::optional<PackHit> findSubcodePackHit(std::span<const std::byte> frame, VideoSystem system,
                                          std::uint8_t id) noexcept
{
    return searchSubcode(frame, sequenceCount(system), system, id, DataTest::RefuseFillerBytesAndRanges);
}

std::optional<DVPack> FindSubcodePack(std::span<const std::byte> frame, VideoSystem system, std::uint8_t id) noexcept
{
    return packOf(findSubcodePackHit(frame, system, id));
}

std::optional<DVPack> FindSubcodePackIn(std::span<const std::byte> frame, std::uint8_t id) noexcept
{
    const auto system = frame.size() >= kPalFrameBytes ? VideoSystem::Pal625_50 : VideoSystem::Ntsc525_60;
    return packOf(searchSubcode(frame, sequenceCount(system), system, id, DataTest::HeaderAndRanges));
}

std::optional<PackHit> findVauxPackHit(std::span<const std::byte> frame, VideoSystem system, std::uint8_t id) noexcept
{
    const auto sequences = searchableSequences(frame, system);
    for (std::size_t s = 0; s < sequences; ++s) {
        for (std::size_t b = 0; b < kVauxBlocks; ++b) {
            for (std::size_t k = 0; k < kVauxPacksPerBlock; ++k) {
                const auto offset = vauxPackOffset(s, b, k);
                if (static_cast<std::uint8_t>(frame[offset]) == id) return PackHit{packAt(frame, offset), s};
            }
        }
    }
    return std::nullopt;
}

std::optional<DVPack> FindVauxPack(std::span<const std::byte> frame, VideoSystem system, std::uint8_t id) noexcept
{
    return packOf(findVauxPackHit(frame, system, id));
}

}  // namespace vantrel::dv
