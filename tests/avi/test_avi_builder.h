// SPDX-License-Identifier: GPL-3.0-or-later
// Builds DV AVI files byte by byte for the reader's tests, including the damage real files show.
#pragma once

#include "avi/avi_reader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel::testsupport {

enum class TestStream { Vids, Auds, Iavs };

enum class TestIndex {
    Idx1RelativeToMovi,   // the usual AVI 1.0 index
    Idx1FileOffsets,      // offsets from the start of the file, as some writers store them
    OpenDml,              // 'indx' super index per stream, one ix## per movie list, idx1 for the first form
    None,
};

struct TestAviOptions {
    std::vector<TestStream> streams{TestStream::Vids, TestStream::Auds};
    std::uint32_t rate = 25;
    std::uint32_t scale = 1;
    std::uint32_t suggestedBufferSize = 144000;
    std::uint32_t audioChunkBytes = 7680;           // 1920 stereo 16-bit samples at 48 kHz
    TestIndex index = TestIndex::Idx1RelativeToMovi;
    bool zeroRiffSizes = false;                     // an interrupted capture never filled them in
};

// Writes into memory, or into a file where a hole (skipped bytes) costs no disk space.
class TestAviBuilder {
public:
    explicit TestAviBuilder(TestAviOptions options);
    ~TestAviBuilder();
    TestAviBuilder(const TestAviBuilder&) = delete;
    TestAviBuilder& operator=(const TestAviBuilder&) = delete;

    // Writes into `path` instead of memory (needed for sparse files beyond 4 GB).
    void writeToFile(const std::string& path);

    // One DV frame into every DV stream, and an audio chunk into every audio stream.
    TestAviBuilder& addFrame(std::span<const std::byte> frame);
    // A JUNK chunk inside the current movie list; a hole when writing to a file. `padded` false
    // leaves out the pad byte behind an odd size, as broken writers do.
    TestAviBuilder& addJunk(std::uint64_t payloadBytes, bool padded = true);
    // Ends the current RIFF form and opens an OpenDML 'AVIX' form with a new movie list.
    TestAviBuilder& startExtensionForm();

    // Closes everything, writes the indexes; returns the bytes (empty when writing to a file).
    std::vector<std::byte> finish();

    // Offsets of the chunk headers of the DV frames, for tests that damage them.
    const std::vector<std::uint64_t>& frameChunkOffsets() const noexcept { return m_frameChunkOffsets; }

private:
    struct IndexEntry {
        std::uint32_t chunkId;
        std::uint64_t chunkOffset;   // of the chunk header
        std::uint32_t sizeBytes;
    };
    struct Form {
        std::uint64_t riffOffset;
        std::uint64_t moviOffset;    // of the LIST header
        std::vector<std::vector<IndexEntry>> entriesPerStream;
    };

    std::uint64_t position() const noexcept { return m_size; }
    void append(std::span<const std::byte> bytes);
    void appendHole(std::uint64_t count);
    void patchU32(std::uint64_t offset, std::uint32_t value);
    void patchBytes(std::uint64_t offset, std::span<const std::byte> bytes);
    void appendChunk(std::uint32_t id, std::span<const std::byte> payload, Form* form, int stream);
    void writeHeaderList();
    void closeForm();
    std::uint32_t dataChunkId(std::size_t stream) const;

    TestAviOptions m_options;
    std::vector<std::byte> m_memory;
    int m_fd = -1;
    std::uint64_t m_size = 0;
    std::vector<Form> m_forms;
    std::vector<std::uint64_t> m_superIndexOffsets;  // payload offsets of each stream's 'indx'
    std::uint64_t m_lengthOffset = 0;                // of the first stream's dwLength
    std::size_t m_framesWritten = 0;
    std::vector<std::uint64_t> m_frameChunkOffsets;
};

// Writes bytes to a file in the running test's own folder and returns its path.
std::string writeTestFile(const std::string& name, std::span<const std::byte> bytes);

using Frames = std::vector<std::vector<std::byte>>;
// PAL frames that differ: frame i carries the time code 00:00:ss ff = i.
Frames palFrames(int count);
// A file of `frames` in memory, one RIFF form.
std::vector<std::byte> buildAvi(const TestAviOptions& options, const Frames& frames);
// Opens `path` and checks that it finds its samples through `source` and that stream 0 holds
// exactly the first `count` of `frames`, byte for byte.
void expectFrames(const std::string& path, const Frames& frames, std::size_t count, avi::IndexSource source);

// Editing built files: a little-endian value, and the offset of the first `fourCC` from `from`.
void putU32(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value);
std::size_t findFourCC(const std::vector<std::byte>& bytes, const char* fourCC, std::size_t from = 0);

}  // namespace vantrel::testsupport
