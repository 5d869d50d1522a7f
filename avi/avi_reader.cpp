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

constexpr std::size_t kNamedNotes = 10;                   // notes kept word for word; the rest are counted

// Notes about the file's structure: the first few word for word, then only a count, so that a
// file of a million broken forms cannot flood the output or the memory.
class Notes {
public:
    void add(std::string note)
    {
        if (m_kept.size() < kNamedNotes) m_kept.push_back(std::move(note));
        else ++m_leftOut;
    }
    std::vector<std::string> take()
    {
        if (m_leftOut > 0) {
            m_kept.push_back(std::to_string(m_leftOut) + " more notes about the file's structure left out (the first " +
                             std::to_string(kNamedNotes) + " are named)");
        }
        return std::move(m_kept);
    }

private:
    std::vector<std::string> m_kept;
    std::size_t m_leftOut = 0;
};

struct FileLayout {
    std::vector<std::byte> headerList;     // payload of LIST 'hdrl', behind its type code
    std::vector<MovieList> movieLists;
    std::uint64_t idx1Offset = 0;          // of the idx1 payload; read only when it is used
    std::uint64_t idx1Bytes = 0;           // clipped to the form and the file
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

// The 12 bytes that open a RIFF form: 'RIFF', its size, its type ('AVI ' or 'AVIX'); one read.
struct FormHeader {
    ChunkHeader chunk;
    FourCC type = 0;
};

std::optional<FormHeader> readFormHeader(const ReadOnlyFile& file, std::uint64_t offset)
{
    std::array<std::byte, 12> bytes{};
    if (!file.readExactlyAt(offset, bytes)) return std::nullopt;
    ByteReader reader{bytes};
    FormHeader header;
    header.chunk.id = *reader.u32le();
    header.chunk.sizeBytes = *reader.u32le();
    header.type = *reader.u32le();
    return header;
}

// Walks the chunks of one RIFF form whose header (read by the caller) lies at formOffset;
// returns the form's end, clipped to the file.
Expected<std::uint64_t, AviError> walkForm(const ReadOnlyFile& file, std::uint64_t formOffset,
                                           const FormHeader& formHeader, bool isFirstForm, FileLayout& layout,
                                           Notes& notes)
{
    const std::uint32_t formBytes = formHeader.chunk.sizeBytes;
    std::uint64_t end = formOffset + 8 + formBytes;
    if (formBytes < 4 || end > file.sizeBytes()) {
        notes.add("the RIFF " + fourCCText(formHeader.type) + " form" + at(formOffset) + " declares " +
                        std::to_string(formBytes) + " bytes, which do not fit the file of " +
                        std::to_string(file.sizeBytes()) + " bytes: read up to the end of the file");
        end = file.sizeBytes();
    }
    const std::size_t movieListsBefore = layout.movieLists.size();
    std::uint64_t position = formOffset + 12;
    while (position + 8 <= end) {
        const auto chunk = readChunkHeader(file, position);
        if (!chunk) break;
        if (!isPlausibleChunkId(chunk->id)) {
            notes.add("no chunk header" + at(position) + " (found " + fourCCText(chunk->id) +
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
                    notes.add("the 'movi' list" + at(position) + " declares " +
                                    std::to_string(chunk->sizeBytes) + " bytes, which do not fit: its end is unknown");
                    break;
                }
            }
        } else if (chunk->id == kLegacyIndex && isFirstForm) {
            layout.idx1Offset = dataOffset;
            layout.idx1Bytes = std::min<std::uint64_t>(chunk->sizeBytes, available);
            layout.hasIdx1 = true;
            layout.idx1Complete = layout.idx1Bytes == chunk->sizeBytes;
        }
        position = dataOffset + chunk->sizeBytes + (chunk->sizeBytes & 1u);
    }
    if (!isFirstForm && layout.movieLists.size() == movieListsBefore) {
        notes.add("the 'AVIX' form" + at(formOffset) + " holds no 'movi' list");
    }
    return end + (end & 1u);
}

Expected<FileLayout, AviError> walkFile(const ReadOnlyFile& file, Notes& notes)
{
    const auto header = readFormHeader(file, 0);
    if (!header || header->chunk.id != kRiff || header->type != kAvi) {
        return unexpected(AviError{"not an AVI file: it does not begin with a RIFF 'AVI ' header"});
    }
    FileLayout layout;
    auto next = walkForm(file, 0, *header, true, layout, notes);
    if (!next) return unexpected(next.error());
    std::uint64_t position = *next;
    while (position + 12 <= file.sizeBytes()) {
        const auto extension = readFormHeader(file, position);
        if (!extension || extension->chunk.id != kRiff || extension->type != kAviExtension) break;
        layout.hasExtensionForms = true;
        next = walkForm(file, position, *extension, false, layout, notes);
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

struct ParsedHeader {
    std::vector<ParsedStream> streams;
    std::uint32_t totalFrames = 0;  // OpenDML 'dmlh': frames of the whole file, all RIFF forms; 0 when absent
};

constexpr FourCC kOpenDmlList = makeFourCC("odml");
constexpr FourCC kOpenDmlHeader = makeFourCC("dmlh");

// dwTotalFrames of the 'dmlh' chunk in a LIST 'odml' payload (behind its type code), or 0.
std::uint32_t totalFramesOf(std::span<const std::byte> odml)
{
    ByteReader reader{odml};
    while (reader.remaining() >= 8) {
        const FourCC id = *reader.u32le();
        const std::uint32_t size = *reader.u32le();
        const auto payload = reader.bytes(std::min<std::size_t>(size, reader.remaining()));
        if (id == kOpenDmlHeader && payload->size() >= 4) return *ByteReader{*payload}.u32le();
        if ((size & 1u) != 0) reader.skip(1);
    }
    return 0;
}

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

Expected<ParsedHeader, AviError> parseHeaderList(std::span<const std::byte> headerList)
{
    ParsedHeader parsed;
    auto& streams = parsed.streams;
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
        } else if (id == kList && payload->size() >= 4 && *ByteReader{*payload}.u32le() == kOpenDmlList) {
            parsed.totalFrames = totalFramesOf(payload->subspan(4));
        }
        if ((size & 1u) != 0) reader.skip(1);
    }
    if (streams.empty()) return unexpected(AviError{"the AVI header declares no stream"});
    return parsed;
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

namespace {

// Every stream's samples from the OpenDML indexes, checked; an error says why they cannot serve.
Expected<std::vector<StreamSamples>, std::string> openDmlSamples(const ReadOnlyFile& file,
                                                                 const std::vector<ParsedStream>& streams,
                                                                 const std::vector<MovieList>& movieLists)
{
    IndexBudget budget(file.sizeBytes());
    std::vector<StreamSamples> samples;
    for (std::size_t s = 0; s < streams.size(); ++s) {
        auto indexed = indexFromSuperIndex(file, streams[s].superIndex, s, budget);
        if (!indexed) return unexpected(indexed.error());
        auto checked = checkIndexedChunks(file, *indexed, s);
        if (!checked) return unexpected(checked.error());
        samples.push_back(std::move(*indexed));
    }
    if (!indexCoversEveryMovieList(samples, movieLists)) {
        return unexpected(std::string("it does not reach every 'movi' list"));
    }
    return samples;
}

// Every stream's samples from idx1, checked; an error says why they cannot serve.
Expected<std::vector<StreamSamples>, std::string> idx1Samples(const ReadOnlyFile& file, const FileLayout& layout,
                                                              std::size_t streamCount)
{
    if (!layout.idx1Complete) return unexpected(std::string("it is cut short by the end of the file"));
    if (layout.hasExtensionForms) return unexpected(std::string("it covers only the first RIFF form"));
    IndexBudget budget(file.sizeBytes());
    auto indexed = indexFromIdx1(file, layout.idx1Offset, layout.idx1Bytes, layout.movieLists.front().typeOffset,
                                 streamCount, budget);
    if (!indexed) return unexpected(indexed.error());
    for (std::size_t s = 0; s < indexed->size(); ++s) {
        auto checked = checkIndexedChunks(file, (*indexed)[s], s);
        if (!checked) return unexpected(checked.error());
    }
    return indexed;
}

}  // namespace

Expected<AviReader, AviError> AviReader::open(const std::string& path)
{
    try {
        return openIndexed(path);
    } catch (const std::bad_alloc&) {
        // A file may claim more than this machine holds; the caps above make this rare.
        return unexpected(AviError{"not enough memory to index the file"});
    }
}

Expected<AviReader, AviError> AviReader::openIndexed(const std::string& path)
{
    auto file = ReadOnlyFile::open(path);
    if (!file) return unexpected(AviError{file.error()});
    AviReader reader;
    reader.m_file = std::move(*file);

    Notes notes;
    auto layout = walkFile(reader.m_file, notes);
    if (!layout) return unexpected(layout.error());
    if (layout->headerList.empty()) return unexpected(AviError{"the file has no AVI header list ('hdrl')"});
    auto parsed = parseHeaderList(layout->headerList);
    if (!parsed) return unexpected(parsed.error());
    const auto& streams = parsed->streams;
    for (const auto& stream : streams) reader.m_streams.push_back(stream.description);
    const std::size_t streamCount = streams.size();
    if (layout->movieLists.empty()) return unexpected(AviError{"the file has no movie data ('movi' list)"});

    // The OpenDML index first, then idx1, then a scan; an index that is there but refused is noted.
    std::vector<std::string> refused;
    const bool everyStreamHasSuperIndex =
        std::all_of(streams.begin(), streams.end(), [](const ParsedStream& s) { return !s.superIndex.empty(); });
    if (everyStreamHasSuperIndex) {
        auto samples = openDmlSamples(reader.m_file, streams, layout->movieLists);
        if (samples) {
            reader.m_samples = std::move(*samples);
            reader.m_indexSource = IndexSource::OpenDml;
        } else {
            refused.push_back("the OpenDML index: " + samples.error());
        }
    }
    if (reader.m_indexSource == IndexSource::Unknown && layout->hasIdx1) {
        auto samples = idx1Samples(reader.m_file, *layout, streamCount);
        if (samples) {
            reader.m_samples = std::move(*samples);
            reader.m_indexSource = IndexSource::LegacyIdx1;
            if (!refused.empty()) notes.add("not used: " + refused.front() + "; frames found through idx1");
        } else {
            refused.push_back("idx1: " + samples.error());
        }
    }
    if (reader.m_indexSource == IndexSource::Unknown) {
        std::string why = refused.empty() ? "the file has no index" : refused.front();
        for (std::size_t i = 1; i < refused.size(); ++i) why += "; " + refused[i];
        auto scan = scanMovieData(reader.m_file, layout->movieLists.front().firstChunkOffset,
                                  reader.m_file.sizeBytes(), streamCount);
        notes.add("no usable index (" + why + "): frames found by scanning the 'movi' lists");
        if (!scan.stopReason.empty()) notes.add("scan stopped: " + scan.stopReason);
        reader.m_samples = std::move(scan.streams);
        reader.m_indexSource = IndexSource::Scan;
    }
    reader.m_samples.resize(streamCount);
    if (parsed->totalFrames > 0 && !reader.m_samples.empty() && reader.m_samples.front().size() < parsed->totalFrames) {
        notes.add("the header counts " + std::to_string(parsed->totalFrames) + " frames, but only " +
                  std::to_string(reader.m_samples.front().size()) + " are in the file: it is cut short");
    }
    reader.m_notes = notes.take();
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
