// SPDX-License-Identifier: GPL-3.0-or-later
// Consumer camera pack: every value table, iris, gain, focus.
#include "dv/pack_decoders.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vantrel::dv {
namespace {

CameraSettings decode(std::uint8_t pc1, std::uint8_t pc2, std::uint8_t pc3, std::uint8_t pc4)
{
    CameraSettings out{-7.0, -7, "untouched", "untouched", "untouched", "untouched"};
    EXPECT_TRUE(DecodeCameraPack(DVPack{{kCameraPack, pc1, pc2, pc3, pc4}}, out));
    return out;
}

TEST(CameraPack, iris_is_two_to_the_code_over_eight_from_the_low_six_bits)
{
    // 0xC8: bits 7 and 6 are not part of the code.
    const std::pair<std::uint8_t, double> cases[] = {{0x00, 1.0}, {0x08, 2.0}, {0xC8, 2.0}, {0x18, 8.0},
                                                     {0x3F, 234.753}, {0x0D, 3.084}};
    for (const auto& [code, iris] : cases) EXPECT_NEAR(decode(code, 0, 0, 0).iris, iris, 0.0005) << int{code};
}

TEST(CameraPack, exposure_mode_is_the_whole_high_nibble_of_pc2)
{
    const char* expected[16] = {"Fully automatic", "Gain priority", "Shutter priority", "Iris priority", "Manual"};
    for (int nibble = 0; nibble < 16; ++nibble) {
        const auto out = decode(0, static_cast<std::uint8_t>(nibble << 4 | 0x0F), 0, 0);
        EXPECT_EQ(std::string(out.exposure), nibble < 5 ? expected[nibble] : "No information") << nibble;
        EXPECT_EQ(out.gain, 15) << nibble;
    }
    const auto a5 = decode(0, 0xA5, 0, 0);
    EXPECT_STREQ(a5.exposure, "No information");
    EXPECT_EQ(a5.gain, 5);
    EXPECT_STREQ(decode(0, 0x10, 0, 0).exposure, "Gain priority");  // bit 4 belongs to the mode
}

TEST(CameraPack, white_balance_mode_comes_from_pc3_bits_7_to_5)
{
    const char* expected[8] = {"auto", "Hold", "One Push", "Preset", "Invalid", "Invalid", "Invalid", "No Information"};
    for (int mode = 0; mode < 8; ++mode)
        EXPECT_STREQ(decode(0, 0, static_cast<std::uint8_t>(mode << 5 | 0x04), 0).whiteBalanceMode, expected[mode]) << mode;
}

TEST(CameraPack, light_source_comes_from_pc3_bits_4_to_0)
{
    const char* expected[7] = {"Candle", "Incandescent lamp", "Incandescent lamp (low temp)",
                               "Incandescent lamp (high temp)", "Sunlight", "Cloudiness", "others"};
    for (int source = 0; source < 32; ++source) {
        const auto out = decode(0, 0, static_cast<std::uint8_t>(0xE0 | source), 0);
        EXPECT_STREQ(out.whiteBalance, source < 7 ? expected[source] : "No information") << source;
        EXPECT_STREQ(out.whiteBalanceMode, "No Information") << source;
    }
}

TEST(CameraPack, focus_mode_is_bit_7_of_pc4)
{
    EXPECT_STREQ(decode(0, 0, 0, 0x7F).focus, "auto");
    EXPECT_STREQ(decode(0, 0, 0, 0x80).focus, "manual");
}

TEST(CameraPack, leaves_the_settings_alone_for_another_pack)
{
    CameraSettings out{-7.0, -7, "untouched", "untouched", "untouched", "untouched"};
    EXPECT_FALSE(DecodeCameraPack(DVPack{{0x71, 0x08, 0x00, 0x00, 0x00}}, out));
    EXPECT_EQ(out.iris, -7.0);
    EXPECT_EQ(out.gain, -7);
    EXPECT_STREQ(out.focus, "untouched");
}

}  // namespace
}  // namespace vantrel::dv
