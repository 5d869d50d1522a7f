// SPDX-License-Identifier: GPL-3.0-or-later
// The bitmap file layout (header fields, bottom-up rows padded to 4 bytes) and the file's name;
// the grabber's tests read whole bitmaps back through ffmpeg.
#include "grab/bitmap_writer.h"

#include <gtest/gtest.h>

namespace vantrel::grab {
namespace {

TEST(BitmapWriter, header_fields_and_rows_bottom_up_each_padded_to_four_bytes)
{
    // 5 × 2 pixels, 16 bytes a row in memory: pixel (x, y) is blue x, green y, red 0x5A.
    std::vector<std::byte> pixels(32, std::byte{0xEE});
    for (std::size_t i = 0; i < 10; ++i) {
        const std::size_t at = i / 5 * 16 + i % 5 * 3;
        pixels[at] = std::byte(i % 5);
        pixels[at + 1] = std::byte(i / 5);
        pixels[at + 2] = std::byte{0x5A};
    }
    auto file = bitmapFileBytes(PictureView{5, 2, 16, pixels});
    ASSERT_TRUE(file) << file.error();
    const std::vector<unsigned> expected = {
        'B', 'M', 86, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header: size 54 + 2 rows of 16, pixels at 54
        40, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0,  // header size, width, height (bottom-up), 1 plane, 24 bits
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // no compression, sizes, colours
        0, 1, 0x5A, 1, 1, 0x5A, 2, 1, 0x5A, 3, 1, 0x5A, 4, 1, 0x5A, 0,  // the picture's last row first, 1 pad byte
        0, 0, 0x5A, 1, 0, 0x5A, 2, 0, 0x5A, 3, 0, 0x5A, 4, 0, 0x5A, 0,
    };
    ASSERT_EQ(file->size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(std::to_integer<unsigned>((*file)[i]), expected[i]) << i;
}

TEST(BitmapWriter, refuses_pictures_without_pixels_or_with_too_few_bytes)
{
    const std::vector<std::byte> pixels(48);
    const PictureView refused[] = {
        {0, 4, 12, pixels},
        {4, 4, 12, std::span<const std::byte>(pixels).first(47)},  // the last row one byte short
        {4, 4, 11, pixels},                                         // rows closer than their pixels
    };
    for (const auto& picture : refused) EXPECT_FALSE(bitmapFileBytes(picture)) << picture.bgr.size();
}

TEST(BitmapWriter, the_chosen_name_gets_bmp_appended_once)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},  // cancelled: nothing to write
        {"/home/anna/shot", "/home/anna/shot.bmp"},
        {"/home/anna/shot.bmp", "/home/anna/shot.bmp"},
        {"/home/anna/SHOT.BMP", "/home/anna/SHOT.BMP"},
        {"/home/anna/my.videos/shot", "/home/anna/my.videos/shot.bmp"},
        {"/home/anna/shotbmp", "/home/anna/shotbmp.bmp"},
    };
    for (const auto& [chosen, written] : cases) EXPECT_EQ(bitmapFileName(chosen), written) << chosen;
}

}  // namespace
}  // namespace vantrel::grab
