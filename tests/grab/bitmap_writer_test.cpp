// SPDX-License-Identifier: GPL-3.0-or-later
// The bitmap file layout (header fields, bottom-up padded rows), the file's name, and the combiner's OR.
#include "grab/bitmap_combiner.h"
#include "grab/bitmap_writer.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace vantrel::grab {
namespace {

std::uint32_t u32At(const std::vector<std::byte>& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::to_integer<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

std::uint16_t u16At(const std::vector<std::byte>& bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(std::to_integer<unsigned>(bytes[offset]) |
                                      (std::to_integer<unsigned>(bytes[offset + 1]) << 8));
}

// A picture whose pixel (x, y) is blue x, green y, red 0x5A, with `rowBytes` from row to row
// (padding bytes 0xEE, which must never reach the file).
std::vector<std::byte> numberedPicture(int width, int height, std::size_t rowBytes)
{
    std::vector<std::byte> bgr(rowBytes * static_cast<std::size_t>(height), std::byte{0xEE});
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * rowBytes + 3 * static_cast<std::size_t>(x);
            bgr[at] = std::byte(x & 0xFF);
            bgr[at + 1] = std::byte(y & 0xFF);
            bgr[at + 2] = std::byte{0x5A};
        }
    }
    return bgr;
}

struct SizeCase {
    const char* name;
    int width;
    int height;
    std::size_t rowBytesInMemory;
    std::size_t fileRowBytes;    // 3 bytes a pixel, padded to 4
    std::size_t fileBytes;
};

const SizeCase kSizes[] = {
    {"pal_frame", 720, 576, 2160, 2160, 1244214},
    {"ntsc_frame", 720, 480, 2160, 2160, 1036854},
    {"odd_width_one_pad_byte", 5, 3, 15, 16, 54 + 48},
    {"one_pixel_three_pad_bytes", 1, 1, 4, 4, 58},
    {"rows_with_gaps_in_memory", 6, 4, 24, 20, 54 + 80},
};

TEST(BitmapWriter, header_fields_and_rows_bottom_up_each_padded_to_four_bytes)
{
    for (const auto& c : kSizes) {
        SCOPED_TRACE(c.name);
        const auto pixels = numberedPicture(c.width, c.height, c.rowBytesInMemory);
        auto file = bitmapFileBytes(PictureView{c.width, c.height, c.rowBytesInMemory, pixels});
        ASSERT_TRUE(file) << file.error();
        const auto& bytes = *file;
        ASSERT_EQ(bytes.size(), c.fileBytes);
        EXPECT_EQ(std::to_integer<char>(bytes[0]), 'B');
        EXPECT_EQ(std::to_integer<char>(bytes[1]), 'M');
        EXPECT_EQ(u32At(bytes, 2), c.fileBytes);
        EXPECT_EQ(u32At(bytes, 6), 0u);   // both reserved words
        EXPECT_EQ(u32At(bytes, 10), 54u);
        EXPECT_EQ(u32At(bytes, 14), 40u);
        EXPECT_EQ(u32At(bytes, 18), static_cast<std::uint32_t>(c.width));
        EXPECT_EQ(u32At(bytes, 22), static_cast<std::uint32_t>(c.height));
        EXPECT_EQ(u16At(bytes, 26), 1);
        EXPECT_EQ(u16At(bytes, 28), 24);
        for (std::size_t offset = 30; offset < 54; offset += 4) EXPECT_EQ(u32At(bytes, offset), 0u) << offset;
        for (int fileRow = 0; fileRow < c.height; ++fileRow) {
            const int y = c.height - 1 - fileRow;  // the file's first row is the picture's last
            const std::size_t row = 54 + static_cast<std::size_t>(fileRow) * c.fileRowBytes;
            for (int x = 0; x < c.width; ++x) {
                const std::size_t at = row + 3 * static_cast<std::size_t>(x);
                ASSERT_EQ(std::to_integer<int>(bytes[at]), x & 0xFF) << x << "," << y;
                ASSERT_EQ(std::to_integer<int>(bytes[at + 1]), y & 0xFF) << x << "," << y;
                ASSERT_EQ(std::to_integer<int>(bytes[at + 2]), 0x5A) << x << "," << y;
            }
            for (std::size_t pad = 3 * static_cast<std::size_t>(c.width); pad < c.fileRowBytes; ++pad) {
                ASSERT_EQ(std::to_integer<int>(bytes[row + pad]), 0) << "padding of file row " << fileRow;
            }
        }
    }
}

TEST(BitmapWriter, refuses_pictures_without_pixels_or_with_too_few_bytes)
{
    const auto pixels = numberedPicture(4, 4, 12);
    const PictureView refused[] = {
        {0, 4, 12, pixels},
        {4, 0, 12, pixels},
        {4, 4, 12, std::span<const std::byte>(pixels).first(47)},  // the last row is one byte short
        {4, 4, 11, pixels},                                         // rows closer than their pixels
    };
    for (const auto& picture : refused) {
        EXPECT_FALSE(bitmapFileBytes(picture)) << picture.widthPixels << "x" << picture.heightPixels;
    }
    // The last row needs only its pixels, not a whole row of padding behind it.
    EXPECT_TRUE(bitmapFileBytes({4, 4, 16, std::span<const std::byte>(numberedPicture(4, 4, 16)).first(60)}));
}

TEST(BitmapWriter, the_chosen_name_gets_bmp_appended_once)
{
    const std::array<std::pair<const char*, const char*>, 7> cases{{
        {"", ""},                                            // cancelled: nothing to write
        {"/home/anna/shot", "/home/anna/shot.bmp"},
        {"/home/anna/shot.bmp", "/home/anna/shot.bmp"},
        {"/home/anna/SHOT.BMP", "/home/anna/SHOT.BMP"},
        {"/home/anna/my.videos/shot", "/home/anna/my.videos/shot.bmp"},
        {"/home/anna/shot.bmp.txt", "/home/anna/shot.bmp.txt.bmp"},
        {"/home/anna/shotbmp", "/home/anna/shotbmp.bmp"},
    }};
    for (const auto& [chosen, written] : cases) EXPECT_EQ(bitmapFileName(chosen), written) << chosen;
}

QImage filled(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_BGR888);
    image.fill(QColor::fromRgb(colour));  // fill(uint) would write a raw 24-bit value, not a colour
    return image;
}

TEST(BitmapCombiner, panel_is_ored_over_the_top_left_corner_of_a_frame_of_any_size)
{
    struct Case {
        const char* name;
        QSize frame;
        QSize panel;
    };
    const Case cases[] = {
        {"pal", {720, 576}, {360, 124}},
        {"small_frame", {352, 288}, {360, 124}},   // the panel is cut at the frame's edge
        {"tiny_frame", {100, 50}, {360, 124}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QImage frame = filled(c.frame.width(), c.frame.height(), qRgb(0x12, 0x34, 0x56));
        QImage panel = filled(c.panel.width(), c.panel.height(), qRgb(0, 0, 0));
        panel.setPixel(3, 12, qRgb(255, 255, 0));   // a fully drawn glyph pixel
        panel.setPixel(4, 12, qRgb(0x80, 0x80, 0)); // an anti-aliased edge
        const int lastSharedColumn = std::min(c.frame.width(), c.panel.width()) - 1;
        panel.setPixel(lastSharedColumn, 0, qRgb(255, 255, 0));
        CBitmapCombiner combiner;
        const std::array<QImage, 2> layers{frame, panel};
        const QImage result = combiner.Combine(layers, qRgb(0, 0, 0), CombineLayout::AtOrigin);
        ASSERT_EQ(result.size(), c.frame);
        EXPECT_EQ(result.format(), QImage::Format_BGR888);
        EXPECT_EQ(result.pixel(3, 12), qRgb(255, 255, 0x56));
        EXPECT_EQ(result.pixel(4, 12), qRgb(0x92, 0xB4, 0x56));
        EXPECT_EQ(result.pixel(lastSharedColumn, 0), qRgb(255, 255, 0x56));
        EXPECT_EQ(result.pixel(5, 12), qRgb(0x12, 0x34, 0x56));
        EXPECT_EQ(result.pixel(c.frame.width() - 1, c.frame.height() - 1), qRgb(0x12, 0x34, 0x56));
    }
}

TEST(BitmapCombiner, nothing_to_combine_gives_no_picture)
{
    CBitmapCombiner combiner;
    EXPECT_TRUE(combiner.Combine({}, qRgb(0, 0, 0), CombineLayout::AtOrigin).isNull());
    const std::array<QImage, 2> nullFirst{QImage(), filled(4, 4, qRgb(1, 2, 3))};
    EXPECT_TRUE(combiner.Combine(nullFirst, qRgb(0, 0, 0), CombineLayout::AtOrigin).isNull());
    const std::array<QImage, 1> one{filled(4, 4, qRgb(1, 2, 3))};
    EXPECT_TRUE(combiner.Combine(one, qRgb(0, 0, 0), CombineLayout::Unknown).isNull());
}

}  // namespace
}  // namespace vantrel::grab
