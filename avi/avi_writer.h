// SPDX-License-Identifier: GPL-3.0-or-later
// Writes DV AVI files, type 1 (one 'iavs' stream) or type 2 ('vids' DV plus 'auds' PCM), as OpenDML 2.0 with a legacy idx1.
#pragma once

#include "avi/riff_writer.h"
#include "dv/dif_layout.h"
#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace vantrel::avi {

enum class DvAviType { Unknown, Type1Interleaved, Type2Separate };

struct AviWriterOptions {
    DvAviType type = DvAviType::Unknown;
    dv::VideoSystem system = dv::VideoSystem::Unknown;
    std::uint64_t maxRiffBytes = std::uint64_t{1} << 30;   // each RIFF, indexes included, stays at or below this
};

// Frames go in one at a time; finish() writes the indexes and the final headers. Until then the
// file is always readable by a reader that scans 'movi' (see the note in avi_writer.cpp).
// A writer destroyed without finish() leaves the file as a crash would; a moved-from writer may
// only be destroyed or assigned to.
// Type 2 audio: the 'auds' stream keeps the rate of the first frame's audio; frames recorded at
// another rate (48 kHz and 32 kHz scenes on one tape) are resampled to it, each frame keeping its
// duration, and a frame without readable audio adds silence of its length. Of 12-bit audio
// recorded with two stereo pairs, the first pair is written.
class AviWriter {
public:
    static Expected<AviWriter, AviWriteError> create(const std::filesystem::path& path, const AviWriterOptions& options);

    AviWriter(AviWriter&&) noexcept;
    AviWriter& operator=(AviWriter&&) noexcept;
    ~AviWriter();

    // One whole DIF frame of the file's video system. Type 2 also decodes its audio.
    WriteResult writeFrame(std::span<const std::byte> difFrame);
    // Writes the last index and the final headers, flushes and closes the file.
    WriteResult finish();

    std::uint64_t framesWritten() const noexcept;
    std::uint64_t audioSamplesWritten() const noexcept;    // per channel, type 2
    std::uint32_t audioSampleRateHz() const noexcept;      // the 'auds' stream's rate, 0 until known

    struct State;

private:
    explicit AviWriter(std::unique_ptr<State> state) noexcept;
    std::unique_ptr<State> m_state;
};

}  // namespace vantrel::avi
