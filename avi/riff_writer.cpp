// SPDX-License-Identifier: GPL-3.0-or-later
// Writes RIFF chunks and lists into memory or a file: reserve the size field, write, fill it in, pad to even.
#include "avi/riff_writer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vantrel::avi {

void ByteBuffer::u16(std::uint16_t value)
{
    u8(static_cast<std::uint8_t>(value));
    u8(static_cast<std::uint8_t>(value >> 8));
}

void ByteBuffer::u32(std::uint32_t value)
{
    u16(static_cast<std::uint16_t>(value));
    u16(static_cast<std::uint16_t>(value >> 16));
}

void ByteBuffer::u64(std::uint64_t value)
{
    u32(static_cast<std::uint32_t>(value));
    u32(static_cast<std::uint32_t>(value >> 32));
}

WriteResult ByteBuffer::append(std::initializer_list<std::span<const std::byte>> pieces)
{
    for (const auto& piece : pieces) m_bytes.insert(m_bytes.end(), piece.begin(), piece.end());
    return {};
}

WriteResult ByteBuffer::patch(std::uint64_t offset, std::span<const std::byte> bytes)
{
    if (offset > m_bytes.size() || bytes.size() > m_bytes.size() - offset) {
        return unexpected(AviWriteError{AviWriteErrorCode::WriteFailed, "patch outside the buffer"});
    }
    std::copy(bytes.begin(), bytes.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
}

Expected<FileSink, AviWriteError> FileSink::create(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return unexpected(AviWriteError{AviWriteErrorCode::CannotCreate,
                                        "cannot create " + path + ": " + std::strerror(errno)});
    }
    return FileSink(fd, path);
}

FileSink::FileSink(FileSink&& other) noexcept
    : m_fd(other.m_fd), m_position(other.m_position), m_path(std::move(other.m_path))
{
    other.m_fd = -1;
}

FileSink& FileSink::operator=(FileSink&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        m_position = other.m_position;
        m_path = std::move(other.m_path);
        other.m_fd = -1;
    }
    return *this;
}

FileSink::~FileSink()
{
    if (m_fd >= 0) ::close(m_fd);   // an unfinished file stays as a crash would leave it
}

AviWriteError FileSink::failure(AviWriteErrorCode code, const char* action, int error) const
{
    return AviWriteError{code, std::string("cannot ") + action + " " + m_path + ": " + std::strerror(error)};
}

WriteResult FileSink::append(std::initializer_list<std::span<const std::byte>> pieces)
{
    if (m_fd < 0) return unexpected(AviWriteError{AviWriteErrorCode::NotWritable, m_path + " is closed"});
    constexpr std::size_t kMaxPieces = 4;
    iovec vectors[kMaxPieces];
    int count = 0;
    for (const auto& piece : pieces) {
        if (piece.empty()) continue;
        if (count == static_cast<int>(kMaxPieces)) {
            return unexpected(AviWriteError{AviWriteErrorCode::WriteFailed, "too many pieces in one write"});
        }
        vectors[count++] = iovec{const_cast<std::byte*>(piece.data()), piece.size()};
    }
    iovec* next = vectors;
    while (count > 0) {
        const ssize_t written = ::writev(m_fd, next, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return unexpected(failure(AviWriteErrorCode::WriteFailed, "write", errno));
        }
        if (written == 0) return unexpected(failure(AviWriteErrorCode::WriteFailed, "write", ENOSPC));
        m_position += static_cast<std::uint64_t>(written);
        // A short write: step past what went out and write the rest.
        auto left = static_cast<std::size_t>(written);
        while (count > 0 && left >= next->iov_len) {
            left -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<std::byte*>(next->iov_base) + left;
            next->iov_len -= left;
        }
    }
    return {};
}

WriteResult FileSink::patch(std::uint64_t offset, std::span<const std::byte> bytes)
{
    if (m_fd < 0) return unexpected(AviWriteError{AviWriteErrorCode::NotWritable, m_path + " is closed"});
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done,
                                         static_cast<off_t>(offset + done));
        if (written < 0) {
            if (errno == EINTR) continue;
            return unexpected(failure(AviWriteErrorCode::WriteFailed, "update", errno));
        }
        if (written == 0) return unexpected(failure(AviWriteErrorCode::WriteFailed, "update", ENOSPC));
        done += static_cast<std::size_t>(written);
    }
    return {};
}

WriteResult FileSink::close()
{
    if (m_fd < 0) return unexpected(AviWriteError{AviWriteErrorCode::NotWritable, m_path + " is closed"});
    const int fd = m_fd;
    m_fd = -1;
    struct stat status {};
    const bool isRegular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (isRegular && status.st_nlink == 0) {
        ::close(fd);
        return unexpected(AviWriteError{AviWriteErrorCode::FileRemoved, m_path + " was removed while it was written"});
    }
    if (isRegular && ::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        return unexpected(failure(AviWriteErrorCode::WriteFailed, "flush", error));
    }
    if (::close(fd) != 0) return unexpected(failure(AviWriteErrorCode::WriteFailed, "close", errno));
    return {};
}

}  // namespace vantrel::avi
