// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes and encodes the audio that a DV frame carries in the 9 audio blocks of each sequence.
#include "dv/dv_audio.h"

#include <algorithm>
#include <bit>

namespace vantrel::dv {
namespace {

// Bytes of an audio block: 3 bytes of block ID, the 5-byte AAUX pack, then 72 bytes of samples.
constexpr std::size_t kAudioPackOffset = 3;
constexpr std::size_t kAudioSamplesOffset = 8;
constexpr std::size_t kSamplesPerBlock16 = kAudioPayloadBytes / 2;   // 36 big-endian 16-bit samples
constexpr std::size_t kPairsPerBlock12 = kAudioPayloadBytes / 3;     // 24 left/right pairs in 3 bytes each

constexpr std::int16_t kErrorSample = -32768;    // 0x8000: the camcorder could not read this sample
constexpr std::uint16_t kErrorCode12 = 0x800;    // the same in 12-bit

constexpr std::uint32_t kSampleRates[] = {48000, 44100, 32000};  // indexed by the pack's SMP code

// Each audio channel fills one half of the sequences: 6 in 625/50, 5 in 525/60.
constexpr std::size_t sequencesPerChannel(VideoSystem system) noexcept
{
    return sequenceCount(system) / 2;
}

struct SamplePlace {
    std::size_t sequence;   // within the channel's half
    std::size_t block;      // audio block 0..8
    std::size_t slot;       // sample (16-bit) or pair (12-bit) within the block's 72 bytes
};

// The camcorder shuffles the samples of a channel across its sequences and blocks so that a
// damaged stretch of tape loses scattered samples, not a run. Sample n goes to
// sequence (n/3 + 2(n%3)) mod h, block 3(n%3) + (n mod 9h)/3h, slot n/9h, where h is the
// channel's sequence count: a row of 9h samples takes one slot of every block.
constexpr SamplePlace placeOfSample(std::size_t n, std::size_t sequences) noexcept
{
    const std::size_t row = 9 * sequences;
    return {(n / 3 + 2 * (n % 3)) % sequences, 3 * (n % 3) + (n % row) / (3 * sequences), n / row};
}

static_assert(placeOfSample(1, 6).sequence == 2 && placeOfSample(1, 6).block == 3);
static_assert(placeOfSample(18, 6).block == 1 && placeOfSample(54, 6).slot == 1);
static_assert(placeOfSample(15, 5).block == 1 && placeOfSample(45, 5).slot == 1);

constexpr std::size_t capacityPerChannel(VideoSystem system, AudioQuantisation quantisation) noexcept
{
    const std::size_t perBlock = quantisation == AudioQuantisation::Nonlinear12 ? kPairsPerBlock12 : kSamplesPerBlock16;
    return perBlock * kAudioBlocks * sequencesPerChannel(system);
}

// Offset of the first sample byte of audio block `block` in sequence `sequence` of the frame.
constexpr std::size_t samplesOffset(std::size_t sequence, std::size_t block) noexcept
{
    return audioBlockOffset(sequence, block) + kAudioSamplesOffset;
}

std::uint8_t byteAt(std::span<const std::byte> frame, std::size_t offset) noexcept
{
    return static_cast<std::uint8_t>(frame[offset]);
}

// Which audio blocks carry the source and source control packs: blocks 3 and 4 of the
// even sequences, blocks 0 and 1 of the odd ones.
constexpr std::size_t sourcePackBlock(std::size_t sequence) noexcept
{
    return sequence % 2 == 0 ? 3 : 0;
}

Expected<AudioFormat, AudioError> parseSourcePack(const std::uint8_t* pc, VideoSystem system) noexcept
{
    const unsigned rateCode = (pc[4] >> 3) & 0x07;
    const unsigned quantisationCode = pc[4] & 0x07;
    if (rateCode >= std::size(kSampleRates)) return unexpected(AudioError{AudioErrorCode::UnsupportedSampleRate});
    AudioFormat format;
    format.sampleRateHz = kSampleRates[rateCode];
    if (quantisationCode == 0) {
        format.quantisation = AudioQuantisation::Linear16;
    } else if (quantisationCode == 1 && format.sampleRateHz == 32000) {
        format.quantisation = AudioQuantisation::Nonlinear12;
    } else {
        return unexpected(AudioError{AudioErrorCode::UnsupportedQuantisation});
    }
    format.isLocked = (pc[1] & 0x80) == 0;
    format.samplesPerChannel = minimumAudioSamples(system, format.sampleRateHz) + (pc[1] & 0x3F);
    if (format.samplesPerChannel > capacityPerChannel(system, format.quantisation)) {
        return unexpected(AudioError{AudioErrorCode::SampleCountOutOfRange});
    }
    return format;
}

void decodeLinear16(std::span<const std::byte> frame, std::size_t sequences, std::size_t count,
                    std::span<std::int16_t> stereo) noexcept
{
    for (std::size_t channel = 0; channel < 2; ++channel) {
        for (std::size_t n = 0; n < count; ++n) {
            const SamplePlace place = placeOfSample(n, sequences);
            const std::size_t offset = samplesOffset(place.sequence + channel * sequences, place.block) + 2 * place.slot;
            const auto value = static_cast<std::uint16_t>(byteAt(frame, offset) << 8 | byteAt(frame, offset + 1));
            stereo[2 * n + channel] = static_cast<std::int16_t>(value);
        }
    }
}

// 12-bit pairs: byte 0 holds the left sample's top 8 bits, byte 1 the right's, byte 2 their low nibbles.
void decodeNonlinear12(std::span<const std::byte> frame, std::size_t sequences, std::size_t count,
                       std::span<std::int16_t> stereo) noexcept
{
    for (std::size_t n = 0; n < count; ++n) {
        const SamplePlace place = placeOfSample(n, sequences);
        const std::size_t offset = samplesOffset(place.sequence, place.block) + 3 * place.slot;
        const unsigned low = byteAt(frame, offset + 2);
        const auto left = static_cast<std::uint16_t>(byteAt(frame, offset) << 4 | low >> 4);
        const auto right = static_cast<std::uint16_t>(byteAt(frame, offset + 1) << 4 | (low & 0x0F));
        stereo[2 * n] = left == kErrorCode12 ? kErrorSample : expandFrom12Bit(left);
        stereo[2 * n + 1] = right == kErrorCode12 ? kErrorSample : expandFrom12Bit(right);
    }
}

// Replaces each run of error samples of one channel by a straight line between the good
// samples on either side; a run at an edge repeats its one good neighbour; a channel with no
// good sample becomes silence.
std::size_t concealErrors(std::span<std::int16_t> stereo, std::size_t count, std::size_t channel) noexcept
{
    std::size_t concealed = 0;
    std::size_t n = 0;
    while (n < count) {
        if (stereo[2 * n + channel] != kErrorSample) {
            ++n;
            continue;
        }
        const std::size_t runStart = n;
        while (n < count && stereo[2 * n + channel] == kErrorSample) ++n;
        const std::size_t runEnd = n;   // first good sample after the run, or count
        const bool hasBefore = runStart > 0;
        const bool hasAfter = runEnd < count;
        const int before = hasBefore ? stereo[2 * (runStart - 1) + channel] : 0;
        const int after = hasAfter ? stereo[2 * runEnd + channel] : 0;
        const auto span = static_cast<long>(runEnd - runStart + 1);
        for (std::size_t k = runStart; k < runEnd; ++k) {
            int value = 0;
            if (hasBefore && hasAfter) {
                const auto step = static_cast<long>(k - runStart + 1);
                value = static_cast<int>(before + (after - before) * step / span);
            } else if (hasBefore) {
                value = before;
            } else if (hasAfter) {
                value = after;
            }
            stereo[2 * k + channel] = static_cast<std::int16_t>(value);
            ++concealed;
        }
    }
    return concealed;
}

void writePack(std::span<std::byte> frame, std::size_t offset, const std::uint8_t (&pack)[kPackBytes]) noexcept
{
    for (std::size_t i = 0; i < kPackBytes; ++i) frame[offset + i] = std::byte{pack[i]};
}

unsigned rateCodeOf(std::uint32_t sampleRateHz) noexcept
{
    for (unsigned code = 0; code < std::size(kSampleRates); ++code) {
        if (kSampleRates[code] == sampleRateHz) return code;
    }
    return 7;
}

// Source (0x50) and source control (0x51) packs for one channel half; `audioMode` is 0 for the
// first channel, 1 for the second, 0xF for a half that holds no audio.
void writeAaux(std::span<std::byte> frame, VideoSystem system, std::size_t firstSequence, std::size_t count,
               std::uint32_t sampleRateHz, AudioQuantisation quantisation, std::uint8_t audioMode) noexcept
{
    const auto extra = static_cast<std::uint8_t>(count - minimumAudioSamples(system, sampleRateHz));
    const bool isPal = system == VideoSystem::Pal625_50;
    const std::uint8_t quantisationCode = quantisation == AudioQuantisation::Nonlinear12 ? 1 : 0;
    const std::uint8_t source[kPackBytes] = {
        kAudioSourcePack,
        static_cast<std::uint8_t>(0x80 | 0x40 | extra),                     // unlocked, reserved bit, AF_SIZE
        static_cast<std::uint8_t>((quantisationCode << 4) | audioMode),     // a 12-bit pair sets PA
        static_cast<std::uint8_t>(0x80 | 0x40 | (isPal ? 0x20 : 0x00)),     // reserved, one language, 50/60, SD
        static_cast<std::uint8_t>(0x80 | rateCodeOf(sampleRateHz) << 3 | quantisationCode),  // no emphasis
    };
    const std::uint8_t control[kPackBytes] = {
        kAudioSourceControlPack,
        0x0F,   // copying free, compression and source not described
        0xCF,   // not a recording start or end, original recording, no insert
        static_cast<std::uint8_t>(0x80 | (isPal ? 0x20 : 0x78)),   // forward at normal speed (its code differs by system)
        0xFF,   // no genre
    };
    for (std::size_t s = firstSequence; s < firstSequence + sequencesPerChannel(system); ++s) {
        const std::size_t block = sourcePackBlock(s);
        writePack(frame, audioBlockOffset(s, block) + kAudioPackOffset, source);
        writePack(frame, audioBlockOffset(s, block + 1) + kAudioPackOffset, control);
    }
}

void putByte(std::span<std::byte> frame, std::size_t offset, unsigned value) noexcept
{
    frame[offset] = static_cast<std::byte>(value & 0xFF);
}

void encodeLinear16(std::span<std::byte> frame, std::size_t sequences, std::size_t count,
                    std::span<const std::int16_t> stereo) noexcept
{
    const std::size_t capacity = kSamplesPerBlock16 * kAudioBlocks * sequences;
    for (std::size_t channel = 0; channel < 2; ++channel) {
        for (std::size_t n = 0; n < capacity; ++n) {
            const SamplePlace place = placeOfSample(n, sequences);
            const std::size_t offset = samplesOffset(place.sequence + channel * sequences, place.block) + 2 * place.slot;
            // A real sample of -32768 becomes -32767: 0x8000 on tape means a sample lost.
            const std::int16_t sample = n < count ? std::max<std::int16_t>(stereo[2 * n + channel], -32767) : 0;
            const auto value = static_cast<std::uint16_t>(sample);
            putByte(frame, offset, value >> 8);
            putByte(frame, offset + 1, value);
        }
    }
}

void encodeNonlinear12(std::span<std::byte> frame, std::size_t sequences, std::size_t count,
                       std::span<const std::int16_t> stereo) noexcept
{
    const std::size_t capacity = kPairsPerBlock12 * kAudioBlocks * sequences;
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t n = 0; n < capacity; ++n) {
            std::uint16_t left = 0;
            std::uint16_t right = 0;
            if (half == 1) {
                left = right = kErrorCode12;          // no second stereo pair recorded
            } else if (n < count) {
                left = compressTo12Bit(stereo[2 * n]);
                right = compressTo12Bit(stereo[2 * n + 1]);
            }
            const SamplePlace place = placeOfSample(n, sequences);
            const std::size_t offset = samplesOffset(place.sequence + half * sequences, place.block) + 3 * place.slot;
            putByte(frame, offset, left >> 4);
            putByte(frame, offset + 1, right >> 4);
            putByte(frame, offset + 2, (left & 0x0F) << 4 | (right & 0x0F));
        }
    }
}

}  // namespace

const char* describe(AudioErrorCode code) noexcept
{
    switch (code) {
    case AudioErrorCode::Unknown: return "unknown audio error";
    case AudioErrorCode::FrameTooShort: return "the frame is shorter than a whole DV frame";
    case AudioErrorCode::MissingSourcePack: return "the frame has no AAUX source pack";
    case AudioErrorCode::UnsupportedSampleRate: return "the audio sample rate is not 48, 44.1 or 32 kHz";
    case AudioErrorCode::UnsupportedQuantisation: return "the audio is neither 16-bit linear nor 12-bit nonlinear at 32 kHz";
    case AudioErrorCode::SampleCountOutOfRange: return "the audio sample count does not fit the frame";
    case AudioErrorCode::BufferTooSmall: return "the audio buffer is too small for the frame";
    }
    return "unknown audio error";
}

std::size_t minimumAudioSamples(VideoSystem system, std::uint32_t sampleRateHz) noexcept
{
    const bool isPal = system == VideoSystem::Pal625_50;
    switch (sampleRateHz) {
    case 48000: return isPal ? 1896 : 1580;
    case 44100: return isPal ? 1742 : 1452;
    case 32000: return isPal ? 1264 : 1053;
    default: return 0;
    }
}

std::size_t nominalAudioSamples(VideoSystem system, std::uint32_t sampleRateHz, std::uint64_t frameIndex) noexcept
{
    // Frame rate as a fraction: 25/1 or 30000/1001.
    const bool isPal = system == VideoSystem::Pal625_50;
    const std::uint64_t rateNumerator = isPal ? 25 : 30000;
    const std::uint64_t rateDenominator = isPal ? 1 : 1001;
    const auto samplesBefore = [&](std::uint64_t frames) {
        return frames * sampleRateHz * rateDenominator / rateNumerator;
    };
    return static_cast<std::size_t>(samplesBefore(frameIndex + 1) - samplesBefore(frameIndex));
}

std::optional<DVPack> FindAudioPack(std::span<const std::byte> frame, VideoSystem system, std::uint8_t id,
                                    std::size_t channel) noexcept
{
    if (system == VideoSystem::Unknown || channel > 1 || frame.size() < frameBytes(system)) return std::nullopt;
    const std::size_t first = channel * sequencesPerChannel(system);
    for (std::size_t s = first; s < first + sequencesPerChannel(system); ++s) {
        for (std::size_t block = 0; block < kAudioBlocks; ++block) {
            const std::size_t offset = audioBlockOffset(s, block) + kAudioPackOffset;
            if (byteAt(frame, offset) != id) continue;
            DVPack pack{};
            for (std::size_t i = 0; i < kPackBytes; ++i) pack.pc[i] = byteAt(frame, offset + i);
            return pack;
        }
    }
    return std::nullopt;
}

Expected<AudioFormat, AudioError> readAudioFormat(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    if (system == VideoSystem::Unknown || frame.size() < frameBytes(system)) {
        return unexpected(AudioError{AudioErrorCode::FrameTooShort});
    }
    const auto pack = FindAudioPack(frame, system, kAudioSourcePack, 0);
    if (!pack) return unexpected(AudioError{AudioErrorCode::MissingSourcePack});
    return parseSourcePack(pack->pc, system);
}

Expected<DecodedAudio, AudioError> decodeAudio(std::span<const std::byte> frame, VideoSystem system,
                                               std::span<std::int16_t> stereo) noexcept
{
    auto format = readAudioFormat(frame, system);
    if (!format) return unexpected(format.error());
    const std::size_t count = format->samplesPerChannel;
    if (stereo.size() < 2 * count) return unexpected(AudioError{AudioErrorCode::BufferTooSmall});

    const std::size_t sequences = sequencesPerChannel(system);
    if (format->quantisation == AudioQuantisation::Nonlinear12) {
        decodeNonlinear12(frame, sequences, count, stereo);
    } else {
        decodeLinear16(frame, sequences, count, stereo);
    }
    DecodedAudio decoded{*format, 0};
    decoded.concealedSamples = concealErrors(stereo, count, 0) + concealErrors(stereo, count, 1);
    return decoded;
}

Expected<void, AudioError> encodeAudio(std::span<std::byte> frame, VideoSystem system, std::uint32_t sampleRateHz,
                                       AudioQuantisation quantisation, std::span<const std::int16_t> stereo) noexcept
{
    if (system == VideoSystem::Unknown || frame.size() < frameBytes(system)) {
        return unexpected(AudioError{AudioErrorCode::FrameTooShort});
    }
    const std::size_t minimum = minimumAudioSamples(system, sampleRateHz);
    if (minimum == 0) return unexpected(AudioError{AudioErrorCode::UnsupportedSampleRate});
    const bool is12Bit = quantisation == AudioQuantisation::Nonlinear12;
    if (quantisation == AudioQuantisation::Unknown || (is12Bit && sampleRateHz != 32000)) {
        return unexpected(AudioError{AudioErrorCode::UnsupportedQuantisation});
    }
    const std::size_t count = stereo.size() / 2;
    if (stereo.size() % 2 != 0 || count < minimum || count > minimum + 63 ||
        count > capacityPerChannel(system, quantisation)) {
        return unexpected(AudioError{AudioErrorCode::SampleCountOutOfRange});
    }

    const std::size_t sequences = sequencesPerChannel(system);
    if (is12Bit) {
        encodeNonlinear12(frame, sequences, count, stereo);
        writeAaux(frame, system, 0, count, sampleRateHz, quantisation, 0x0);
        writeAaux(frame, system, sequences, count, sampleRateHz, quantisation, 0xF);
    } else {
        encodeLinear16(frame, sequences, count, stereo);
        writeAaux(frame, system, 0, count, sampleRateHz, quantisation, 0x0);
        writeAaux(frame, system, sequences, count, sampleRateHz, quantisation, 0x1);
    }
    return {};
}

std::uint16_t compressTo12Bit(std::int16_t sample) noexcept
{
    // Negative samples mirror the positive ones: -1 - v has the code ~code(v).
    const bool isNegative = sample < 0;
    const unsigned magnitude = isNegative ? static_cast<unsigned>(-(sample + 1)) : static_cast<unsigned>(sample);
    unsigned code = magnitude;
    if (magnitude >= 0x200) {
        const unsigned shift = static_cast<unsigned>(std::bit_width(magnitude)) - 9;   // 1..6
        code = (magnitude >> shift) + 256 * shift;
    }
    if (isNegative && code == 0x7FF) code = 0x7FE;   // its mirror 0x800 is the error code
    return static_cast<std::uint16_t>(isNegative ? ~code & 0xFFF : code);
}

std::int16_t expandFrom12Bit(std::uint16_t code) noexcept
{
    code &= 0xFFF;
    const bool isNegative = (code & 0x800) != 0;
    const unsigned magnitudeCode = isNegative ? (~code & 0x7FF) : code;
    const unsigned segment = magnitudeCode >> 8;   // 0..7
    int magnitude = static_cast<int>(magnitudeCode);
    if (segment >= 2) {
        const unsigned shift = segment - 1;
        magnitude = static_cast<int>((magnitudeCode - 256 * shift) << shift);
    }
    return static_cast<std::int16_t>(isNegative ? -magnitude - 1 : magnitude);
}

}  // namespace vantrel::dv
