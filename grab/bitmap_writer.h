// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a 24-bit picture into the bytes of a Windows bitmap file (BMP), and names the file.
#pragma once

#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::grab {

constexpr std::size_t kBitmapFileHeaderBytes = 14;  // "BM", file size, two reserved words, pixel offset
constexpr std::size_t kBitmapInfoHeaderBytes = 40;  // the BITMAPINFOHEADER: size, width, height, planes, bits, ...
constexpr std::size_t kBitmapHeaderBytes = kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes;  // pixels start here

// Bytes of one 24-bit row of a bitmap file: 3 a pixel, padded to a multiple of 4.
constexpr std::size_t bitmapRowBytes(int widthPixels) noexcept
{
    return (static_cast<std::size_t>(widthPixels) * 3 + 3) & ~std::size_t{3};
}

// A 24-bit picture in memory: blue, green, red a pixel, rows top-down, rowBytes apart.
struct PictureView {
    int widthPixels = 0;
    int heightPixels = 0;
    std::size_t rowBytes = 0;
    std::span<const std::byte> bgr;
};

// The bitmap file of the picture: the 54-byte header (width and height of the picture, the
// height positive so the rows run bottom-up, 1 plane, 24 bits, no compression, every other
// field 0) and the rows from the bottom one up, each padded to bitmapRowBytes. Fails on a
// picture without pixels or whose bytes are fewer than its size needs.
Expected<std::vector<std::byte>, std::string> bitmapFileBytes(const PictureView& picture);

// The file a chosen name is written to: the name with ".bmp" appended, unless it already ends in
// ".bmp" (in any case). Empty when nothing was chosen.
std::string bitmapFileName(std::string_view chosenName);

}  // namespace vantrel::grab
