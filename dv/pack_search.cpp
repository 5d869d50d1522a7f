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

enum class DataTest { HeaderOnly, RefuseFillerBytes };

std::optional<PackHit> searchSubcode(std::span<const std::byte> frame, std::size_t sequences, std::uint8_t id,
                                     DataTest test) noexcept
{
    sequences = std::min(sequences, frame.size() / kSequenceBytes);
    for (std::size_t s = 0; s < sequences; ++s) {
        for (std::size_t b = 0; b < kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < kSubcodePacksPerBlock; ++k) {
                const auto offset = subcodePackOffset(s, b, k);
                if (static_cast<std::uint8_t>(frame[offset]) != id) continue;
                const auto pack = packAt(frame, offset);
                if (test == DataTest::RefuseFillerBytes && hasFillerData(pack)) continue;
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
    return searchSubcode(frame, sequenceCount(system), id, DataTest::RefuseFillerBytes);
}

std::optional<DVPack> FindSubcodePack(std::span<const std::byte> frame, VideoSystem system, std::uint8_t id) noexcept
{
    return packOf(findSubcodePackHit(frame, system, id));
}

std::optional<DVPack> FindSubcodePackIn(std::span<const std::byte> frame, std::uint8_t id) noexcept
{
    const auto sequences = frame.size() >= kPalFrameBytes ? kPalSequences : kNtscSequences;
    return packOf(searchSubcode(frame, sequences, id, DataTest::HeaderOnly));
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
