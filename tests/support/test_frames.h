// SPDX-License-Identifier: GPL-3.0-or-later
// Whole DV frames for tests: frames carrying a test tone, and frames stamped with their number.
#pragma once

#include "dv/dif_layout.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vantrel::testsupport {

using Frame = std::vector<std::byte>;

// Interleaved stereo test signal continuing from sample `first`: 440 Hz at 12000 on the left,
// 1250 Hz at 30000 on the right (a loud channel shows swapped or clipped samples).
void fillTone(std::vector<std::int16_t>& stereo, std::size_t samplesPerChannel, std::uint64_t first,
              std::uint32_t sampleRateHz);

// Frames `first`..`first + count - 1` of a tape: frame i has time code 00:mm:ss ff counted at 25
// frames a second, recording date 4.12.2005 20:46:(i % 60), and the tone (16-bit) at its place
// in the stream.
std::vector<Frame> toneFrames(dv::VideoSystem system, std::size_t count, std::uint32_t sampleRateHz = 48000,
                              std::size_t first = 0);

// A valid DV frame without packs whose video carries `number` (and `variant`, to tell recordings
// apart) in the first video block of sequence 0.
Frame numberedFrame(dv::VideoSystem system, std::uint32_t number, std::uint8_t variant = 0);
std::vector<Frame> numberedFrames(dv::VideoSystem system, std::uint32_t count, std::uint8_t variant = 0);
// The number a numbered frame carries.
std::uint32_t frameNumber(std::span<const std::byte> frame);

// The frames one after the other, as a raw DV file holds them.
std::vector<std::byte> joinFrames(const std::vector<Frame>& frames);

}  // namespace vantrel::testsupport
