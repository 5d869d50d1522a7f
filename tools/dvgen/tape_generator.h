// SPDX-License-Identifier: GPL-3.0-or-later
// Builds every frame of a generated DV tape and writes the tape as a DV AVI or raw .dv file.
#pragma once

#include "dv/expected.h"
#include "tools/dvgen/tape_options.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::dvgen {

class TapeGenerator {
public:
    // Encodes the loop of pictures once; fails when the options are out of range or the encoder
    // cannot run.
    static Expected<TapeGenerator, std::string> create(const TapeOptions& options);

    const TapeOptions& options() const noexcept { return m_options; }
    std::size_t frameBytes() const noexcept;

    // Frame `frameIndex` into `out` (frameBytes() bytes): the looped picture, the metadata packs
    // and the sound of that frame. Allocates nothing.
    Expected<void, std::string> renderFrame(std::int64_t frameIndex, std::span<std::byte> out);

    // Writes all frames to `path` in the options' file format.
    Expected<void, std::string> writeTo(const std::string& path);

private:
    explicit TapeGenerator(const TapeOptions& options) : m_options(options) {}
    void synthesiseSound(std::int64_t frameIndex, std::size_t samplesPerChannel) noexcept;

    TapeOptions m_options;
    std::vector<std::vector<std::byte>> m_pictures;
    std::vector<std::int16_t> m_stereo;  // one frame of interleaved left/right samples
};

// Checks ranges and consistency; the message names the first fault.
Expected<void, std::string> validate(const TapeOptions& options);

}  // namespace vantrel::dvgen
