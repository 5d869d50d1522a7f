// SPDX-License-Identifier: GPL-3.0-or-later
// A file opened for reading at explicit offsets (pread), so that several threads may read it at once.
#include "avi/read_only_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vantrel::avi {

namespace {

// "what: reason" with the system's reason for the last failed call. The caller names the file.
std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

std::string notRegularFile(mode_t mode)
{
    const char* kind = S_ISDIR(mode)    ? "a directory"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "not a file";
    return std::string("not a regular file (") + kind + ")";
}

}  // namespace

Expected<ReadOnlyFile, std::string> ReadOnlyFile::open(const std::string& path)
{
    // Opening a FIFO for reading blocks until a writer comes, and a device may act on being
    // opened: anything but a regular file is refused before it is opened. O_NONBLOCK keeps a
    // FIFO swapped in between from blocking; the descriptor is checked again below.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0) return unexpected(systemError("cannot open"));
    if (!S_ISREG(before.st_mode)) return unexpected(notRegularFile(before.st_mode));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return unexpected(systemError("cannot open"));
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        auto message = systemError("cannot examine the file");
        ::close(fd);
        return unexpected(std::move(message));
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return unexpected(notRegularFile(status.st_mode));
    }
    return ReadOnlyFile(fd, static_cast<std::uint64_t>(status.st_size));
}

std::uint64_t ReadOnlyFile::currentSizeBytes() const noexcept
{
    struct stat status {};
    if (m_fd < 0 || ::fstat(m_fd, &status) != 0) return m_sizeBytes;
    return static_cast<std::uint64_t>(status.st_size);
}

ReadOnlyFile::ReadOnlyFile(ReadOnlyFile&& other) noexcept : m_fd(other.m_fd), m_sizeBytes(other.m_sizeBytes)
{
    other.m_fd = -1;
    other.m_sizeBytes = 0;
}

ReadOnlyFile& ReadOnlyFile::operator=(ReadOnlyFile&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        m_sizeBytes = other.m_sizeBytes;
        other.m_fd = -1;
        other.m_sizeBytes = 0;
    }
    return *this;
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (m_fd >= 0) ::close(m_fd);
}

Expected<std::size_t, std::string> ReadOnlyFile::readAt(std::uint64_t offset, std::span<std::byte> out) const
{
    std::size_t done = 0;
    while (done < out.size()) {
        const auto position = offset + done;
        if (position > static_cast<std::uint64_t>(INT64_MAX)) break;
        const ssize_t got = ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(position));
        if (got < 0) {
            if (errno == EINTR) continue;
            return unexpected(systemError("read failed at byte " + std::to_string(position)));
        }
        if (got == 0) break;  // end of file
        done += static_cast<std::size_t>(got);
    }
    return done;
}

Expected<void, std::string> ReadOnlyFile::readExactlyAt(std::uint64_t offset, std::span<std::byte> out) const
{
    auto got = readAt(offset, out);
    if (!got) return unexpected(got.error());
    if (*got != out.size()) {
        // Where the file really ends: behind the bytes read, or, when none were, its size now.
        const std::uint64_t end = *got > 0 ? offset + *got : std::min(offset, currentSizeBytes());
        return unexpected("the file ends at byte " + std::to_string(end) + (*got > 0 ? ", inside " : ", before ") +
                          std::to_string(out.size()) + " bytes wanted at byte " + std::to_string(offset));
    }
    return {};
}

Expected<void, std::string> ReadOnlyFile::readPieces(std::span<const ReadPiece> pieces) const
{
    constexpr std::size_t kMaxRun = 64;  // well below IOV_MAX
    std::size_t first = 0;
    while (first < pieces.size()) {
        iovec vectors[kMaxRun];
        std::size_t count = 0;
        std::uint64_t runEnd = pieces[first].fileOffset;
        std::size_t runBytes = 0;
        while (first + count < pieces.size() && count < kMaxRun && pieces[first + count].fileOffset == runEnd) {
            const auto& piece = pieces[first + count];
            vectors[count] = iovec{piece.destination, piece.sizeBytes};
            runEnd += piece.sizeBytes;
            runBytes += piece.sizeBytes;
            ++count;
        }
        const auto runStart = pieces[first].fileOffset;
        if (count == 1) {
            auto read = readExactlyAt(runStart, {pieces[first].destination, pieces[first].sizeBytes});
            if (!read) return read;
        } else {
            ssize_t got;
            do {
                got = ::preadv(m_fd, vectors, static_cast<int>(count), static_cast<off_t>(runStart));
            } while (got < 0 && errno == EINTR);
            if (got < 0) return unexpected(systemError("read failed at byte " + std::to_string(runStart)));
            if (static_cast<std::size_t>(got) != runBytes) {
                // A short vector read: finish piece by piece, which reports where the file ends.
                for (std::size_t i = 0; i < count; ++i) {
                    const auto& piece = pieces[first + i];
                    auto read = readExactlyAt(piece.fileOffset, {piece.destination, piece.sizeBytes});
                    if (!read) return read;
                }
            }
        }
        first += count;
    }
    return {};
}

bool ReadOnlyFile::isInPageCache(std::uint64_t offset) const noexcept
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return true;
    std::byte byte{};
    iovec vector{&byte, 1};
    ssize_t got = 0;
    do {
        got = ::preadv2(m_fd, &vector, 1, static_cast<off_t>(offset), RWF_NOWAIT);
    } while (got < 0 && errno == EINTR);
    return got >= 0 || errno != EAGAIN;
}

void ReadOnlyFile::readAhead(std::uint64_t offset, std::uint64_t bytes) const noexcept
{
    constexpr auto kMaxOffset = static_cast<std::uint64_t>(INT64_MAX);
    if (offset > kMaxOffset || bytes > kMaxOffset - offset) return;
    // The kernel reads at most its readahead size for one piece of advice (128 KB on many disks)
    // and drops the rest without a word: the span goes in steps of that size.
    constexpr std::uint64_t kStepBytes = 128 * 1024;
    for (std::uint64_t done = 0; done < bytes; done += kStepBytes) {
        ::posix_fadvise(m_fd, static_cast<off_t>(offset + done), static_cast<off_t>(std::min(kStepBytes, bytes - done)),
                        POSIX_FADV_WILLNEED);
    }
}

void ReadOnlyFile::readEachPiece(std::span<const ReadPiece> pieces, std::span<bool> isPieceRead) const
{
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const auto got = readAt(pieces[i].fileOffset, {pieces[i].destination, pieces[i].sizeBytes});
        isPieceRead[i] = got && *got == pieces[i].sizeBytes;
    }
}

}  // namespace vantrel::avi
