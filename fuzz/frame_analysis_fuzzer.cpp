// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the frame analysis: AnalyseFrame, the info lines, the count of deciding sequences and
// the audio decoder on arbitrary bytes.
#include "dv/dif_layout.h"
#include "dv/dv_audio.h"
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

// When SequencesDecidingAnalysis gives n, the first n sequences analyse exactly like the whole
// frame and the first n - 1 do not: every search made its hit, the last of them in sequence n - 1.
// Records are zeroed first, padding included, so that they compare byte for byte.
void checkDecidingSequences(std::span<const std::byte> frame, vantrel::dv::VideoSystem system)
{
    using namespace vantrel::dv;
    const auto count = SequencesDecidingAnalysis(frame, system);
    if (!count) return;
    if (*count == 0 || *count > searchableSequences(frame, system)) __builtin_trap();
    DVFrameInfo records[3];
    std::memset(records, 0, sizeof records);
    AnalyseFrame(frame, system, records[0]);
    AnalyseFrame(frame.first(*count * kSequenceBytes), system, records[1]);
    AnalyseFrame(frame.first((*count - 1) * kSequenceBytes), system, records[2]);
    if (std::memcmp(&records[0], &records[1], sizeof records[0]) != 0) __builtin_trap();
    if (std::memcmp(&records[0], &records[2], sizeof records[0]) == 0) __builtin_trap();
}

// A decoded frame's sample count stays between the fewest a frame of its rate holds and the
// buffer's size (the sanitizers watch the reads and writes).
void checkAudio(std::span<const std::byte> frame, vantrel::dv::VideoSystem system)
{
    using namespace vantrel::dv;
    static std::vector<std::int16_t> samples(kMaxStereoSamplesPerFrame);
    const auto decoded = decodeAudio(frame, system, samples);
    if (!decoded) return;
    if (decoded->format.samplesPerChannel > kMaxAudioSamplesPerFrame ||
        decoded->format.samplesPerChannel < minimumAudioSamples(system, decoded->format.sampleRateHz)) {
        __builtin_trap();
    }
}

void analyseAndFormat(std::span<const std::byte> frame, vantrel::dv::VideoSystem system, long frameNumber)
{
    using namespace vantrel::dv;
    static InfoLineFormatter formatter;
    DVFrameInfo info{};
    AnalyseFrame(frame, system, info, frameNumber);
    formatter.ShowFrameInfo(info, frameNumber);
    const auto& lines = formatter.lines();
    // Every line must stay a terminated string inside its buffer.
    if (std::memchr(lines.line1, 0, sizeof lines.line1) == nullptr ||
        std::memchr(lines.line2, 0, sizeof lines.line2) == nullptr ||
        std::memchr(lines.line3, 0, sizeof lines.line3) == nullptr ||
        std::memchr(lines.timeCode, 0, sizeof lines.timeCode) == nullptr) {
        __builtin_trap();
    }
    (void)GetRecordingTime(frame);
    checkDecidingSequences(frame, system);
    checkAudio(frame, system);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vantrel::dv;
    const std::span<const std::byte> input(reinterpret_cast<const std::byte*>(data), size);
    const long frameNumber = size > 0 ? static_cast<long>(data[0]) * 1000003L - 5 : 0;

    // 1. The bytes as a frame of either standard, however long they are.
    analyseAndFormat(input, VideoSystem::Pal625_50, frameNumber);
    analyseAndFormat(input, VideoSystem::Ntsc525_60, frameNumber);

    // 2. The bytes spread over the subcode and VAUX blocks (blocks 1..5) of a full-size frame,
    //    where the decoders look, so that short inputs reach every sequence.
    static std::vector<std::byte> frame(kMaxFrameBytes);
    std::fill(frame.begin(), frame.end(), std::byte{0xFF});
    constexpr std::size_t kMetadataBytes = 5 * kDifBlockBytes;
    std::size_t used = 0;
    for (std::size_t s = 0; s < kPalSequences && used < size; ++s) {
        const std::size_t take = std::min(kMetadataBytes, size - used);
        std::memcpy(frame.data() + s * kSequenceBytes + kDifBlockBytes, data + used, take);
        used += take;
    }
    analyseAndFormat(frame, VideoSystem::Pal625_50, frameNumber);
    analyseAndFormat(std::span<const std::byte>(frame).first(kNtscFrameBytes), VideoSystem::Ntsc525_60, frameNumber);
    return 0;
}
