// SPDX-License-Identifier: GPL-3.0-or-later
// Tells a DV frame by the IDs of its first DIF blocks, and its system by the header block's DSF bit.
#include "dv/dif_header.h"

#include <cstdint>

namespace vantrel::dv {
namespace {

// The three ID bytes of a DIF block: section type in bits 7..5 of byte 0, sequence number in
// bits 7..4 of byte 1, block number in byte 2. The other bits are reserved or arbitrary.
struct BlockId {
    unsigned sectionType;
    unsigned sequence;
    unsigned blockNumber;
};

BlockId blockIdAt(std::span<const std::byte> bytes, std::size_t offset) noexcept
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[offset + i]); };
    return BlockId{static_cast<unsigned>(byte(0) >> 5), static_cast<unsigned>(byte(1) >> 4), byte(2)};
}

constexpr unsigned kHeaderSection = 0;
constexpr unsigned kSubcodeSection = 1;
constexpr unsigned kVauxSection = 2;
constexpr std::size_t kDsfByte = 3;
constexpr std::uint8_t kDsfBit = 0x80;

}  // namespace

bool startsWithDifHeader(std::span<const std::byte> frameStart) noexcept
{
    if (frameStart.size() < kDifBlockBytes) return false;
    const BlockId header = blockIdAt(frameStart, 0);
    if (header.sectionType != kHeaderSection || header.sequence != 0 || header.blockNumber != 0) return false;
    if (frameStart.size() >= 2 * kDifBlockBytes && blockIdAt(frameStart, kDifBlockBytes).sectionType != kSubcodeSection) {
        return false;
    }
    if (frameStart.size() >= 4 * kDifBlockBytes && blockIdAt(frameStart, 3 * kDifBlockBytes).sectionType != kVauxSection) {
        return false;
    }
    return true;
}

VideoSystem systemOfDifHeader(std::span<const std::byte> frameStart) noexcept
{
    if (!startsWithDifHeader(frameStart)) return VideoSystem::Unknown;
    return (static_cast<std::uint8_t>(frameStart[kDsfByte]) & kDsfBit) != 0 ? VideoSystem::Pal625_50
                                                                            : VideoSystem::Ntsc525_60;
}

}  // namespace vantrel::dv
