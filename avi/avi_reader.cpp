// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the streams of a RIFF AVI file (AVI 1.0 and OpenDML 2.0, type-1 and type-2 DV) sample by sample.
//
// Design note. Only headers and indexes are read at open; sample bytes are read on request with
// pread, so reads are const and several threads may read at once. The file is walked as a chain
// of RIFF forms: the first ('AVI ') holds the stream headers, the movie list and maybe idx1;
// OpenDML files append 'AVIX' forms with more movie lists. Every size read from the file is
// clipped to the form or list around it and to the file's size before anything is read or
// allocated, so a damaged file gives an error or a note, never a read past the end.
#include "avi/avi_reader.h"

#include "dv/byte_reader.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>

namespace vantrel::avi {

namespace {

constexpr std::uint64_t kMaxHeaderListBytes = 16u << 20;  // real header lists hold a few KB
constexpr std::size_t kStreamHeaderBytes = 48;            // strh up to dwSampleSize; rcFrame may be missing
constexpr std::size_t kMaxStreams = 100;                  // chunk IDs have two decimal digits

std::string at(std::uint64_t offset)
{
    return " at byte " + std::to_string(offset);
}

struct FileLayout {
    std::vector<std::byte> headerList;     // payload of LIST 'hdrl', behind its type code
    std::vector<MovieList> movieLists;
    std::vector<std::byte> idx1;
    bool hasIdx1 = false;
    bool idx1Complete = false;
    bool hasExtensionForms = false;
};

struct ChunkHeader {
    FourCC id = 0;
    std::uint32_t sizeBytes = 0;
};

std::optional<ChunkHeader> readChunkHeader(const ReadOnlyFile& file, std::uint64_t offset)
{
    std::array<std::byte, 8> bytes{};
    if (!file.readExactlyAt(offset, bytes)) return std::nullopt;
    ByteReader reader{bytes};
    ChunkHeader header;
    header.id = *reader.u32le();
    header.sizeBytes = *reader.u32le();
    return header;
}

std::optional<FourCC> readFourCC(const ReadOnlyFile& file, std::uint64_t offset)
{
    std::array<std::byte, 4> bytes{};
    if (!file.readExactlyAt(offset, bytes)) return std::nullopt;
    return *ByteReader{bytes}.u32le();
}

// Walks the chunks of one RIFF form from its header at formOffset; returns the form's end, clipped to the file.
Expected<std::uint64_t, AviError> walkForm(const ReadOnlyFile& file, std::uint64_t formOffset, bool isFirstForm,
                                           FileLayout& layout, std::vector<std::string>& notes)
{
    const auto header = readChunkHeader(file, formOffset);
    const auto form = readFourCC(file, formOffset + 8);
    if (!header || !form) return unexpected(AviError{"the file ends inside the RIFF header" + at(formOffset)});
    std::uint64_t end = formOffset + 8 + header->sizeBytes;
    if (header->sizeBytes < 4 || end > file.sizeBytes()) {
        notes.push_back("the RIFF " + fourCCText(*form) + " form" + at(formOffset) + " declares " +
                        std::to_string(header->sizeBytes) + " bytes, which do not fit the file of " +
                        std::to_string(file.sizeBytes()) + " bytes: read up to the end of the file");
        end = file.sizeBytes();
    }
    std::uint64_t position = formOffset + 12;
    while (position + 8 <= end) {
        const auto chunk = readChunkHeader(file, position);
        if (!chunk) break;
        if (!isPlausibleChunkId(chunk->id)) {
            notes.push_back("no chunk header" + at(position) + " (found " + fourCCText(chunk->id) +
                            "): the rest of the RIFF form is skipped");
            break;
        }
        const std::uint64_t dataOffset = position + 8;
        const std::uint64_t available = end - dataOffset;
        if (chunk->id == kList && available >= 4) {
            const auto type = readFourCC(file, dataOffset);
            if (type == kHeaderList && isFirstForm && layout.headerList.empty()) {
                const std::uint32_t declared = std::max<std::uint32_t>(chunk->sizeBytes, 4);
                const std::uint64_t bytes = std::min<std::uint64_t>(declared, available) - 4;
                if (bytes > kMaxHeaderListBytes) {
                    return unexpected(AviError{"the header list" + at(position) + " claims " +
                                               std::to_string(bytes) + " bytes, far more than any AVI header"});
                }
                layout.headerList.resize(static_cast<std::size_t>(bytes));
                if (!file.readExactlyAt(dataOffset + 4, layout.headerList)) {
                    return unexpected(AviError{"cannot read the header list" + at(position)});
                }
            } else if (type == kMovieList) {
                const std::uint64_t declaredEnd = dataOffset + chunk->sizeBytes;
                const bool sizeIsUsable = chunk->sizeBytes >= 4 && declaredEnd <= end;
                layout.movieLists.push_back(MovieList{dataOffset, dataOffset + 4, sizeIsUsable ? declaredEnd : end});
                if (!sizeIsUsable) {
                    notes.push_back("the 'movi' list" + at(position) + " declares " +
                                    std::to_string(chunk->sizeBytes) + " bytes, which do not fit: its end is unknown");
                    break;
                }
            }
        } else if (chunk->id == kLegacyIndex && isFirstForm) {
            const std::uint64_t bytes = std::min<std::uint64_t>(chunk->sizeBytes, available);
            layout.idx1.resize(static_cast<std::size_t>(bytes));  // bounded by the file's size
            layout.hasIdx1 = static_cast<bool>(file.readExactlyAt(dataOffset, layout.idx1));
            layout.idx1Complete = layout.hasIdx1 && bytes == chunk->sizeBytes;
        }
        position = dataOffset + chunk->sizeBytes + (chunk->sizeBytes & 1u);
    }
    return end + (end & 1u);
}

Expected<FileLayout, AviError> walkFile(const ReadOnlyFile& file, std::vector<std::string>& notes)
{
    const auto header = readChunkHeader(file, 0);
    const auto form = readFourCC(file, 8);
    if (!header || !form || header->id != kRiff || *form != kAvi) {
        return unexpected(AviError{"not an AVI file: it does not begin with a RIFF 'AVI ' header"});
    }
    FileLayout layout;
    auto next = walkForm(file, 0, true, layout, notes);
    if (!next) return unexpected(next.error());
    std::uint64_t position = *next;
    while (position + 12 <= file.sizeBytes()) {
        const auto chunk = readChunkHeader(file, position);
        const auto type = readFourCC(file, position + 8);
        if (!chunk || !type || chunk->id != kRiff || *type != kAviExtension) break;
        layout.hasExtensionForms = true;
        next = walkForm(file, position, false, layout, notes);
        if (!next) return unexpected(next.error());
        position = *next;
    }
    return layout;
}

StreamHeader parseStreamHeader(ByteReader reader)
{
    StreamHeader header;
    header.type = *reader.u32le();
    header.handler = *reader.u32le();
    header.flags = *reader.u32le();
    reader.skip(4);  // priority, language
    header.initialFrames = *reader.u32le();
    header.scale = *reader.u32le();
    header.rate = *reader.u32le();
    header.start = *reader.u32le();
    header.length = *reader.u32le();
    header.suggestedBufferSize = *reader.u32le();
    header.quality = *reader.u32le();
    header.sampleSize = *reader.u32le();
    return header;
}

struct ParsedStream {
    StreamDescription description;
    std::vector<std::byte> superIndex;
};

Expected<ParsedStream, AviError> parseStreamList(std::span<const std::byte> list, std::size_t streamNumber)
{
    ParsedStream stream;
    bool hasHeader = false;
    ByteReader reader{list};
    while (reader.remaining() >= 8) {
        const FourCC id = *reader.u32le();
        const std::uint32_t size = *reader.u32le();
        const auto payload = reader.bytes(std::min<std::size_t>(size, reader.remaining()));
        if (id == kStreamHeader) {
            if (payload->size() < kStreamHeaderBytes) {
                return unexpected(AviError{"the stream header of stream " + std::to_string(streamNumber) +
                                           " is " + std::to_string(payload->size()) + " bytes long, too short"});
            }
            stream.description.header = parseStreamHeader(ByteReader{*payload});
            hasHeader = true;
        } else if (id == kStreamFormat) {
            stream.description.format.assign(payload->begin(), payload->end());
        } else if (id == kSuperIndex) {
            stream.superIndex.assign(payload->begin(), payload->end());
            stream.description.hasOpenDmlIndex = true;
        }
        if ((size & 1u) != 0) reader.skip(1);
    }
    if (!hasHeader) {
        return unexpected(AviError{"stream " + std::to_string(streamNumber) + " has no stream header ('strh')"});
    }
    return stream;
}

Expected<std::vector<ParsedStream>, AviError> parseHeaderList(std::span<const std::byte> headerList)
{
    std::vector<ParsedStream> streams;
    ByteReader reader{headerList};
    while (reader.remaining() >= 8) {
        const FourCC id = *reader.u32le();
        const std::uint32_t size = *reader.u32le();
        const auto payload = reader.bytes(std::min<std::size_t>(size, reader.remaining()));
        if (id == kList && payload->size() >= 4 && *ByteReader{*payload}.u32le() == kStreamList) {
            if (streams.size() == kMaxStreams) return unexpected(AviError{"the file declares more than 100 streams"});
            auto stream = parseStreamList(payload->subspan(4), streams.size());
            if (!stream) return unexpected(stream.error());
            streams.push_back(std::move(*stream));
        }
        if ((size & 1u) != 0) reader.skip(1);
    }
    if (streams.empty()) return unexpected(AviError{"the AVI header declares no stream"});
    return streams;
}

// Whether every movie list that holds data has at least one indexed sample: an OpenDML index
// written before an interrupted capture ended misses the forms written after it. The lists are
// in file order, so each sample finds its list by binary search.
bool indexCoversEveryMovieList(const std::vector<StreamSamples>& streams, const std::vector<MovieList>& lists)
{
    std::vector<bool> covered(lists.size(), false);
    for (const auto& samples : streams) {
        for (const auto& sample : samples) {
            auto after = std::upper_bound(lists.begin(), lists.end(), sample.offsetBytes,
                                          [](std::uint64_t offset, const MovieList& list) {
                                              return offset < list.firstChunkOffset;
                                          });
            if (after == lists.begin()) continue;
            const auto list = std::prev(after);
            if (sample.offsetBytes < list->endOffset) covered[static_cast<std::size_t>(list - lists.begin())] = true;
        }
    }
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const bool holdsChunks = lists[i].endOffset >= lists[i].firstChunkOffset + 16;
        if (holdsChunks && !covered[i]) return false;
    }
    return true;
}

}  // namespace

Expected<AviReader, AviError> AviReader::open(const std::string& path)
{
    auto file = ReadOnlyFile::open(path);
    if (!file) return unexpected(AviError{file.error()});
    AviReader reader;
    reader.m_file = std::move(*file);

    auto layout = walkFile(reader.m_file, reader.m_notes);
    if (!layout) return unexpected(layout.error());
    if (layout->headerList.empty()) return unexpected(AviError{"the file has no AVI header list ('hdrl')"});
    auto parsed = parseHeaderList(layout->headerList);
    if (!parsed) return unexpected(parsed.error());
    for (auto& stream : *parsed) reader.m_streams.push_back(stream.description);
    const std::size_t streamCount = parsed->size();
    if (layout->movieLists.empty()) return unexpected(AviError{"the file has no movie data ('movi' list)"});

    std::string whyNotIndexed;
    // 1. OpenDML: every stream has a super index and together they reach every movie list.
    const bool everyStreamHasSuperIndex =
        std::all_of(parsed->begin(), parsed->end(), [](const ParsedStream& s) { return !s.superIndex.empty(); });
    if (everyStreamHasSuperIndex) {
        std::vector<StreamSamples> samples;
        for (const auto& stream : *parsed) {
            auto indexed = indexFromSuperIndex(reader.m_file, stream.superIndex);
            if (!indexed) {
                whyNotIndexed = indexed.error();
                samples.clear();
                break;
            }
            samples.push_back(std::move(*indexed));
        }
        if (!samples.empty() && !indexCoversEveryMovieList(samples, layout->movieLists)) {
            whyNotIndexed = "the OpenDML index does not reach every 'movi' list";
            samples.clear();
        }
        if (!samples.empty()) {
            reader.m_samples = std::move(samples);
            reader.m_indexSource = IndexSource::OpenDml;
        }
    }
    // 2. AVI 1.0 idx1, which cannot reach into 'AVIX' forms.
    if (reader.m_indexSource == IndexSource::Unknown && layout->hasIdx1) {
        if (!layout->idx1Complete) {
            whyNotIndexed = "the idx1 index is cut short by the end of the file";
        } else if (layout->hasExtensionForms) {
            whyNotIndexed = "idx1 covers only the first RIFF form and there is no usable OpenDML index";
        } else {
            auto indexed = indexFromIdx1(reader.m_file, layout->idx1, layout->movieLists.front().typeOffset,
                                         streamCount);
            if (indexed) {
                reader.m_samples = std::move(*indexed);
                reader.m_indexSource = IndexSource::LegacyIdx1;
            } else {
                whyNotIndexed = indexed.error();
            }
        }
    }
    // 3. No usable index: find the chunks by walking the movie lists.
    if (reader.m_indexSource == IndexSource::Unknown) {
        if (whyNotIndexed.empty()) whyNotIndexed = "the file has no index";
        auto scan = scanMovieData(reader.m_file, layout->movieLists.front().firstChunkOffset,
                                  reader.m_file.sizeBytes(), streamCount);
        reader.m_notes.push_back("no usable index (" + whyNotIndexed + "): frames found by scanning the 'movi' lists");
        if (!scan.stopReason.empty()) reader.m_notes.push_back("scan stopped: " + scan.stopReason);
        reader.m_samples = std::move(scan.streams);
        reader.m_indexSource = IndexSource::Scan;
    }
    reader.m_samples.resize(streamCount);
    return reader;
}

int AviReader::findStream(FourCC type) const noexcept
{
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        if (m_streams[i].header.type == type) return static_cast<int>(i);
    }
    return -1;
}

std::size_t AviReader::sampleCount(std::size_t stream) const noexcept
{
    return stream < m_samples.size() ? m_samples[stream].size() : 0;
}

Expected<std::size_t, AviError> AviReader::readSample(std::size_t stream, std::size_t index,
                                                      std::span<std::byte> out) const
{
    if (index >= sampleCount(stream)) {
        return unexpected(AviError{"sample " + std::to_string(index) + " of stream " + std::to_string(stream) +
                                   " does not exist"});
    }
    const auto& ref = m_samples[stream][index];
    const auto bytes = std::min<std::size_t>(ref.sizeBytes, out.size());
    auto read = m_file.readExactlyAt(ref.offsetBytes, out.first(bytes));
    if (!read) return unexpected(AviError{read.error()});
    return bytes;
}

std::size_t AviReader::sampleRangePieces(std::size_t stream, std::size_t index, std::span<const SampleRange> ranges,
                                         std::span<std::byte> out, std::span<ReadPiece> pieces) const noexcept
{
    const auto& ref = m_samples[stream][index];
    const std::size_t usable = std::min<std::size_t>(ref.sizeBytes, out.size());
    std::size_t count = 0;
    for (const auto& range : ranges) {
        if (range.offsetInSample >= usable || count == pieces.size()) continue;
        const std::size_t size = std::min(range.sizeBytes, usable - range.offsetInSample);
        pieces[count++] = ReadPiece{ref.offsetBytes + range.offsetInSample, out.data() + range.offsetInSample, size};
    }
    return count;
}

Expected<std::size_t, AviError> AviReader::readSampleRanges(std::size_t stream, std::size_t index,
                                                            std::span<const SampleRange> ranges,
                                                            std::span<std::byte> out) const
{
    if (index >= sampleCount(stream)) {
        return unexpected(AviError{"sample " + std::to_string(index) + " of stream " + std::to_string(stream) +
                                   " does not exist"});
    }
    constexpr std::size_t kBatch = 32;
    std::array<ReadPiece, kBatch> pieces{};
    for (std::size_t first = 0; first < ranges.size(); first += kBatch) {
        const auto batch = ranges.subspan(first, std::min(kBatch, ranges.size() - first));
        const std::size_t count = sampleRangePieces(stream, index, batch, out, pieces);
        auto read = m_file.readPieces(std::span<const ReadPiece>(pieces.data(), count));
        if (!read) return unexpected(AviError{read.error()});
    }
    return std::min<std::size_t>(m_samples[stream][index].sizeBytes, out.size());
}

}  // namespace vantrel::avi
