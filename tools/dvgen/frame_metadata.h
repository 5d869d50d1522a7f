// SPDX-License-Identifier: GPL-3.0-or-later
// The metadata packs a camcorder writes into one DV frame, computed for frame i of a generated tape.
#pragma once

#include "tools/dvgen/tape_options.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel::dvgen {

using PackBytes = std::array<std::uint8_t, 5>;  // PC0 (the ID) then PC1..PC4

inline constexpr PackBytes kFillerPack{0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

std::uint8_t toBcd(int value) noexcept;

// Packs as a consumer camcorder fills them (reserved bits set).
PackBytes timecodePack(const Timecode& tc, bool isDropFrame) noexcept;
PackBytes recordingDatePack(std::uint8_t packId, const LocalDateTime& t) noexcept;  // 0x62 or 0x52
PackBytes recordingTimePack(std::uint8_t packId, const LocalDateTime& t) noexcept;  // 0x63 or 0x53
PackBytes cameraPack(const CameraValues& values) noexcept;
PackBytes shutterPack(std::uint16_t word) noexcept;
// The shutter word that makes a reader show 1/`denominator` second on a tape of `system`
// (denominator 1..15600 for PAL, 1..15720 for NTSC).
std::uint16_t shutterWordFor(int denominator, dv::VideoSystem system) noexcept;

// The values carried by frame `frameIndex` of the tape.
Timecode timecodeAt(const TapeOptions& options, std::int64_t frameIndex) noexcept;
LocalDateTime recordedAt(const TapeOptions& options, std::int64_t frameIndex) noexcept;
CameraValues cameraAt(const TapeOptions& options, std::int64_t frameIndex) noexcept;
std::uint16_t shutterWordAt(const TapeOptions& options, std::int64_t frameIndex) noexcept;

// Sound samples per channel in frame `frameIndex` (0 without sound).
std::uint32_t audioSampleRateHz(AudioFormat audio) noexcept;
std::uint32_t audioSamplesInFrame(const TapeOptions& options, std::int64_t frameIndex) noexcept;
std::uint64_t audioSamplesBefore(const TapeOptions& options, std::int64_t frameIndex) noexcept;

// Overwrites the subcode packs, the VAUX packs and (with sound) the AAUX packs of a frame
// that the picture encoder made. Block IDs and the encoder's video source packs stay. The options
// must be ones that validate() accepts.
void writeFrameMetadata(std::span<std::byte> frame, const TapeOptions& options, std::int64_t frameIndex) noexcept;

}  // namespace vantrel::dvgen
