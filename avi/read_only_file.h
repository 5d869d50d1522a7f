// SPDX-License-Identifier: GPL-3.0-or-later
// A file opened for reading at explicit offsets (pread), so that several threads may read it at once.
#pragma once

#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vantrel::avi {

// One piece of a scattered read: `sizeBytes` bytes of the file at `fileOffset` go to `destination`.
struct ReadPiece {
    std::uint64_t fileOffset;
    std::byte* destination;
    std::size_t sizeBytes;
};

class ReadOnlyFile {
public:
    // Opens a regular file; anything else (a directory, a FIFO, a device) is refused before it
    // is opened. Error texts do not repeat the path: the caller puts it in front.
    static Expected<ReadOnlyFile, std::string> open(const std::string& path);

    ReadOnlyFile() = default;
    ReadOnlyFile(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    ~ReadOnlyFile();

    bool isOpen() const noexcept { return m_fd >= 0; }
    // The open descriptor, for submitting reads to the kernel in batches; the file keeps owning it.
    int descriptor() const noexcept { return m_fd; }
    // The size when the file was opened; every offset read from the file is checked against it.
    std::uint64_t sizeBytes() const noexcept { return m_sizeBytes; }
    // The size now (a file may shrink while it is open), for telling where it ends.
    std::uint64_t currentSizeBytes() const noexcept;

    // Reads up to out.size() bytes at offset; returns how many it read (fewer only at the end of
    // the file) or an error text. Thread-safe: it moves no shared file position.
    Expected<std::size_t, std::string> readAt(std::uint64_t offset, std::span<std::byte> out) const;

    // Reads exactly out.size() bytes at offset, or fails.
    Expected<void, std::string> readExactlyAt(std::uint64_t offset, std::span<std::byte> out) const;

    // Reads every piece in full, merging pieces that touch in the file into one system call.
    Expected<void, std::string> readPieces(std::span<const ReadPiece> pieces) const;

    // Whether the byte at offset can be read without waiting for the disk: false only when the
    // kernel says so (a file system that cannot tell counts as cached).
    bool isInPageCache(std::uint64_t offset) const noexcept;

    // Has the kernel start reading [offset, offset + bytes) into the page cache, whole, and
    // returns at once: for reads that will come in pieces too scattered for its own readahead.
    void readAhead(std::uint64_t offset, std::uint64_t bytes) const noexcept;

    // Reads each piece on its own, one call each, and goes on past a piece that fails:
    // isPieceRead[i] tells whether piece i was read whole. isPieceRead must be as long as pieces.
    void readEachPiece(std::span<const ReadPiece> pieces, std::span<bool> isPieceRead) const;

private:
    explicit ReadOnlyFile(int fd, std::uint64_t sizeBytes) noexcept : m_fd(fd), m_sizeBytes(sizeBytes) {}

    int m_fd = -1;
    std::uint64_t m_sizeBytes = 0;
};

}  // namespace vantrel::avi
