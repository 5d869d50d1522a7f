// SPDX-License-Identifier: GPL-3.0-or-later
// Reads many small pieces of a file at once: one io_uring submission for a whole batch, or one pread per piece.
#pragma once

#include "avi/read_only_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace vantrel::avi {

// Where a system call costs more than copying a few kilobytes (virtual machines, page-table
// isolation), twelve 400-byte reads per frame cost more than one read of the whole frame.
// Handing the kernel the pieces of many frames in one submission removes that cost.
enum class ReadBackend {
    Unknown,
    IoUring,  // one submission per batch; chosen when the build has liburing and the kernel allows it
    Pread,    // one pread per piece: every kernel, every sandbox
    Mapped,   // copies out of a mapping of the page cache where that is cheap (MappedReader), io_uring or pread otherwise
};

// One reader per thread: not thread-safe. The file may be shared with other readers.
class BatchReader {
public:
    // Asks for `wanted`; falls back to Pread when io_uring is not built in or the kernel refuses
    // it (old kernel, seccomp, io_uring_disabled). `maxPiecesInFlight` bounds one submission.
    explicit BatchReader(ReadBackend wanted = ReadBackend::IoUring, std::size_t maxPiecesInFlight = 256);
    ~BatchReader();
    BatchReader(const BatchReader&) = delete;
    BatchReader& operator=(const BatchReader&) = delete;

    ReadBackend backend() const noexcept;

    // Reads every piece; isPieceRead[i] tells whether piece i was read whole (a piece past the
    // end of the file or one that met an I/O error is not). Pieces may come in any order; each
    // one's destination must not overlap another's. isPieceRead must be as long as pieces.
    void read(const ReadOnlyFile& file, std::span<const ReadPiece> pieces, std::span<bool> isPieceRead);

private:
    struct Ring;
    std::unique_ptr<Ring> m_ring;  // empty with the Pread backend
};

}  // namespace vantrel::avi
