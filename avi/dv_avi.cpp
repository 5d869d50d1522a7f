// SPDX-License-Identifier: GPL-3.0-or-later
// Opens the DV stream of a DV AVI file (type 1 or type 2) and decides whether it is PAL or NTSC.
#include "avi/dv_avi.h"

#include "avi/raw_dv_file.h"
#include "dv/dif_header.h"

#include <algorithm>
#include <array>

namespace vantrel::avi {

namespace {

constexpr std::size_t kSubcodeAndVauxStart = dv::kDifBlockBytes;           // block 1: first subcode block
constexpr std::size_t kSubcodeAndVauxBytes = 5 * dv::kDifBlockBytes;       // blocks 1..5: subcode and VAUX
constexpr std::size_t kFramesToTellDv = 5;    // a stream none of whose first frames is DV is refused

// The subcode and VAUX blocks of each sequence of a PAL frame (an NTSC sample is shorter and
// the ranges past its end are left out); sequence 0 from its header block on, which the same
// read brings in for nothing and which tells a DV frame from garbage.
constexpr std::array<SampleRange, dv::kPalSequences> metadataRanges()
{
    std::array<SampleRange, dv::kPalSequences> ranges{};
    for (std::size_t s = 0; s < dv::kPalSequences; ++s) {
        ranges[s] = SampleRange{s * dv::kSequenceBytes + kSubcodeAndVauxStart, kSubcodeAndVauxBytes};
    }
    ranges[0] = SampleRange{0, dv::kDifHeaderCheckBytes};
    return ranges;
}

constexpr auto kMetadataRanges = metadataRanges();

// The ranges of a sample that hold the metadata blocks of sequences [first, end): one per
// sequence, or one span from the first block to the last, gaps included (kept in `span`).
std::span<const SampleRange> metadataRangesOf(std::size_t first, std::size_t end, MetadataPieces shape,
                                              SampleRange& span) noexcept
{
    end = std::min(end, kMetadataRanges.size());
    if (first >= end) return {};
    const auto sequences = std::span<const SampleRange>(kMetadataRanges).subspan(first, end - first);
    if (shape == MetadataPieces::EachSequence) return sequences;
    span = SampleRange{sequences.front().offsetInSample,
                       sequences.back().offsetInSample + sequences.back().sizeBytes - sequences.front().offsetInSample};
    return {&span, 1};
}

}  // namespace

dv::VideoSystem videoSystemOfRate(std::uint32_t dwRate, std::uint32_t dwScale) noexcept
{
    if (dwScale != 0 && dwRate / dwScale == 25) return dv::VideoSystem::Pal625_50;
    if (dwScale == 1001 && dwRate == 30000) return dv::VideoSystem::Ntsc525_60;
    return dv::VideoSystem::Unknown;
}

DvAvi::DvAvi(AviReader reader, std::size_t stream, DvStreamInfo info, bool isPal, std::vector<std::string> notes)
    : m_reader(std::move(reader)), m_stream(stream), m_info(info), m_isPal(isPal), m_notes(std::move(notes))
{
}

std::size_t DvAvi::frameReadBytes(std::size_t frameIndex) const noexcept
{
    if (frameIndex >= frameCount()) return 0;
    return std::min<std::size_t>(m_reader.sample(m_stream, frameIndex).sizeBytes, dv::kMaxFrameBytes);
}

Expected<std::size_t, AviError> DvAvi::readFrame(std::size_t frameIndex, std::span<std::byte> out) const
{
    return m_reader.readSample(m_stream, frameIndex, out.first(std::min(out.size(), frameReadBytes(frameIndex))));
}

Expected<std::size_t, AviError> DvAvi::readMetadataBlocks(std::size_t frameIndex, std::span<std::byte> out) const
{
    return m_reader.readSampleRanges(m_stream, frameIndex, kMetadataRanges,
                                     out.first(std::min(out.size(), frameReadBytes(frameIndex))));
}

std::size_t DvAvi::metadataPieces(std::size_t frameIndex, std::size_t firstSequence, std::size_t endSequence,
                                  MetadataPieces shape, std::span<std::byte> out,
                                  std::span<ReadPiece> pieces) const noexcept
{
    if (frameIndex >= frameCount()) return 0;
    SampleRange span{};
    const auto ranges = metadataRangesOf(firstSequence, endSequence, shape, span);
    return m_reader.sampleRangePieces(m_stream, frameIndex, ranges,
                                      out.first(std::min(out.size(), frameReadBytes(frameIndex))), pieces);
}

namespace {

// The system the DIF header of one of the first frames names; Unknown when none of them starts
// like a DV frame (or the stream has no frames).
dv::VideoSystem systemOfFirstFrames(const AviReader& reader, std::size_t stream)
{
    std::array<std::byte, dv::kDifHeaderCheckBytes> start{};
    const std::size_t frames = std::min(reader.sampleCount(stream), kFramesToTellDv);
    for (std::size_t i = 0; i < frames; ++i) {
        auto read = reader.readSample(stream, i, start);
        if (!read) continue;
        const auto system = dv::systemOfDifHeader(std::span<const std::byte>(start.data(), *read));
        if (system != dv::VideoSystem::Unknown) return system;
    }
    return dv::VideoSystem::Unknown;
}

const char* nameOf(dv::VideoSystem system)
{
    return system == dv::VideoSystem::Pal625_50 ? "PAL" : "NTSC";
}

}  // namespace

// OpenDVAvi without its guard against running out of memory.

Expected<DvAvi, std::string> openDvStream(const std::string& fileName)
{
    auto reader = startsLikeRawDv(fileName) ? openRawDvStream(fileName) : AviReader::open(fileName);
    if (!reader) return unexpected(fileName + ": " + reader.error().message);
    int stream = reader->findStream(kVideoStream);
    if (stream < 0) stream = reader->findStream(kInterleavedStream);
    if (stream < 0) return unexpected(fileName + ": no video ('vids') or interleaved DV ('iavs') stream");
    const auto streamIndex = static_cast<std::size_t>(stream);

    const auto& header = reader->streams()[streamIndex].header;
    DvStreamInfo info;
    info.fccType = header.type;
    info.fccHandler = header.handler;
    info.dwScale = header.scale;
    info.dwRate = header.rate;
    info.dwSuggestedBufferSize = header.suggestedBufferSize;
    const std::size_t frames = reader->sampleCount(streamIndex);
    info.dwLength = static_cast<std::uint32_t>(std::min<std::size_t>(frames, UINT32_MAX));

    const auto difSystem = systemOfFirstFrames(*reader, streamIndex);
    if (frames > 0 && difSystem == dv::VideoSystem::Unknown) {
        return unexpected(fileName + ": the " + fourCCText(info.fccType) + " stream holds no DV: none of its first " +
                          std::to_string(std::min(frames, kFramesToTellDv)) + " frames begins with a DIF header block");
    }
    std::vector<std::string> notes = reader->notes();
    const std::string rate = std::to_string(info.dwRate) + "/" + std::to_string(info.dwScale);
    auto system = videoSystemOfRate(info.dwRate, info.dwScale);
    const bool isRateMissing = info.dwRate == 0 || info.dwScale == 0;
    if (isRateMissing && difSystem != dv::VideoSystem::Unknown) {
        system = difSystem;
        notes.push_back("the " + fourCCText(info.fccType) + " stream declares no frame rate (" + rate +
                        "): read as " + nameOf(system) + ", as its DIF headers say");
    } else if (system != dv::VideoSystem::Unknown && difSystem != dv::VideoSystem::Unknown && system != difSystem) {
        notes.push_back("the " + fourCCText(info.fccType) + " stream declares " + rate + " frames a second (" +
                        nameOf(system) + "), but its DIF headers say " + nameOf(difSystem) + ": read as " +
                        nameOf(difSystem));
        system = difSystem;
    }
    if (system == dv::VideoSystem::Unknown) {
        return unexpected(fileName + ": the " + fourCCText(info.fccType) + " stream runs at " + rate +
                          " frames a second, neither PAL (25) nor NTSC (30000/1001)");
    }
    return DvAvi(std::move(*reader), streamIndex, info, system == dv::VideoSystem::Pal625_50, std::move(notes));
}

Expected<DvAvi, std::string> OpenDVAvi(const std::string& fileName)
{
    try {
        return openDvStream(fileName);
    } catch (const std::bad_alloc&) {
        return unexpected(fileName + ": not enough memory to open the file");
    }
}

}  // namespace vantrel::avi
