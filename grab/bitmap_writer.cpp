// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a 24-bit picture into the bytes of a Windows bitmap file (BMP), and names the file.
#include "grab/bitmap_writer.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace vantrel::grab {

namespace {

constexpr std::uint16_t kBitmapFileType = 0x4D42;  // "BM" read as a little-endian word
constexpr std::uint16_t kPlanes = 1;
constexpr std::uint16_t kBitsPerPixel = 24;
constexpr std::uint32_t kUncompressed = 0;       // BI_RGB

class LittleEndianWriter {
public:
    explicit LittleEndianWriter(std::span<std::byte> out) noexcept : m_out(out) {}
    void u16(std::uint16_t value) noexcept { put(value, 2); }
    void u32(std::uint32_t value) noexcept { put(value, 4); }
    void i32(std::int32_t value) noexcept { put(static_cast<std::uint32_t>(value), 4); }
    std::size_t written() const noexcept { return m_at; }

private:
    void put(std::uint32_t value, std::size_t bytes) noexcept
    {
        for (std::size_t i = 0; i < bytes; ++i) m_out[m_at++] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
    }

    std::span<std::byte> m_out;
    std::size_t m_at = 0;
};

void writeHeaders(std::span<std::byte> out, const PictureView& picture, std::uint32_t pixelBytes)
{
    LittleEndianWriter w(out);
    w.u16(kBitmapFileType);
    w.u32(pixelBytes + static_cast<std::uint32_t>(kBitmapHeaderBytes));  // file size
    w.u16(0);                                                            // reserved
    w.u16(0);                                                            // reserved
    w.u32(static_cast<std::uint32_t>(kBitmapHeaderBytes));               // offset of the pixels
    w.u32(static_cast<std::uint32_t>(kBitmapInfoHeaderBytes));
    w.i32(picture.widthPixels);
    w.i32(picture.heightPixels);  // positive: the rows run bottom-up
    w.u16(kPlanes);
    w.u16(kBitsPerPixel);
    w.u32(kUncompressed);
    w.u32(0);  // image size: may be 0 for uncompressed pixels
    w.i32(0);  // horizontal resolution
    w.i32(0);  // vertical resolution
    w.u32(0);  // colours used
    w.u32(0);  // important colours
}

}  // namespace

Expected<std::vector<std::byte>, std::string> bitmapFileBytes(const PictureView& picture)
{
    if (picture.widthPixels <= 0 || picture.heightPixels <= 0) return unexpected(std::string("the picture is empty"));
    const auto width = static_cast<std::size_t>(picture.widthPixels);
    const auto height = static_cast<std::size_t>(picture.heightPixels);
    const std::size_t usedRowBytes = 3 * width;
    if (picture.rowBytes < usedRowBytes || picture.bgr.size() < picture.rowBytes * (height - 1) + usedRowBytes) {
        return unexpected(std::string("the picture holds fewer bytes than its size needs"));
    }
    const std::size_t fileRowBytes = bitmapRowBytes(picture.widthPixels);
    const std::size_t pixelBytes = fileRowBytes * height;
    if (pixelBytes > std::numeric_limits<std::uint32_t>::max() - kBitmapHeaderBytes) {
        return unexpected(std::string("the picture is too large for a bitmap file"));
    }
    std::vector<std::byte> file(kBitmapHeaderBytes + pixelBytes);  // padding bytes stay 0
    writeHeaders(file, picture, static_cast<std::uint32_t>(pixelBytes));
    for (std::size_t row = 0; row < height; ++row) {
        const auto source = picture.bgr.subspan((height - 1 - row) * picture.rowBytes, usedRowBytes);
        std::copy(source.begin(), source.end(), file.begin() + static_cast<std::ptrdiff_t>(kBitmapHeaderBytes + row * fileRowBytes));
    }
    return file;
}

std::string bitmapFileName(std::string_view chosenName)
{
    if (chosenName.empty()) return {};
    constexpr std::string_view kExtension = ".bmp";
    const bool hasExtension =
        chosenName.size() > kExtension.size() &&
        std::equal(kExtension.begin(), kExtension.end(), chosenName.end() - static_cast<std::ptrdiff_t>(kExtension.size()),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    std::string name(chosenName);
    if (!hasExtension) name += kExtension;
    return name;
}

}  // namespace vantrel::grab
