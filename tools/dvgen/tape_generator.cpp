// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the frames of a generated tape: looped pictures, metadata packs and a test sound.
#include "tools/dvgen/tape_generator.h"

#include "dv/dv_audio.h"
#include "tools/dvgen/frame_metadata.h"
#include "tools/dvgen/picture_encoder.h"
#include "tools/dvgen/tape_writer.h"

#include <cmath>
#include <numbers>

namespace vantrel::dvgen {
namespace {

Expected<void, std::string> fail(std::string message) { return unexpected(std::move(message)); }

bool isTimecodeValid(const Timecode& tc, bool isPal)
{
    const int framesPerSecond = isPal ? 25 : 30;
    if (tc.hours < 0 || tc.hours > 23 || tc.minutes < 0 || tc.minutes > 59 || tc.seconds < 0 || tc.seconds > 59 ||
        tc.frames < 0 || tc.frames >= framesPerSecond) {
        return false;
    }
    // Drop-frame counting has no labels ;00 and ;01 in minutes that are not tenth minutes.
    return isPal || !(tc.seconds == 0 && tc.frames < 2 && tc.minutes % 10 != 0);
}

bool isRangeValid(const std::vector<FrameRange>& ranges)
{
    for (const FrameRange& r : ranges) {
        if (r.first < 0 || r.last < r.first) return false;
    }
    return true;
}

dv::AudioQuantisation quantisationOf(AudioFormat audio) noexcept
{
    return audio == AudioFormat::Pcm32k12 ? dv::AudioQuantisation::Nonlinear12 : dv::AudioQuantisation::Linear16;
}

}  // namespace

Expected<void, std::string> validate(const TapeOptions& o)
{
    const bool isPal = o.system == dv::VideoSystem::Pal625_50;
    if (o.system == dv::VideoSystem::Unknown) return fail("the video system must be pal or ntsc");
    if (o.format == FileFormat::Unknown) return fail("the file format must be avi or dv");
    if (o.frameCount < 1 || o.frameCount > 10'000'000) return fail("the frame count must be 1 to 10000000");
    if (o.pictureCount < 1 || o.pictureCount > 250) return fail("the picture count must be 1 to 250");
    if (o.audio == AudioFormat::Unknown) return fail("unknown sound format");
    if (o.audio == AudioFormat::None && o.format == FileFormat::AviType1) {
        return fail("a type-1 file interleaves sound and picture: give it sound");
    }
    if (!isTimecodeValid(o.timecode, isPal)) return fail("the time code is out of range for the video system");
    const LocalDateTime& s = o.start;
    if (s.year < 1900 || s.year > 2099 || s.month < 1 || s.month > 12 || s.day < 1 || s.day > 31 || s.hour < 0 ||
        s.hour > 23 || s.minute < 0 || s.minute > 59 || s.second < 0 || s.second > 59) {
        return fail("the start date is out of range (years 1900 to 2099)");
    }
    if (!isRangeValid(o.withoutTimecode) || !isRangeValid(o.withoutDate) || !isRangeValid(o.withoutTime) ||
        !isRangeValid(o.withoutCamera) || !isRangeValid(o.withoutShutter)) {
        return fail("a frame range must run from a first frame to a later or equal last frame");
    }
    for (const DamagedPack& d : o.damagedPacks) {
        if (d.frames.first < 0 || d.frames.last < d.frames.first) return fail("bad frame range of a damaged pack");
        if (d.packId != 0x13 && d.packId != 0x62 && d.packId != 0x63) {
            return fail("only the subcode packs 0x13, 0x62 and 0x63 can be damaged");
        }
    }
    const int sequences = static_cast<int>(dv::sequenceCount(o.system));
    if (o.subcodeFirstSequence < 0 || o.subcodeFirstSequence >= sequences ||
        o.cameraFirstSequence < 0 || o.cameraFirstSequence >= sequences) {
        return fail("a first sequence must lie within the frame");
    }
    if (o.dateFirstSequence < 0 || o.dateFirstSequence > sequences) {
        return fail("the date and time subcode packs must start at a sequence from 0 to " +
                    std::to_string(sequences) + " (the frame's sequence count)");
    }
    // The camera pack may not displace the video source packs (slots 0, 1, 9, 10), the shutter
    // pack (block 0, slot 1 or 2) or the date and time (block 1, slots 2 and 3).
    const int block = o.cameraVauxBlock;
    const int slot = o.cameraVauxSlot;
    if (block < 0 || block > 2 || slot < 0 || slot > 14 || slot == 0 || slot == 1 || slot == 9 || slot == 10 ||
        (block == 0 && slot == o.shutterVauxSlot) || (block == 1 && (slot == 2 || slot == 3))) {
        return fail("the camera pack's VAUX slot is taken or out of range");
    }
    if (o.shutterVauxSlot != 1 && o.shutterVauxSlot != 2) return fail("the shutter pack goes into slot 1 or 2");
    return {};
}

Expected<TapeGenerator, std::string> TapeGenerator::create(const TapeOptions& options)
{
    if (auto valid = validate(options); !valid) return unexpected(valid.error());
    auto pictures = encodeTestPictures(options.system, options.pattern, options.pictureCount);
    if (!pictures) return unexpected(pictures.error());
    TapeGenerator generator{options};
    generator.m_pictures = std::move(pictures.value());
    generator.m_stereo.resize(dv::kMaxStereoSamplesPerFrame);
    return generator;
}

std::size_t TapeGenerator::frameBytes() const noexcept { return dv::frameBytes(m_options.system); }

// Left: a 440 Hz tone. Right: a sweep from 200 Hz to 2 kHz that repeats every 4 seconds.
// Both are functions of the sample's position on the tape, so any frame can be made alone.
void TapeGenerator::synthesiseSound(std::int64_t frameIndex, std::size_t samplesPerChannel) noexcept
{
    const double rate = audioSampleRateHz(m_options.audio);
    const std::uint64_t first = audioSamplesBefore(m_options, frameIndex);
    const double sweepSeconds = 4.0;
    const auto sweepLength = static_cast<std::uint64_t>(rate * sweepSeconds);
    constexpr double kAmplitude = 0.3 * 32767.0;
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    for (std::size_t i = 0; i < samplesPerChannel; ++i) {
        const std::uint64_t n = first + i;
        const double t = static_cast<double>(n) / rate;
        const double left = std::sin(kTwoPi * std::fmod(440.0 * t, 1.0));
        const double ts = static_cast<double>(n % sweepLength) / rate;
        const double phase = 200.0 * ts + (2000.0 - 200.0) * ts * ts / (2.0 * sweepSeconds);
        const double right = std::sin(kTwoPi * std::fmod(phase, 1.0));
        m_stereo[2 * i] = static_cast<std::int16_t>(std::lround(kAmplitude * left));
        m_stereo[2 * i + 1] = static_cast<std::int16_t>(std::lround(kAmplitude * right));
    }
}

Expected<void, std::string> TapeGenerator::renderFrame(std::int64_t frameIndex, std::span<std::byte> out)
{
    const std::size_t bytes = frameBytes();
    if (out.size() < bytes) return fail("frame buffer too small");
    if (frameIndex < 0) return fail("negative frame number");
    const auto& picture = m_pictures[static_cast<std::size_t>(frameIndex % static_cast<std::int64_t>(m_pictures.size()))];
    std::copy(picture.begin(), picture.end(), out.begin());
    const std::span<std::byte> frame = out.first(bytes);
    writeFrameMetadata(frame, m_options, frameIndex);
    if (m_options.audio == AudioFormat::None) return {};
    const std::size_t samples = audioSamplesInFrame(m_options, frameIndex);
    synthesiseSound(frameIndex, samples);
    auto encoded = dv::encodeAudio(frame, m_options.system, audioSampleRateHz(m_options.audio),
                                   quantisationOf(m_options.audio),
                                   std::span<const std::int16_t>(m_stereo).first(2 * samples));
    if (!encoded) return fail(std::string("cannot encode the sound of frame ") + std::to_string(frameIndex) + ": " +
                              dv::describe(encoded.error().code));
    return {};
}

Expected<void, std::string> TapeGenerator::writeTo(const std::string& path)
{
    return writeTape(*this, path);
}

}  // namespace vantrel::dvgen
