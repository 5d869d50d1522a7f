// SPDX-License-Identifier: GPL-3.0-or-later
// Four-character codes as RIFF stores them: four bytes read as one little-endian 32-bit value.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::avi {

using FourCC = std::uint32_t;

constexpr FourCC makeFourCC(const char (&text)[5]) noexcept
{
    return static_cast<FourCC>(static_cast<std::uint8_t>(text[0])) |
           static_cast<FourCC>(static_cast<std::uint8_t>(text[1])) << 8 |
           static_cast<FourCC>(static_cast<std::uint8_t>(text[2])) << 16 |
           static_cast<FourCC>(static_cast<std::uint8_t>(text[3])) << 24;
}

inline constexpr FourCC kRiff = makeFourCC("RIFF");
inline constexpr FourCC kList = makeFourCC("LIST");
inline constexpr FourCC kAvi = makeFourCC("AVI ");
inline constexpr FourCC kAviExtension = makeFourCC("AVIX");   // OpenDML: every RIFF after the first
inline constexpr FourCC kHeaderList = makeFourCC("hdrl");
inline constexpr FourCC kMainHeader = makeFourCC("avih");
inline constexpr FourCC kStreamList = makeFourCC("strl");
inline constexpr FourCC kStreamHeader = makeFourCC("strh");
inline constexpr FourCC kStreamFormat = makeFourCC("strf");
inline constexpr FourCC kSuperIndex = makeFourCC("indx");     // OpenDML: where the ix## chunks are
inline constexpr FourCC kMovieList = makeFourCC("movi");
inline constexpr FourCC kRecordList = makeFourCC("rec ");
inline constexpr FourCC kLegacyIndex = makeFourCC("idx1");
inline constexpr FourCC kVideoStream = makeFourCC("vids");
inline constexpr FourCC kAudioStream = makeFourCC("auds");
inline constexpr FourCC kInterleavedStream = makeFourCC("iavs"); // type-1 DV: one stream holds video and audio

// "vids" for makeFourCC("vids"); bytes outside printable ASCII are shown as '?'.
std::string fourCCText(FourCC code);

// Whether the four bytes could be a chunk ID: printable ASCII, as every writer uses.
constexpr bool isPlausibleChunkId(FourCC code) noexcept
{
    for (int shift = 0; shift < 32; shift += 8) {
        const auto c = static_cast<std::uint8_t>(code >> shift);
        if (c < 0x20 || c > 0x7E) return false;
    }
    return true;
}

// The stream number of a data chunk ("01wb" is stream 1), or -1 for any other chunk ID.
constexpr int streamNumberOf(FourCC chunkId) noexcept
{
    const auto tens = static_cast<std::uint8_t>(chunkId);
    const auto units = static_cast<std::uint8_t>(chunkId >> 8);
    if (tens < '0' || tens > '9' || units < '0' || units > '9') return -1;
    return (tens - '0') * 10 + (units - '0');
}

}  // namespace vantrel::avi
