// SPDX-License-Identifier: GPL-3.0-or-later
// Finds packs by ID in the subcode and VAUX areas of a DV frame.
#pragma once

#include "dv/dif_layout.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantrel::dv {

// Five bytes copied out of the frame: pc[0] is the pack header (its ID), pc[1]..pc[4] the data.
struct DVPack {
    std::uint8_t pc[kPackBytes];

    std::uint8_t header() const noexcept { return pc[0]; }
};

// A pack a search returned and the sequence it lies in.
struct PackHit {
    DVPack pack;
    std::size_t sequence;
};

// Pack headers the program reads.
constexpr std::uint8_t kTimeCodePack = 0x13;
constexpr std::uint8_t kRecordingDatePack = 0x62;
constexpr std::uint8_t kRecordingTimePack = 0x63;
constexpr std::uint8_t kCameraPack = 0x70;          // consumer camera 1
constexpr std::uint8_t kCameraShutterPack = 0x7F;   // consumer camera shutter
constexpr std::uint8_t kFillerPack = 0xFF;          // "no info" pack in an unused slot

// Every search walks sequence by sequence, within a sequence block by block, within a
// block slot by slot, and returns the first acceptable pack; copies further on are never
// looked at. A frame shorter than its system's sequence count searches only the whole
// sequences it holds; nothing past the span is read.
//
// Contract for fast readers: the searches read only blocks 1..5 of each sequence (subcode
// and VAUX), so a buffer where only those blocks hold real bytes is searched correctly.

// Both subcode searches pass over a time code, recording date or recording time pack whose
// values are out of range, as damaged: a BCD digit above 9, frames from 25 (PAL) or 30 (NTSC),
// seconds or minutes from 60, hours from 24, day 0 or above 31, month 0 or above 12.
// The time code's frame limit follows the video system (on the capture side, the length).

// Subcode search on the player side: sequence count from the video system (PAL 12, else 10);
// a pack counts when its header is `id` and none of PC2, PC3, PC4 is 0xFF (PC1 is not tested).
std::optional<DVPack> FindSubcodePack(std::span<const std::byte> frame, VideoSystem system,
                                      std::uint8_t id) noexcept;

// Subcode search on the capture side: 12 sequences when the frame is at least 144000 bytes,
// else 10; the first pack whose header is `id` and whose values are in range counts.
std::optional<DVPack> FindSubcodePackIn(std::span<const std::byte> frame, std::uint8_t id) noexcept;

// VAUX search: sequence count from the video system; the first pack whose header is `id` counts.
std::optional<DVPack> FindVauxPack(std::span<const std::byte> frame, VideoSystem system,
                                   std::uint8_t id) noexcept;

// FindSubcodePack and FindVauxPack, also telling the sequence of the pack they return.
std::optional<PackHit> findSubcodePackHit(std::span<const std::byte> frame, VideoSystem system,
                                          std::uint8_t id) noexcept;
std::optional<PackHit> findVauxPackHit(std::span<const std::byte> frame, VideoSystem system,
                                       std::uint8_t id) noexcept;

// Sequences of `system` that `frame` holds whole (at most the system's count).
std::size_t searchableSequences(std::span<const std::byte> frame, VideoSystem system) noexcept;

}  // namespace vantrel::dv
