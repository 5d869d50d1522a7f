// SPDX-License-Identifier: GPL-3.0-or-later
// Copies small pieces of a file out of the page cache through a short-lived mapping, where the kernel maps it in huge pages.
#pragma once

#include "avi/read_only_file.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel::avi {

// Design note. A 400-byte read costs the kernel far more in looking up the page and handling
// the request than in copying; a batch of them costs about what reading the whole file costs.
// When a file was read from the disk its pages sit in the page cache in folios of up to 2 MB,
// and a mapping aligned to 2 MB maps each such folio with one fault: the pieces are then
// copied with no request at all, three to four times as fast as reading them. The window
// stays mapped for the batches that follow: unmapping makes the kernel interrupt every other
// core that runs a thread of the process (the other workers), which would cost more than the
// copies. Mapped in 4 KB pages (a file just written, a file system without large folios) it
// costs more than reading, so the reader counts its page faults and leaves the pieces to the
// caller's reads for a while when the mapping was not cheap.
// A file cut short while it is mapped raises SIGBUS on the pages past its new end: the copy
// runs under a handler that turns that into a failed read; every other SIGBUS goes where it
// would have gone without it.
class MappedReader {
public:
    static constexpr std::size_t kHugePageBytes = 2 * 1024 * 1024;
    static constexpr std::size_t kWindowBytes = 16 * kHugePageBytes;  // about 14 batches of PAL frames
    static constexpr std::size_t kReadsLeftAfterDearMapping = 8;      // to the caller, after a first dear mapping

    MappedReader() noexcept;  // reserves the window's address space; copies nothing when it cannot
    ~MappedReader();
    MappedReader(const MappedReader&) = delete;
    MappedReader& operator=(const MappedReader&) = delete;

    // Whether to try copy() for the next read: false while the reads after a dear mapping last
    // (each call counts one down), or when there is no window (it could not be reserved, or a
    // file could not be mapped: until startOver).
    bool isWorthTrying() noexcept;

    // Copies every piece, all within the file as it is now and together within one window
    // (mapped anew when they lie outside the one mapped); true when all of them were copied.
    // False means nothing can be taken from the destinations: the pieces lie too far apart, a
    // piece lies past the end or the file was cut while it was copied, or the mapping failed.
    // The caller then reads the pieces its own way, which also tells where the file ends.
    bool copy(const ReadOnlyFile& file, std::span<const ReadPiece> pieces) noexcept;

    // Unmaps the window: call it when the batches of a file are done, or the file stays mapped
    // (and, say, the disk it lies on busy) until the next copy or the reader's end.
    void release() noexcept;

    // Releases the window and forgets how dear mappings have lately been: for another file.
    void startOver() noexcept;

private:
    // The file a window maps: descriptor and identity (a closed descriptor's number is reused).
    struct MappedFile {
        int descriptor = -1;
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        bool operator==(const MappedFile&) const = default;
    };

    void reserve() noexcept;
    void giveBackReservation() noexcept;
    bool map(const MappedFile& file, std::uint64_t offset, std::size_t bytes) noexcept;

    void* m_reservation = nullptr;   // kWindowBytes + kHugePageBytes of address space, PROT_NONE
    std::byte* m_window = nullptr;   // its first 2 MB boundary
    MappedFile m_mappedFile;         // of the window mapped now; m_mappedBytes 0: none
    std::uint64_t m_mappedOffset = 0;
    std::size_t m_mappedBytes = 0;
    std::size_t m_readsToLeave = 0;
    std::size_t m_dearInARow = 0;
};

// Copies each piece from `mapping`, a mapping of the file from mappingOffset on that holds
// them all; false when a page of it faulted with SIGBUS (the file was cut short) on the way.
bool copyFromMapping(std::span<const std::byte> mapping, std::uint64_t mappingOffset,
                     std::span<const ReadPiece> pieces) noexcept;

}  // namespace vantrel::avi
