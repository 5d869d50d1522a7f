// SPDX-License-Identifier: GPL-3.0-or-later
// Where each sample of each stream lies in an AVI file: from idx1, from the OpenDML indexes, or by scanning.
#include "avi/avi_index.h"

#include "dv/byte_reader.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

namespace vantrel::avi {

namespace {

constexpr std::size_t kIdx1EntryBytes = 16;       // ckid, flags, offset, size
constexpr std::uint32_t kIdx1ListFlag = 0x1;       // AVIIF_LIST: the entry names a LIST 'rec ', not data
constexpr std::uint8_t kIndexOfIndexes = 0x00;     // bIndexType of a super index
constexpr std::uint8_t kIndexOfChunks = 0x01;      // bIndexType of a standard index
constexpr std::uint32_t kDeltaFrameBit = 0x80000000u;  // ix## size: set for frames that are not key frames

struct ChunkHeader {
    FourCC id;
    std::uint32_t sizeBytes;
};

Expected<ChunkHeader, std::string> readChunkHeader(const ReadOnlyFile& file, std::uint64_t offset)
{
    std::array<std::byte, 8> bytes{};
    auto read = file.readExactlyAt(offset, bytes);
    if (!read) return unexpected(read.error());
    ByteReader reader{bytes};
    const auto id = *reader.u32le();
    return ChunkHeader{id, *reader.u32le()};
}

std::string at(std::uint64_t offset)
{
    return " at byte " + std::to_string(offset);
}

bool fitsInFile(const ReadOnlyFile& file, std::uint64_t offset, std::uint64_t sizeBytes)
{
    return offset <= file.sizeBytes() && sizeBytes <= file.sizeBytes() - offset;
}

}  // namespace

bool IndexBudget::take(std::uint32_t payloadBytes) noexcept
{
    const std::uint64_t bytes = std::uint64_t{payloadBytes} + 8;
    if (bytes > m_bytesLeft) return false;
    m_bytesLeft -= bytes;
    return true;
}

namespace {

constexpr std::size_t kIndexPieceBytes = 64 * 1024;  // an index is read this much at a time

// Whether a chunk header of `stream` with `sizeBytes` lies right before `dataOffset`.
Expected<void, std::string> checkChunkBefore(const ReadOnlyFile& file, std::uint64_t dataOffset,
                                             std::uint32_t sizeBytes, std::size_t stream)
{
    if (dataOffset < 8) return unexpected("no room for a chunk header before byte " + std::to_string(dataOffset));
    auto header = readChunkHeader(file, dataOffset - 8);
    if (!header) return unexpected(header.error());
    if (streamNumberOf(header->id) != static_cast<int>(stream) || header->sizeBytes != sizeBytes) {
        return unexpected("found " + fourCCText(header->id) + " of " + std::to_string(header->sizeBytes) +
                          " bytes" + at(dataOffset - 8) + " instead of a chunk of stream " + std::to_string(stream) +
                          " of " + std::to_string(sizeBytes) + " bytes");
    }
    return {};
}

}  // namespace

Expected<std::vector<StreamSamples>, std::string> indexFromIdx1(const ReadOnlyFile& file, std::uint64_t payloadOffset,
                                                                 std::uint64_t payloadBytes,
                                                                 std::uint64_t moviTypeOffset,
                                                                 std::size_t streamCount, IndexBudget& budget)
{
    std::vector<StreamSamples> streams(streamCount);
    std::vector<std::byte> piece(kIndexPieceBytes);
    const std::uint64_t entries = payloadBytes / kIdx1EntryBytes;
    bool baseKnown = false;
    std::uint64_t base = 0;
    for (std::uint64_t entry = 0; entry < entries;) {
        const auto count = std::min<std::uint64_t>(entries - entry, kIndexPieceBytes / kIdx1EntryBytes);
        const auto bytes = std::span<std::byte>(piece).first(static_cast<std::size_t>(count * kIdx1EntryBytes));
        auto read = file.readExactlyAt(payloadOffset + entry * kIdx1EntryBytes, bytes);
        if (!read) return unexpected("cannot read idx1: " + read.error());
        ByteReader reader{bytes};
        for (const std::uint64_t end = entry + count; entry < end; ++entry) {
            const FourCC id = *reader.u32le();
            const std::uint32_t flags = *reader.u32le();
            const std::uint32_t offset = *reader.u32le();
            const std::uint32_t size = *reader.u32le();
            const int stream = streamNumberOf(id);
            if ((flags & kIdx1ListFlag) != 0 || stream < 0) continue;
            if (static_cast<std::size_t>(stream) >= streamCount) {
                return unexpected("idx1 entry " + std::to_string(entry) + " names stream " + std::to_string(stream) +
                                  ", but the file has " + std::to_string(streamCount) + " streams");
            }
            if (!baseKnown) {
                // Relative to the 'movi' type code is the rule; some writers store file offsets.
                for (const std::uint64_t candidate : {moviTypeOffset, std::uint64_t{0}}) {
                    auto header = readChunkHeader(file, candidate + offset);
                    if (header && header->id == id) {
                        base = candidate;
                        baseKnown = true;
                        break;
                    }
                }
                if (!baseKnown) {
                    return unexpected("idx1 entry " + std::to_string(entry) + " (" + fourCCText(id) +
                                      ") points at no such chunk, neither from the 'movi' list nor from the file start");
                }
            }
            const std::uint64_t dataOffset = base + offset + 8;
            if (!fitsInFile(file, dataOffset, size)) {
                return unexpected("idx1 entry " + std::to_string(entry) + " points past the end of the file (" +
                                  std::to_string(dataOffset + size) + " > " + std::to_string(file.sizeBytes()) + ")");
            }
            if (!budget.take(size)) {
                return unexpected("idx1 names more chunk bytes than the file holds (entry " + std::to_string(entry) + ")");
            }
            streams[static_cast<std::size_t>(stream)].push_back(SampleRef{dataOffset, size});
        }
    }
    if (!baseKnown) return unexpected(std::string("idx1 lists no data chunk"));
    return streams;
}

namespace {

// The 12 bytes that open every OpenDML index chunk, the super index ('indx') and the standard
// indexes ('ix##') alike. Its chunk ID is not kept: the chunks the entries point at say it.
struct OpenDmlIndexHeader {
    std::uint16_t longsPerEntry;
    std::uint8_t subType;
    std::uint8_t indexType;
    std::uint32_t entriesInUse;
};

std::optional<OpenDmlIndexHeader> readIndexHeader(ByteReader& reader) noexcept
{
    const auto longsPerEntry = reader.u16le();
    const auto subType = reader.u8();
    const auto indexType = reader.u8();
    const auto entriesInUse = reader.u32le();
    const bool hasChunkId = reader.skip(4);
    if (!longsPerEntry || !subType || !indexType || !entriesInUse || !hasChunkId) return std::nullopt;
    return OpenDmlIndexHeader{*longsPerEntry, *subType, *indexType, *entriesInUse};
}

constexpr std::size_t kStandardIndexHeaderBytes = 24;  // the shared 12 bytes, base offset, reserved
constexpr std::size_t kStandardIndexEntryBytes = 8;    // offset from the base, size

struct StandardIndexEntry {
    std::uint64_t dataOffset;
    std::uint32_t sizeBytes;
};

// The next entry of an ix## (number `entry`) from `reader`, or an error when it points outside the file.
Expected<StandardIndexEntry, std::string> decodeStandardEntry(const ReadOnlyFile& file, std::uint64_t baseOffset,
                                                              ByteReader& reader, std::uint64_t entry,
                                                              std::uint64_t chunkOffset)
{
    const std::uint32_t offset = *reader.u32le();
    const std::uint32_t size = *reader.u32le() & ~kDeltaFrameBit;
    if (baseOffset > UINT64_MAX - offset || !fitsInFile(file, baseOffset + offset, size)) {
        return unexpected("OpenDML index entry " + std::to_string(entry) + " of the chunk" + at(chunkOffset) +
                          " points past the end of the file");
    }
    return StandardIndexEntry{baseOffset + offset, size};
}

// One ix## chunk: checks that its first and last entries point at chunks of the stream, then
// appends its entries to `samples`, reading them a piece at a time.
Expected<void, std::string> appendStandardIndex(const ReadOnlyFile& file, std::uint64_t chunkOffset, std::size_t stream,
                                                StreamSamples& samples, IndexBudget& budget)
{
    auto header = readChunkHeader(file, chunkOffset);
    if (!header) return unexpected("OpenDML index chunk" + at(chunkOffset) + ": " + header.error());
    if (!fitsInFile(file, chunkOffset + 8, header->sizeBytes)) {
        return unexpected("OpenDML index chunk" + at(chunkOffset) + " runs past the end of the file");
    }
    std::array<std::byte, kStandardIndexHeaderBytes> headerBytes{};
    if (header->sizeBytes < headerBytes.size() || !file.readExactlyAt(chunkOffset + 8, headerBytes)) {
        return unexpected("OpenDML index chunk" + at(chunkOffset) + " is too short for its header");
    }
    ByteReader headerReader{headerBytes};
    const auto index = readIndexHeader(headerReader);
    const auto baseOffset = headerReader.u64le();
    if (!index || !baseOffset) {
        return unexpected("OpenDML index chunk" + at(chunkOffset) + " is too short for its header");
    }
    if (index->indexType != kIndexOfChunks || index->longsPerEntry != 2 || index->subType != 0) {
        return unexpected("OpenDML index chunk" + at(chunkOffset) + " is not a standard frame index");
    }
    const std::uint64_t room = (header->sizeBytes - kStandardIndexHeaderBytes) / kStandardIndexEntryBytes;
    if (index->entriesInUse > room) {
        return unexpected("OpenDML index chunk" + at(chunkOffset) + " claims " + std::to_string(index->entriesInUse) +
                          " entries but holds room for " + std::to_string(room));
    }
    const std::uint64_t entriesOffset = chunkOffset + 8 + kStandardIndexHeaderBytes;
    const std::uint64_t entries = index->entriesInUse;
    for (const std::uint64_t entry : {std::uint64_t{0}, entries - 1}) {
        std::array<std::byte, kStandardIndexEntryBytes> bytes{};
        if (!file.readExactlyAt(entriesOffset + entry * kStandardIndexEntryBytes, bytes)) {
            return unexpected("cannot read the OpenDML index chunk" + at(chunkOffset));
        }
        ByteReader reader{bytes};
        auto decoded = decodeStandardEntry(file, *baseOffset, reader, entry, chunkOffset);
        if (!decoded) return unexpected(decoded.error());
        auto checked = checkChunkBefore(file, decoded->dataOffset, decoded->sizeBytes, stream);
        if (!checked) {
            return unexpected("OpenDML index entry " + std::to_string(entry) + " of the chunk" + at(chunkOffset) +
                              " points at no frame: " + checked.error());
        }
    }
    std::vector<std::byte> piece(kIndexPieceBytes);
    for (std::uint64_t entry = 0; entry < entries;) {
        const auto count = std::min<std::uint64_t>(entries - entry, kIndexPieceBytes / kStandardIndexEntryBytes);
        const auto bytes = std::span<std::byte>(piece).first(static_cast<std::size_t>(count * kStandardIndexEntryBytes));
        if (!file.readExactlyAt(entriesOffset + entry * kStandardIndexEntryBytes, bytes)) {
            return unexpected("cannot read the OpenDML index chunk" + at(chunkOffset));
        }
        ByteReader reader{bytes};
        for (const std::uint64_t end = entry + count; entry < end; ++entry) {
            auto decoded = decodeStandardEntry(file, *baseOffset, reader, entry, chunkOffset);
            if (!decoded) return unexpected(decoded.error());
            if (!budget.take(decoded->sizeBytes)) {
                return unexpected("the OpenDML index names more chunk bytes than the file holds (chunk" +
                                  at(chunkOffset) + ")");
            }
            samples.push_back(SampleRef{decoded->dataOffset, decoded->sizeBytes});
        }
    }
    return {};
}

}  // namespace

Expected<StreamSamples, std::string> indexFromSuperIndex(const ReadOnlyFile& file,
                                                         std::span<const std::byte> indxPayload, std::size_t stream,
                                                         IndexBudget& budget)
{
    ByteReader reader{indxPayload};
    const auto index = readIndexHeader(reader);
    if (!index || !reader.skip(12)) return unexpected(std::string("the OpenDML super index is too short"));
    if (index->indexType != kIndexOfIndexes || index->longsPerEntry != 4 || index->subType != 0) {
        return unexpected(std::string("the OpenDML 'indx' chunk is not a super index of frame indexes"));
    }
    if (index->entriesInUse > reader.remaining() / 16) {
        return unexpected("the OpenDML super index claims " + std::to_string(index->entriesInUse) +
                          " entries but holds room for " + std::to_string(reader.remaining() / 16));
    }
    if (index->entriesInUse == 0) return unexpected(std::string("the OpenDML super index is empty"));
    std::unordered_set<std::uint64_t> named;  // bounded by the header list's size
    StreamSamples samples;
    for (std::uint32_t i = 0; i < index->entriesInUse; ++i) {
        const std::uint64_t offset = *reader.u64le();
        reader.skip(8);  // size of the ix## chunk and the duration it covers: the chunk says both itself
        // A standard index named again adds no frames: each counts once.
        if (!named.insert(offset).second) continue;
        auto appended = appendStandardIndex(file, offset, stream, samples, budget);
        if (!appended) return unexpected(appended.error());
    }
    return samples;
}

Expected<void, std::string> checkIndexedChunks(const ReadOnlyFile& file, const StreamSamples& samples,
                                               std::size_t stream)
{
    constexpr std::size_t kSpread = 16;  // samples checked: the first, the last and 14 between
    const std::size_t count = samples.size();
    std::optional<std::size_t> previous;
    for (std::size_t k = 0; k < kSpread && count > 0; ++k) {
        const std::size_t i = static_cast<std::size_t>(static_cast<std::uint64_t>(k) * (count - 1) / (kSpread - 1));
        if (previous == i) continue;  // a short stream: every sample is checked once
        // A stream's chunks follow one another through the file, and its indexes list them so:
        // a sample at or before the one listed ahead of it is named twice or out of place.
        if (previous && samples[i].offsetBytes <= samples[*previous].offsetBytes) {
            return unexpected("sample " + std::to_string(i) + " of stream " + std::to_string(stream) +
                              " does not lie behind sample " + std::to_string(*previous));
        }
        auto checked = checkChunkBefore(file, samples[i].offsetBytes, samples[i].sizeBytes, stream);
        if (!checked) {
            return unexpected("sample " + std::to_string(i) + " of stream " + std::to_string(stream) +
                              " points at no chunk of the stream: " + checked.error());
        }
        previous = i;
    }
    return {};
}

namespace {

bool isDataChunk(FourCC id)
{
    return streamNumberOf(id) >= 0;
}

}  // namespace

ScanResult scanMovieData(const ReadOnlyFile& file, std::uint64_t start, std::uint64_t end, std::size_t streamCount)
{
    ScanResult result;
    result.streams.resize(streamCount);
    if (end > file.sizeBytes()) end = file.sizeBytes();
    std::uint64_t position = start;
    while (position + 8 <= end) {
        auto header = readChunkHeader(file, position);
        if (!header) {
            result.stopReason = header.error();
            break;
        }
        if (!isPlausibleChunkId(header->id)) {
            result.stopReason = "no chunk header" + at(position) + " (found " + fourCCText(header->id) + ")";
            break;
        }
        if (header->id == kList || header->id == kRiff) {
            std::array<std::byte, 4> typeBytes{};
            if (position + 12 > end || !file.readExactlyAt(position + 8, typeBytes)) {
                result.stopReason = "the file ends inside a list header" + at(position);
                break;
            }
            const FourCC type = *ByteReader{typeBytes}.u32le();
            if (type == kMovieList || type == kRecordList || type == kAviExtension) {
                position += 12;  // step into the list: its chunks follow one another
                continue;
            }
        }
        const std::uint64_t dataOffset = position + 8;
        if (!fitsInFile(file, dataOffset, header->sizeBytes) || dataOffset + header->sizeBytes > end) {
            result.stopReason = "the chunk " + fourCCText(header->id) + at(position) +
                                " runs past the end of the data (an interrupted write)";
            break;
        }
        const int stream = streamNumberOf(header->id);
        if (isDataChunk(header->id) && static_cast<std::size_t>(stream) < streamCount) {
            result.streams[static_cast<std::size_t>(stream)].push_back(SampleRef{dataOffset, header->sizeBytes});
        }
        std::uint64_t next = dataOffset + header->sizeBytes;
        if ((header->sizeBytes & 1) != 0) {
            // Chunks are padded to an even length, but some writers leave the pad byte out.
            auto padded = next + 8 <= end ? readChunkHeader(file, next + 1) : Expected<ChunkHeader, std::string>(
                                                                                   unexpected(std::string()));
            auto unpadded = next + 8 <= end ? readChunkHeader(file, next) : Expected<ChunkHeader, std::string>(
                                                                                unexpected(std::string()));
            const bool paddedLooksRight = padded && isPlausibleChunkId(padded->id);
            const bool unpaddedLooksRight = unpadded && isPlausibleChunkId(unpadded->id);
            if (paddedLooksRight || !unpaddedLooksRight) next += 1;
        }
        position = next;
    }
    return result;
}

std::string fourCCText(FourCC code)
{
    std::string text(4, '?');
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>(static_cast<std::uint8_t>(code >> (8 * i)));
        if (c >= 0x20 && c <= 0x7E) text[static_cast<std::size_t>(i)] = c;
    }
    return "'" + text + "'";
}

}  // namespace vantrel::avi
