// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes and encodes the audio that a DV frame carries in the 9 audio blocks of each sequence.
#pragma once

#include "dv/dif_layout.h"
#include "dv/expected.h"
#include "dv/pack_search.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantrel::dv {

// How the camcorder stored each sample: 16-bit linear (48, 44.1 or 32 kHz, two channels),
// or 12-bit nonlinear (32 kHz only, two stereo pairs, one in each half of the sequences).
enum class AudioQuantisation { Unknown, Linear16, Nonlinear12 };

// The audio of one frame, as its AAUX source pack (0x50) describes it.
struct AudioFormat {
    std::uint32_t sampleRateHz = 0;                        // 48000, 44100 or 32000
    AudioQuantisation quantisation = AudioQuantisation::Unknown;
    std::size_t samplesPerChannel = 0;                     // in this frame
    bool isLocked = false;                                 // audio clock locked to the video clock
};

constexpr std::uint8_t kAudioSourcePack = 0x50;            // AAUX source: sample count, rate, quantisation
constexpr std::uint8_t kAudioSourceControlPack = 0x51;     // AAUX source control: copy and recording flags

// Per channel, a 625/50 frame holds at most 9 blocks x 6 sequences x 36 samples (16-bit).
constexpr std::size_t kMaxAudioSamplesPerFrame = 1944;
// Interleaved left/right 16-bit samples: the size of a buffer that takes any frame's audio.
constexpr std::size_t kMaxStereoSamplesPerFrame = 2 * kMaxAudioSamplesPerFrame;

enum class AudioErrorCode {
    Unknown,
    FrameTooShort,             // fewer bytes than the video system's frame
    MissingSourcePack,         // no AAUX source pack in the first half of the sequences
    UnsupportedSampleRate,     // sample rate code other than 48, 44.1 and 32 kHz
    UnsupportedQuantisation,   // 20-bit, or 12-bit at a rate other than 32 kHz
    SampleCountOutOfRange,     // more samples than the blocks hold, or outside the pack's range
    BufferTooSmall,            // the caller's buffer cannot take the frame's samples
};

struct AudioError {
    AudioErrorCode code = AudioErrorCode::Unknown;
};

// A fixed English description of the error, for messages.
const char* describe(AudioErrorCode code) noexcept;

struct DecodedAudio {
    AudioFormat format;
    std::size_t concealedSamples = 0;   // error samples replaced by interpolation, both channels counted
};

// Smallest sample count per channel that a frame may carry at a rate; the source pack stores
// the count as this minimum plus 0..63. Zero for a rate that DV does not have.
std::size_t minimumAudioSamples(VideoSystem system, std::uint32_t sampleRateHz) noexcept;

// Samples per channel of frame number `frameIndex` when audio at `sampleRateHz` runs locked to
// the video: the count that keeps the total of frames 0..frameIndex at floor(rate x time).
std::size_t nominalAudioSamples(VideoSystem system, std::uint32_t sampleRateHz, std::uint64_t frameIndex) noexcept;

// The first AAUX pack with header `id` in the audio blocks of one channel half: `channel` 0 is the
// first half of the sequences, 1 the second.
std::optional<DVPack> FindAudioPack(std::span<const std::byte> frame, VideoSystem system, std::uint8_t id,
                                    std::size_t channel) noexcept;

// Reads the AAUX source pack of the first audio channel (the first half of the sequences).
Expected<AudioFormat, AudioError> readAudioFormat(std::span<const std::byte> frame, VideoSystem system) noexcept;

// Decodes the first stereo pair of the frame into `stereo` as interleaved left/right samples:
// 2 x samplesPerChannel values are written. Error samples (0x8000, or 0x800 in 12-bit) are
// replaced by a straight line between the good samples around them. Allocates nothing.
Expected<DecodedAudio, AudioError> decodeAudio(std::span<const std::byte> frame, VideoSystem system,
                                               std::span<std::int16_t> stereo) noexcept;

// Writes interleaved left/right samples into the audio blocks of `frame` with the AAUX source
// (0x50) and source control (0x51) packs, leaving the block IDs and every other block as they
// are. `stereo` holds 2 x N samples, where N is a count the source pack can express for the
// rate and the blocks can hold. 12-bit needs 32 kHz; it fills the first stereo pair and marks
// the second half of the sequences as error samples (no second pair recorded).
Expected<void, AudioError> encodeAudio(std::span<std::byte> frame, VideoSystem system, std::uint32_t sampleRateHz,
                                       AudioQuantisation quantisation, std::span<const std::int16_t> stereo) noexcept;

// The 12-bit nonlinear code of a 16-bit sample, and back. Codes below 0x200 in magnitude are
// linear; each further 256 codes double the step, up to 64 for the loudest samples.
std::uint16_t compressTo12Bit(std::int16_t sample) noexcept;
std::int16_t expandFrom12Bit(std::uint16_t code) noexcept;

}  // namespace vantrel::dv
