// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the streams of a RIFF AVI file (AVI 1.0 and OpenDML 2.0, type-1 and type-2 DV) sample by sample.
#pragma once

#include "avi/avi_index.h"
#include "avi/fourcc.h"
#include "avi/read_only_file.h"
#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::avi {

// The fields of one 'strh' chunk.
struct StreamHeader {
    FourCC type = 0;                    // 'vids', 'auds', 'iavs', ...
    FourCC handler = 0;                 // 'dvsd', 'DVSD', ...
    std::uint32_t flags = 0;
    std::uint32_t initialFrames = 0;
    std::uint32_t scale = 0;            // dwScale: the rate is rate / scale samples a second
    std::uint32_t rate = 0;             // dwRate
    std::uint32_t start = 0;
    std::uint32_t length = 0;           // dwLength as written (OpenDML writers count the first RIFF only)
    std::uint32_t suggestedBufferSize = 0;
    std::uint32_t quality = 0;
    std::uint32_t sampleSize = 0;
};

struct StreamDescription {
    StreamHeader header;
    std::vector<std::byte> format;      // the 'strf' payload as stored
    bool hasOpenDmlIndex = false;
};

struct AviError {
    std::string message;
};

// A byte range inside one sample: `sizeBytes` bytes from `offsetInSample`.
struct SampleRange {
    std::size_t offsetInSample;
    std::size_t sizeBytes;
};

class AviReader {
public:
    // Opens and indexes the file. Prefers the OpenDML index, then idx1; without a usable one it
    // scans the 'movi' lists and says so in notes(), as it says why an index it found was not
    // used. An index must point at chunks of its stream (checked on a spread of samples) and
    // name no more chunk bytes than the file holds. Running out of memory is an error too.
    static Expected<AviReader, AviError> open(const std::string& path);

    const std::vector<StreamDescription>& streams() const noexcept { return m_streams; }
    // Index of the first stream of the given type, or -1.
    int findStream(FourCC type) const noexcept;

    std::size_t sampleCount(std::size_t stream) const noexcept;
    // Where sample i of the stream lies; the stream and the sample must exist.
    const SampleRef& sample(std::size_t stream, std::size_t index) const noexcept { return m_samples[stream][index]; }

    // Reads sample i into out: min(sample size, out.size()) bytes. Returns the count read.
    // const and thread-safe: several threads may read at once.
    Expected<std::size_t, AviError> readSample(std::size_t stream, std::size_t index, std::span<std::byte> out) const;

    // Reads only the given ranges of sample i into the same offsets of out. Ranges must be sorted
    // and must not overlap; parts past the sample's size or past out are left out. Returns the
    // sample's size clipped to out.size(). const and thread-safe.
    Expected<std::size_t, AviError> readSampleRanges(std::size_t stream, std::size_t index,
                                                     std::span<const SampleRange> ranges,
                                                     std::span<std::byte> out) const;

    // Where readSampleRanges would read: one piece per range that lies inside the sample and
    // out, aimed at the same offsets of out. Writes at most pieces.size() pieces and returns
    // how many; the sample must exist. Nothing is read.
    std::size_t sampleRangePieces(std::size_t stream, std::size_t index, std::span<const SampleRange> ranges,
                                  std::span<std::byte> out, std::span<ReadPiece> pieces) const noexcept;

    IndexSource indexSource() const noexcept { return m_indexSource; }
    // Remarks about damage that the reader worked around, e.g. that it had to scan for frames.
    const std::vector<std::string>& notes() const noexcept { return m_notes; }
    std::uint64_t fileSizeBytes() const noexcept { return m_file.sizeBytes(); }
    // The open file, for readers that batch their own reads (sampleRangePieces).
    const ReadOnlyFile& file() const noexcept { return m_file; }

private:
    friend Expected<AviReader, AviError> openRawDvStream(const std::string& path);  // raw DV: one stream, no RIFF
    AviReader() = default;
    static Expected<AviReader, AviError> openIndexed(const std::string& path);

    ReadOnlyFile m_file;
    std::vector<StreamDescription> m_streams;
    std::vector<StreamSamples> m_samples;
    IndexSource m_indexSource = IndexSource::Unknown;
    std::vector<std::string> m_notes;
};

}  // namespace vantrel::avi
