// SPDX-License-Identifier: GPL-3.0-or-later
// Tone frames through the DV audio encoder, numbered frames through a stamp in the video.
#include "support/test_frames.h"

#include "dv/dv_audio.h"
#include "support/synthetic_dv_frame.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vantrel::testsupport {

// Inside the first video block of sequence 0, after its DIF block ID.
constexpr std::size_t kStampOffset = dv::videoBlockOffset(0, 0) + 8;

void fillTone(std::vector<std::int16_t>& stereo, std::size_t samplesPerChannel, std::uint64_t first,
              std::uint32_t sampleRateHz)
{
    stereo.resize(2 * samplesPerChannel);
    constexpr double kTwoPi = 6.283185307179586;
    for (std::size_t n = 0; n < samplesPerChannel; ++n) {
        const double t = static_cast<double>(first + n) / sampleRateHz;
        stereo[2 * n] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(kTwoPi * 440.0 * t)));
        stereo[2 * n + 1] = static_cast<std::int16_t>(std::lround(30000.0 * std::sin(kTwoPi * 1250.0 * t)));
    }
}

std::vector<Frame> toneFrames(dv::VideoSystem system, std::size_t count, std::uint32_t sampleRateHz, std::size_t first)
{
    std::vector<Frame> frames;
    std::vector<std::int16_t> stereo;
    std::uint64_t sample = 0;
    for (std::size_t f = 0; f < first; ++f) sample += dv::nominalAudioSamples(system, sampleRateHz, f);
    for (std::size_t i = first; i < first + count; ++i) {
        const int index = static_cast<int>(i);
        auto bytes = SyntheticDvFrame::of(system)
                         .withTimecode({0, index / 1500, (index / 25) % 60, index % 25})
                         .withRecordingDate({2005, 12, 4}, {20, 46, index % 60})
                         .bytes();
        const std::size_t samples = dv::nominalAudioSamples(system, sampleRateHz, i);
        fillTone(stereo, samples, sample, sampleRateHz);
        sample += samples;
        if (!dv::encodeAudio(bytes, system, sampleRateHz, dv::AudioQuantisation::Linear16, stereo))
            throw std::runtime_error("the DV audio encoder refused the test tone");
        frames.push_back(std::move(bytes));
    }
    return frames;
}

Frame numberedFrame(dv::VideoSystem system, std::uint32_t number, std::uint8_t variant)
{
    static const Frame pal = SyntheticDvFrame::pal().bytes();
    static const Frame ntsc = SyntheticDvFrame::ntsc().bytes();
    Frame frame = system == dv::VideoSystem::Pal625_50 ? pal : ntsc;
    std::memcpy(frame.data() + kStampOffset, &number, sizeof number);
    frame[kStampOffset + 4] = static_cast<std::byte>(variant);
    return frame;
}

std::vector<Frame> numberedFrames(dv::VideoSystem system, std::uint32_t count, std::uint8_t variant)
{
    std::vector<Frame> frames;
    for (std::uint32_t i = 0; i < count; ++i) frames.push_back(numberedFrame(system, i, variant));
    return frames;
}

std::uint32_t frameNumber(std::span<const std::byte> frame)
{
    std::uint32_t number = 0;
    if (frame.size() >= kStampOffset + sizeof number) std::memcpy(&number, frame.data() + kStampOffset, sizeof number);
    return number;
}

std::vector<std::byte> joinFrames(const std::vector<Frame>& frames)
{
    std::vector<std::byte> all;
    for (const auto& frame : frames) all.insert(all.end(), frame.begin(), frame.end());
    return all;
}

}  // namespace vantrel::testsupport
