// SPDX-License-Identifier: GPL-3.0-or-later
// DV audio: sample placement, 12-bit companding, error concealment, sample counts. Whole round
// trips through our encoder and a peer's decoder (and back) are in tests/peer.
#include "dv/dv_audio.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vantrel::dv {
namespace {

std::vector<std::byte> blankFrame(VideoSystem system)
{
    return std::vector<std::byte>(frameBytes(system), std::byte{0xFF});
}

TEST(DvAudioCompanding, expands_the_segment_edges_of_12_bit_codes)
{
    const std::pair<std::uint16_t, int> cases[] = {{0x000, 0},     {0x1FF, 511},    {0x200, 512},   {0x2FF, 1022},
                                                   {0x300, 1024},  {0x7FF, 32704},  {0xFFF, -1},    {0xE00, -512},
                                                   {0xDFF, -513},  {0x801, -32641}};
    for (const auto& [code, sample] : cases) EXPECT_EQ(expandFrom12Bit(code), sample) << std::hex << code;
}

TEST(DvAudioCompanding, compresses_every_16_bit_sample_to_the_nearest_lower_code)
{
    for (int v = 0; v <= 32767; ++v) {
        const auto code = compressTo12Bit(static_cast<std::int16_t>(v));
        ASSERT_LT(code, 0x800) << v;
        ASSERT_LE(expandFrom12Bit(code), v) << v;  // truncates towards zero, to the nearest code below
        if (code < 0x7FF) {
            ASSERT_GT(expandFrom12Bit(static_cast<std::uint16_t>(code + 1)), v) << v;
        }
    }
    for (int v = -32768; v < 0; ++v) {
        const auto code = compressTo12Bit(static_cast<std::int16_t>(v));
        ASSERT_NE(code, 0x800) << "a sample must never turn into the error code: " << v;
        ASSERT_GE(code, 0x800) << v;
        const int mirror = -1 - v;
        if (mirror < 32704) {
            ASSERT_EQ(expandFrom12Bit(code), -1 - expandFrom12Bit(compressTo12Bit(static_cast<std::int16_t>(mirror)))) << v;
        }
    }
}

// Where 16-bit samples go, and the source pack, ffmpeg and GStreamer check in tests/peer; the
// order of the 12-bit nibbles, which a round trip through our own decoder cannot show, is checked here.
TEST(DvAudioPlacement, packs_two_12_bit_samples_into_three_bytes_in_their_shuffled_place)
{
    // NTSC 32 kHz: pair 1 in sequence 2, block 3; 3 bytes hold left, right and their low nibbles.
    auto ntsc = blankFrame(VideoSystem::Ntsc525_60);
    std::vector<std::int16_t> pairs(2 * 1068, 0);
    pairs[2] = 100;
    pairs[3] = -100;
    ASSERT_TRUE(encodeAudio(ntsc, VideoSystem::Ntsc525_60, 32000, AudioQuantisation::Nonlinear12, pairs));
    const auto ntscAt = [&](std::size_t offset) { return static_cast<unsigned>(ntsc[offset]); };
    EXPECT_EQ(ntscAt(audioBlockOffset(2, 3) + 8), 0x06u);
    EXPECT_EQ(ntscAt(audioBlockOffset(2, 3) + 9), 0xF9u);
    EXPECT_EQ(ntscAt(audioBlockOffset(2, 3) + 10), 0x4Cu);
}

TEST(DvAudioConcealment, bridges_error_samples_with_a_straight_line)
{
    auto frame = blankFrame(VideoSystem::Pal625_50);
    std::vector<std::int16_t> stereo(2 * 1920);
    for (std::size_t n = 0; n < 1920; ++n) {
        stereo[2 * n] = static_cast<std::int16_t>(10 * n);
        stereo[2 * n + 1] = 500;
    }
    ASSERT_TRUE(encodeAudio(frame, VideoSystem::Pal625_50, 48000, AudioQuantisation::Linear16, stereo));
    // Left samples 100..102 are lost (0x8000 on tape); so are the first two right samples.
    const auto markLost = [&](std::size_t n, std::size_t channel) {
        // Sample n of a 625/50 channel: sequence (n/3 + 2(n%3)) % 6, block 3(n%3) + (n%54)/18, slot n/54.
        const std::size_t sequence = (n / 3 + 2 * (n % 3)) % 6 + 6 * channel;
        const std::size_t offset = audioBlockOffset(sequence, 3 * (n % 3) + (n % 54) / 18) + 8 + 2 * (n / 54);
        frame[offset] = std::byte{0x80};
        frame[offset + 1] = std::byte{0x00};
    };
    for (std::size_t n : {100, 101, 102}) markLost(n, 0);
    for (std::size_t n : {0, 1}) markLost(n, 1);
    std::vector<std::int16_t> decoded(kMaxStereoSamplesPerFrame);
    auto result = decodeAudio(frame, VideoSystem::Pal625_50, decoded);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->concealedSamples, 5u);
    EXPECT_EQ(decoded[2 * 100], 1000);   // the line from 990 to 1030
    EXPECT_EQ(decoded[2 * 101], 1010);
    EXPECT_EQ(decoded[2 * 102], 1020);
    EXPECT_EQ(decoded[2 * 103], 1030);
    EXPECT_EQ(decoded[1], 500);          // the edge repeats its good neighbour
    EXPECT_EQ(decoded[3], 500);
}

TEST(DvAudioErrors, reports_frames_and_buffers_it_cannot_use)
{
    std::vector<std::int16_t> decoded(kMaxStereoSamplesPerFrame);
    auto frame = blankFrame(VideoSystem::Pal625_50);
    EXPECT_EQ(decodeAudio(frame, VideoSystem::Pal625_50, decoded).error().code, AudioErrorCode::MissingSourcePack);
    std::span<const std::byte> half(frame.data(), frame.size() / 2);
    EXPECT_EQ(decodeAudio(half, VideoSystem::Pal625_50, decoded).error().code, AudioErrorCode::FrameTooShort);

    std::vector<std::int16_t> stereo(2 * 1920, 1);
    ASSERT_TRUE(encodeAudio(frame, VideoSystem::Pal625_50, 48000, AudioQuantisation::Linear16, stereo));
    std::vector<std::int16_t> small(2 * 1919);
    EXPECT_EQ(decodeAudio(frame, VideoSystem::Pal625_50, small).error().code, AudioErrorCode::BufferTooSmall);

    const std::size_t pc4 = audioBlockOffset(0, 3) + 7;
    frame[pc4] = std::byte{0x80 | 3 << 3};   // rate code 3 does not exist
    EXPECT_EQ(decodeAudio(frame, VideoSystem::Pal625_50, decoded).error().code, AudioErrorCode::UnsupportedSampleRate);
    frame[pc4] = std::byte{0x80 | 0 << 3 | 2};   // 20-bit
    EXPECT_EQ(decodeAudio(frame, VideoSystem::Pal625_50, decoded).error().code, AudioErrorCode::UnsupportedQuantisation);
    frame[pc4] = std::byte{0x80 | 0 << 3 | 1};   // 12-bit at 48 kHz
    EXPECT_EQ(decodeAudio(frame, VideoSystem::Pal625_50, decoded).error().code, AudioErrorCode::UnsupportedQuantisation);
    frame[pc4] = std::byte{0x80};
    frame[audioBlockOffset(0, 3) + 4] = std::byte{0xFF};   // 1896 + 63 is more than the 1944 slots
    EXPECT_EQ(decodeAudio(frame, VideoSystem::Pal625_50, decoded).error().code, AudioErrorCode::SampleCountOutOfRange);

    EXPECT_EQ(encodeAudio(frame, VideoSystem::Pal625_50, 48000, AudioQuantisation::Linear16,
                          std::span<const std::int16_t>(stereo.data(), 2 * 1800)).error().code,
              AudioErrorCode::SampleCountOutOfRange);
    EXPECT_EQ(encodeAudio(frame, VideoSystem::Pal625_50, 22050, AudioQuantisation::Linear16, stereo).error().code,
              AudioErrorCode::UnsupportedSampleRate);
    EXPECT_EQ(encodeAudio(frame, VideoSystem::Pal625_50, 48000, AudioQuantisation::Nonlinear12, stereo).error().code,
              AudioErrorCode::UnsupportedQuantisation);
}

TEST(DvAudioNominalCounts, keeps_the_total_on_the_clock_over_a_minute)
{
    for (auto system : {VideoSystem::Pal625_50, VideoSystem::Ntsc525_60}) {
        for (std::uint32_t rate : {48000u, 44100u, 32000u}) {
            std::uint64_t total = 0;
            const std::uint64_t frames = system == VideoSystem::Pal625_50 ? 1500 : 1798;   // one minute (NTSC: 1798.2)
            for (std::uint64_t f = 0; f < frames; ++f) {
                const auto count = nominalAudioSamples(system, rate, f);
                ASSERT_GE(count, minimumAudioSamples(system, rate));
                ASSERT_LE(count, minimumAudioSamples(system, rate) + 63);
                total += count;
            }
            const double seconds = system == VideoSystem::Pal625_50 ? frames / 25.0 : frames * 1001.0 / 30000.0;
            EXPECT_NEAR(static_cast<double>(total), seconds * rate, 1.0) << rate;
        }
    }
}

}  // namespace
}  // namespace vantrel::dv
