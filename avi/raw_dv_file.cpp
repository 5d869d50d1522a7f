// SPDX-License-Identifier: GPL-3.0-or-later
// Opens a raw DV file (.dv, .dif: DIF frames back to back, as dvgrab and ffmpeg write them) as one DV stream.
#include "avi/raw_dv_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>

namespace vantrel::avi {

namespace {

// The three ID bytes that lead every DIF block.
constexpr std::uint8_t sectionTypeOf(std::span<const std::byte> block) noexcept  // SCT: 0 header, 1 subcode
{
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(block[0]) >> 5);
}
constexpr std::uint8_t sequenceNumberOf(std::span<const std::byte> block) noexcept  // Dseq, high nibble of ID 1
{
    return static_cast<std::uint8_t>(static_cast<std::uint8_t>(block[1]) >> 4);
}
constexpr std::uint8_t blockNumberOf(std::span<const std::byte> block) noexcept  // DBN, ID 2
{
    return static_cast<std::uint8_t>(block[2]);
}
constexpr bool isFiveTwentyFiveFifty(std::span<const std::byte> headerBlock) noexcept  // DSF, bit 7 of byte 3
{
    return (static_cast<std::uint8_t>(headerBlock[3]) & 0x80) != 0;
}

constexpr std::uint32_t kPalRate = 25, kPalScale = 1;
constexpr std::uint32_t kNtscRate = 30000, kNtscScale = 1001;

}  // namespace

dv::VideoSystem videoSystemOfRawDv(std::span<const std::byte> leadingBytes) noexcept
{
    if (leadingBytes.size() < kRawDvLeadingBytes) return dv::VideoSystem::Unknown;
    const auto header = leadingBytes.first(dv::kDifBlockBytes);
    const auto subcode = leadingBytes.subspan(dv::kDifBlockBytes, dv::kDifBlockBytes);
    const bool isHeader = sectionTypeOf(header) == 0 && sequenceNumberOf(header) == 0 && blockNumberOf(header) == 0;
    const bool isSubcode = sectionTypeOf(subcode) == 1 && sequenceNumberOf(subcode) == 0 && blockNumberOf(subcode) == 0;
    if (!isHeader || !isSubcode) return dv::VideoSystem::Unknown;
    return isFiveTwentyFiveFifty(header) ? dv::VideoSystem::Pal625_50 : dv::VideoSystem::Ntsc525_60;
}

bool startsLikeRawDv(const std::string& path)
{
    auto file = ReadOnlyFile::open(path);
    std::array<std::byte, kRawDvLeadingBytes> leading{};
    return file && file->readExactlyAt(0, leading) && videoSystemOfRawDv(leading) != dv::VideoSystem::Unknown;
}

Expected<AviReader, AviError> openRawDvStream(const std::string& path)
{
    auto file = ReadOnlyFile::open(path);
    if (!file) return unexpected(AviError{file.error()});
    std::array<std::byte, kRawDvLeadingBytes> leading{};
    if (!file->readExactlyAt(0, leading)) return unexpected(AviError{"the file is shorter than two DIF blocks"});
    const dv::VideoSystem system = videoSystemOfRawDv(leading);
    if (system == dv::VideoSystem::Unknown) {
        return unexpected(AviError{"the file begins neither with RIFF nor with a DIF header block"});
    }
    const std::uint64_t frameBytes = dv::frameBytes(system);
    const std::uint64_t frames = file->sizeBytes() / frameBytes;
    if (frames == 0) return unexpected(AviError{"the file is shorter than one DV frame"});

    AviReader reader;
    reader.m_file = std::move(*file);
    StreamDescription stream;
    stream.header.type = kInterleavedStream;
    stream.header.handler = makeFourCC("dvsd");
    const bool isPal = system == dv::VideoSystem::Pal625_50;
    stream.header.rate = isPal ? kPalRate : kNtscRate;
    stream.header.scale = isPal ? kPalScale : kNtscScale;
    stream.header.length = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, UINT32_MAX));
    stream.header.suggestedBufferSize = static_cast<std::uint32_t>(frameBytes);
    reader.m_streams.push_back(std::move(stream));

    StreamSamples samples(frames);
    for (std::uint64_t i = 0; i < frames; ++i) {
        samples[i] = SampleRef{i * frameBytes, static_cast<std::uint32_t>(frameBytes)};
    }
    reader.m_samples.push_back(std::move(samples));
    reader.m_indexSource = IndexSource::RawFrames;
    if (const std::uint64_t tail = reader.m_file.sizeBytes() % frameBytes; tail != 0) {
        reader.m_notes.push_back("the file ends inside a frame: the last " + std::to_string(tail) +
                                 " bytes are not a whole frame and are left out");
    }
    return reader;
}

}  // namespace vantrel::avi
