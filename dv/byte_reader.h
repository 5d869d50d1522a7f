// SPDX-License-Identifier: GPL-3.0-or-later
// A bounds-checked cursor over bytes: every read says whether the bytes were there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantrel {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::byte> bytes) noexcept : m_bytes(bytes) {}

    std::size_t offset() const noexcept { return m_offset; }
    std::size_t remaining() const noexcept { return m_bytes.size() - m_offset; }
    bool atEnd() const noexcept { return m_offset >= m_bytes.size(); }

    std::optional<std::uint8_t> u8() noexcept
    {
        if (remaining() < 1) return std::nullopt;
        return static_cast<std::uint8_t>(m_bytes[m_offset++]);
    }

    std::optional<std::uint16_t> u16le() noexcept
    {
        if (remaining() < 2) return std::nullopt;
        const auto value = static_cast<std::uint16_t>(byteAt(0) | (byteAt(1) << 8));
        m_offset += 2;
        return value;
    }

    std::optional<std::uint32_t> u32le() noexcept
    {
        if (remaining() < 4) return std::nullopt;
        const auto value = static_cast<std::uint32_t>(byteAt(0) | (byteAt(1) << 8) | (byteAt(2) << 16)) |
                           (static_cast<std::uint32_t>(byteAt(3)) << 24);
        m_offset += 4;
        return value;
    }

    std::optional<std::uint64_t> u64le() noexcept
    {
        if (remaining() < 8) return std::nullopt;
        const auto low = *u32le();
        const auto high = *u32le();
        return static_cast<std::uint64_t>(high) << 32 | low;
    }

    // The next count bytes, or nothing when fewer remain.
    std::optional<std::span<const std::byte>> bytes(std::size_t count) noexcept
    {
        if (remaining() < count) return std::nullopt;
        auto view = m_bytes.subspan(m_offset, count);
        m_offset += count;
        return view;
    }

    bool skip(std::size_t count) noexcept
    {
        if (remaining() < count) return false;
        m_offset += count;
        return true;
    }

    bool seek(std::size_t offset) noexcept
    {
        if (offset > m_bytes.size()) return false;
        m_offset = offset;
        return true;
    }

private:
    std::uint32_t byteAt(std::size_t i) const noexcept
    {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(m_bytes[m_offset + i]));
    }

    std::span<const std::byte> m_bytes;
    std::size_t m_offset = 0;
};

}  // namespace vantrel
