// SPDX-License-Identifier: GPL-3.0-or-later
// The batch reader over io_uring: the pieces of a batch go to the kernel in one submission.
#include "avi/batch_reader.h"

#include <liburing.h>

#include <algorithm>
#include <cerrno>

namespace vantrel::avi {

// Reads of file pages that sit in the page cache complete inside the submitting call; only
// the pieces that need the disk wait. A piece that comes back short or with any error is
// finished with pread, which also says where the file ends: io_uring never fails a read that
// pread would have done.
//
// The file is registered with the ring for the length of one read() call: each request then
// skips taking and dropping a reference to the open file, an atomic on a counter both workers
// share, about a tenth of a request's cost. It is unregistered before read() returns, so the
// ring never holds a file its owner has closed (nor reads another that reuses the number).
struct BatchReader::Ring {
    io_uring ring{};
    std::size_t depth = 0;
    bool hasFileSlot = false;  // a one-entry table of registered files
};

namespace {

constexpr unsigned kFileSlot = 0;

// Registers `fd` in the ring's slot; false when the kernel would not (the caller uses the descriptor).
bool registerFile(io_uring* ring, bool hasFileSlot, int fd) noexcept
{
    return hasFileSlot && io_uring_register_files_update(ring, kFileSlot, &fd, 1) == 1;
}

void unregisterFile(io_uring* ring) noexcept
{
    int none = -1;
    io_uring_register_files_update(ring, kFileSlot, &none, 1);
}

}  // namespace

BatchReader::BatchReader(ReadBackend wanted, std::size_t maxPiecesInFlight)
{
    if (wanted != ReadBackend::IoUring) return;
    auto ring = std::make_unique<Ring>();
    ring->depth = std::clamp<std::size_t>(maxPiecesInFlight, 1, 4096);
    if (io_uring_queue_init(static_cast<unsigned>(ring->depth), &ring->ring, 0) != 0) return;
    ring->hasFileSlot = io_uring_register_files_sparse(&ring->ring, 1) == 0;
    m_ring = std::move(ring);
}

BatchReader::~BatchReader()
{
    if (m_ring) io_uring_queue_exit(&m_ring->ring);
}

ReadBackend BatchReader::backend() const noexcept
{
    return m_ring ? ReadBackend::IoUring : ReadBackend::Pread;
}

void BatchReader::read(const ReadOnlyFile& file, std::span<const ReadPiece> pieces, std::span<bool> isPieceRead)
{
    std::fill(isPieceRead.begin(), isPieceRead.end(), false);
    std::size_t first = 0;
    const bool isRegistered =
        m_ring && !pieces.empty() && registerFile(&m_ring->ring, m_ring->hasFileSlot, file.descriptor());
    while (m_ring && first < pieces.size()) {
        const std::size_t count = std::min(m_ring->depth, pieces.size() - first);
        io_uring* ring = &m_ring->ring;
        std::size_t queued = 0;
        for (; queued < count; ++queued) {
            io_uring_sqe* sqe = io_uring_get_sqe(ring);
            if (!sqe) break;
            const auto& piece = pieces[first + queued];
            if (isRegistered) {
                io_uring_prep_read(sqe, static_cast<int>(kFileSlot), piece.destination,
                                   static_cast<unsigned>(piece.sizeBytes), piece.fileOffset);
                sqe->flags |= IOSQE_FIXED_FILE;
            } else {
                io_uring_prep_read(sqe, file.descriptor(), piece.destination, static_cast<unsigned>(piece.sizeBytes),
                                   piece.fileOffset);
            }
            io_uring_sqe_set_data64(sqe, first + queued);
        }
        int submitted = io_uring_submit_and_wait(ring, static_cast<unsigned>(queued));
        while (submitted == -EINTR) submitted = io_uring_submit_and_wait(ring, static_cast<unsigned>(queued));
        const std::size_t inFlight = submitted > 0 ? static_cast<std::size_t>(submitted) : 0;

        std::size_t reaped = 0;
        bool canReap = true;
        while (reaped < inFlight && canReap) {
            io_uring_cqe* cqe = nullptr;
            const int waited = io_uring_wait_cqe(ring, &cqe);
            if (waited == -EINTR) continue;
            if (waited < 0) {
                canReap = false;
                break;
            }
            unsigned head = 0;
            unsigned seen = 0;
            io_uring_for_each_cqe(ring, head, cqe)
            {
                const auto index = static_cast<std::size_t>(io_uring_cqe_get_data64(cqe));
                const auto& piece = pieces[index];
                const int result = cqe->res;
                if (result >= 0 && static_cast<std::size_t>(result) == piece.sizeBytes) {
                    isPieceRead[index] = true;
                } else {
                    // Short, interrupted, or refused by this file's file system: pread decides.
                    const std::size_t done = result > 0 ? static_cast<std::size_t>(result) : 0;
                    const ReadPiece rest{piece.fileOffset + done, piece.destination + done, piece.sizeBytes - done};
                    bool isRestRead = false;
                    file.readEachPiece({&rest, 1}, {&isRestRead, 1});
                    isPieceRead[index] = isRestRead;
                }
                ++seen;
            }
            io_uring_cq_advance(ring, seen);
            reaped += seen;
        }
        if (inFlight != queued || !canReap) {
            // The kernel refused part of the submission: leave nothing queued in a ring that
            // may still be writing, and read the rest the plain way from now on.
            io_uring_queue_exit(ring);
            m_ring.reset();
            break;
        }
        first += count;
    }
    if (m_ring && isRegistered) unregisterFile(&m_ring->ring);
    // Pieces left (after a refusal), or every piece without a ring.
    for (std::size_t i = first; i < pieces.size(); ++i) {
        if (!isPieceRead[i]) file.readEachPiece(pieces.subspan(i, 1), isPieceRead.subspan(i, 1));
    }
}

}  // namespace vantrel::avi
