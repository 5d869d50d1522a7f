// SPDX-License-Identifier: GPL-3.0-or-later
// Writes RIFF chunks and lists into memory or a file: reserve the size field, write, fill it in, pad to even.
#pragma once

#include "avi/fourcc.h"
#include "dv/expected.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace vantrel::avi {

enum class AviWriteErrorCode {
    Unknown,
    CannotCreate,      // the file could not be opened for writing
    WriteFailed,       // a write, a seek-and-write or the final close failed (disk full, I/O error, size limit)
    FileRemoved,       // the file was deleted while being written
    InvalidFrame,      // a frame that is not one whole DIF frame of the file's video system
    TooLong,           // more RIFFs than the super index has room for
    InvalidOptions,    // options the writer cannot honour
    NotWritable,       // the writer was finished, or stopped by an earlier error
};

struct AviWriteError {
    AviWriteErrorCode code = AviWriteErrorCode::Unknown;
    std::string message;   // for the user: names the file and the cause
};

using WriteResult = Expected<void, AviWriteError>;

// Bytes in memory, built little-endian; never fails. Reserve once and reuse to avoid allocating.
class ByteBuffer {
public:
    void reserve(std::size_t bytes) { m_bytes.reserve(bytes); }
    void clear() noexcept { m_bytes.clear(); }
    std::uint64_t position() const noexcept { return m_bytes.size(); }
    std::span<const std::byte> bytes() const noexcept { return m_bytes; }

    void u8(std::uint8_t value) { m_bytes.push_back(std::byte{value}); }
    void u16(std::uint16_t value);
    void u32(std::uint32_t value);
    void u64(std::uint64_t value);
    void zeros(std::size_t count) { m_bytes.insert(m_bytes.end(), count, std::byte{0}); }

    WriteResult append(std::initializer_list<std::span<const std::byte>> pieces);
    WriteResult patch(std::uint64_t offset, std::span<const std::byte> bytes);

private:
    std::vector<std::byte> m_bytes;
};

// An open file written at its end (append) and patched in place (pwrite). Every failure,
// including a short write, comes back as an error that names the file.
class FileSink {
public:
    static Expected<FileSink, AviWriteError> create(const std::string& path);

    FileSink() = default;
    FileSink(FileSink&& other) noexcept;
    FileSink& operator=(FileSink&& other) noexcept;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    ~FileSink();

    std::uint64_t position() const noexcept { return m_position; }
    const std::string& path() const noexcept { return m_path; }

    WriteResult append(std::initializer_list<std::span<const std::byte>> pieces);
    WriteResult patch(std::uint64_t offset, std::span<const std::byte> bytes);
    // Flushes to the disk, checks that the file still has a name, and closes it.
    WriteResult close();

private:
    FileSink(int fd, std::string path) noexcept : m_fd(fd), m_path(std::move(path)) {}
    AviWriteError failure(AviWriteErrorCode code, const char* action, int error) const;

    int m_fd = -1;
    std::uint64_t m_position = 0;
    std::string m_path;
};

// Where an open chunk's size field is, to fill in when the chunk closes.
struct OpenChunk {
    std::uint64_t sizeOffset = 0;
};

// The one place that sizes and pads RIFF chunks, for either sink.
template <class Sink>
class RiffWriter {
public:
    explicit RiffWriter(Sink& sink) noexcept : m_sink(sink) {}

    // "RIFF" or "LIST" with its type. Until close(), the size field says `provisionalSize`:
    // what a reader sees if the writer never gets to close it.
    Expected<OpenChunk, AviWriteError> openList(FourCC listId, FourCC type, std::uint32_t provisionalSize = 4)
    {
        const OpenChunk open{m_sink.position() + 4};
        const auto header = fourCCBytes(listId, provisionalSize, type);
        if (auto written = m_sink.append({std::span<const std::byte>(header.data(), 12)}); !written) {
            return unexpected(written.error());
        }
        return open;
    }

    Expected<OpenChunk, AviWriteError> openChunk(FourCC id)
    {
        const OpenChunk open{m_sink.position() + 4};
        const auto header = fourCCBytes(id, 0, 0);
        if (auto written = m_sink.append({std::span<const std::byte>(header.data(), 8)}); !written) {
            return unexpected(written.error());
        }
        return open;
    }

    // Fills in the size of everything written since the size field, then pads it to even.
    WriteResult close(OpenChunk open)
    {
        const std::uint64_t sizeBytes = m_sink.position() - (open.sizeOffset + 4);
        const auto size = littleEndian32(static_cast<std::uint32_t>(sizeBytes));
        if (auto patched = m_sink.patch(open.sizeOffset, size); !patched) return patched;
        return padToEven(sizeBytes);
    }

    // A chunk whose payload is known whole: header, payload and pad in one write.
    WriteResult chunk(FourCC id, std::span<const std::byte> payload)
    {
        const auto header = fourCCBytes(id, static_cast<std::uint32_t>(payload.size()), 0);
        const std::span<const std::byte> headerBytes(header.data(), 8);
        if (payload.size() % 2 == 0) return m_sink.append({headerBytes, payload});
        return m_sink.append({headerBytes, payload, std::span<const std::byte>(kPad)});
    }

private:
    static std::array<std::byte, 4> littleEndian32(std::uint32_t value) noexcept
    {
        return {std::byte(value & 0xFF), std::byte((value >> 8) & 0xFF), std::byte((value >> 16) & 0xFF),
                std::byte(value >> 24)};
    }

    static std::array<std::byte, 12> fourCCBytes(FourCC id, std::uint32_t size, FourCC type) noexcept
    {
        std::array<std::byte, 12> bytes{};
        const auto put = [&](std::size_t at, std::uint32_t value) {
            const auto le = littleEndian32(value);
            for (std::size_t i = 0; i < 4; ++i) bytes[at + i] = le[i];
        };
        put(0, id);
        put(4, size);
        put(8, type);
        return bytes;
    }

    WriteResult padToEven(std::uint64_t sizeBytes)
    {
        if (sizeBytes % 2 == 0) return {};
        return m_sink.append({std::span<const std::byte>(kPad)});
    }

    static constexpr std::byte kPad[1] = {std::byte{0}};

    Sink& m_sink;
};

}  // namespace vantrel::avi
