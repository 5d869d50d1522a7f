// SPDX-License-Identifier: GPL-3.0-or-later
// Where each sample of each stream lies in an AVI file: from idx1, from the OpenDML indexes, or by scanning.
#pragma once

#include "avi/fourcc.h"
#include "avi/read_only_file.h"
#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::avi {

// One sample (chunk payload) of a stream: its bytes start at offsetBytes, behind the 8-byte chunk header.
struct SampleRef {
    std::uint64_t offsetBytes;
    std::uint32_t sizeBytes;
};

using StreamSamples = std::vector<SampleRef>;

enum class IndexSource { Unknown, LegacyIdx1, OpenDml, Scan, RawFrames };  // RawFrames: a raw DV file, frame i at i × frame size

// A LIST 'movi': the position of its 'movi' type code (idx1 offsets may count from here) and the
// range in which its chunks lie, clipped to the file.
struct MovieList {
    std::uint64_t typeOffset;
    std::uint64_t firstChunkOffset;
    std::uint64_t endOffset;
};

// What a file can hold: every chunk an index names takes its payload and an 8-byte header, so
// the chunks of all the indexes of a file add up to no more than the file. An index that names
// more is invented, and is refused before it takes the memory it claims. One per file.
class IndexBudget {
public:
    explicit IndexBudget(std::uint64_t fileBytes) noexcept : m_bytesLeft(fileBytes) {}
    // Takes one chunk of `payloadBytes`; false when the file cannot hold it beside those taken.
    bool take(std::uint32_t payloadBytes) noexcept;

private:
    std::uint64_t m_bytesLeft;
};

// An idx1 chunk (its payload: `payloadBytes` from `payloadOffset`, read in bounded pieces) names
// each chunk by an offset that some writers count from the 'movi' type code and others from the
// start of the file. The first data entry decides: whichever reading finds a chunk with the
// entry's ID there. Every entry must then lie inside the file, else the index is refused.
Expected<std::vector<StreamSamples>, std::string> indexFromIdx1(const ReadOnlyFile& file, std::uint64_t payloadOffset,
                                                                 std::uint64_t payloadBytes,
                                                                 std::uint64_t moviTypeOffset,
                                                                 std::size_t streamCount, IndexBudget& budget);

// An OpenDML super index ('indx' payload of stream `stream`) and the ix## standard index chunks it
// points to, each counted once however often it is named. Any entry that points outside the
// file, a first or last entry of an ix## that points at no chunk of the stream, or an index of an
// unexpected kind refuses the whole index.
Expected<StreamSamples, std::string> indexFromSuperIndex(const ReadOnlyFile& file,
                                                         std::span<const std::byte> indxPayload, std::size_t stream,
                                                         IndexBudget& budget);

// Whether an index points where it should: the first, the last and a spread of samples of
// `stream` between them must each follow a chunk header of that stream with the sample's size.
// A few small reads, whatever the length of the stream. The error names the first that does not.
Expected<void, std::string> checkIndexedChunks(const ReadOnlyFile& file, const StreamSamples& samples,
                                               std::size_t stream);

struct ScanResult {
    std::vector<StreamSamples> streams;
    std::string stopReason;  // empty when the scan reached the end of the last list cleanly
};

// Walks the chunks from `start` to `end` as a flat run: LIST 'movi' and 'rec ' and RIFF 'AVIX'
// headers are stepped into, data chunks ("00dc", "01wb", "00__") are recorded for their stream,
// everything else is skipped by its size. Stops at the first chunk that does not fit in the file
// (an interrupted write) or whose header is not a chunk ID; a writer that left out the pad byte
// behind an odd-sized chunk is tolerated.
ScanResult scanMovieData(const ReadOnlyFile& file, std::uint64_t start, std::uint64_t end, std::size_t streamCount);

}  // namespace vantrel::avi
