// SPDX-License-Identifier: GPL-3.0-or-later
// Pack decoders: recording date and time (BCD masks, year pivot, refusals, summer time, both
// sides), the consumer camera pack's value tables, and the shutter word per system, slot and sequence.
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace vantrel::dv {
namespace {

using testsupport::kBerlin;
using testsupport::kUtc;
using testsupport::ScopedTimeZone;
using testsupport::SyntheticDvFrame;

constexpr DVPack datePack(std::uint8_t day, std::uint8_t month, std::uint8_t year)
{
    return DVPack{{kRecordingDatePack, 0xFF, day, month, year}};
}
constexpr DVPack timePack(std::uint8_t seconds, std::uint8_t minutes, std::uint8_t hours)
{
    return DVPack{{kRecordingTimePack, 0xFF, seconds, minutes, hours}};
}

struct DateCase {
    const char* name;
    const char* zone;
    DVPack date;
    DVPack time;
    std::array<int, 7> decoded;  // year, month, day, hour, minute, second, isdst; all 0: refused
    std::int64_t seconds;        // what the capture side gives, -1 refused
};

constexpr std::array<int, 7> kRefused{};
constexpr DVPack kMidnight = timePack(0x80, 0x80, 0xC0);

// Reserved bits above the tens digits are set, as tapes carry them.
const DateCase kDateCases[] = {
    // Day keeps two tens bits, month one, year four; seconds and minutes three, hours two.
    {"masks", kUtc, datePack(0xF1, 0xF2, 0x99), timePack(0xD9, 0xD9, 0xE3), {1999, 12, 31, 23, 59, 59, 0}, 946684799},
    {"year 00", kUtc, datePack(0xC1, 0xE1, 0x00), kMidnight, {2000, 1, 1, 0, 0, 0, 0}, 946684800},
    {"year 49", kUtc, datePack(0xC1, 0xE1, 0x49), kMidnight, {2049, 1, 1, 0, 0, 0, 0}, 2493072000},
    {"year 50 is 1950", kUtc, datePack(0xC1, 0xE1, 0x50), kMidnight, kRefused, -1},
    {"year 69 is 1969", kUtc, datePack(0xC1, 0xE1, 0x69), kMidnight, kRefused, -1},
    {"year 70", kUtc, datePack(0xC1, 0xE1, 0x70), kMidnight, {1970, 1, 1, 0, 0, 0, 0}, 0},
    {"year 99", kUtc, datePack(0xC1, 0xE1, 0x99), kMidnight, {1999, 1, 1, 0, 0, 0, 0}, 915148800},
    {"last second of 1969", kUtc, datePack(0xF1, 0xF2, 0x69), timePack(0xD9, 0xD9, 0xE3), kRefused, -1},
    // Berlin is one hour ahead in winter: 00:59:59 local is still 1969 in UTC.
    {"1969 in UTC", kBerlin, datePack(0xC1, 0xE1, 0x70), timePack(0xD9, 0xD9, 0xC0), kRefused, -1},
    {"the epoch", kBerlin, datePack(0xC1, 0xE1, 0x70), timePack(0x80, 0x80, 0xC1), {1970, 1, 1, 1, 0, 0, 0}, 0},
    {"summer time", kBerlin, datePack(0xD4, 0xE7, 0x04), timePack(0x89, 0x83, 0xD8), {2004, 7, 14, 18, 3, 9, 1},
     1089828189 - 2 * 3600},
    {"winter time", kBerlin, datePack(0xC5, 0xE3, 0x04), timePack(0x89, 0x87, 0xD4), {2004, 3, 5, 14, 7, 9, 0},
     1078495629 - 3600},
};

TEST(RecordingDate, decodes_masks_the_year_pivot_and_local_time_on_both_sides)
{
    for (const auto& c : kDateCases) {
        SCOPED_TRACE(c.name);
        const ScopedTimeZone zone{c.zone};
        const auto frame = SyntheticDvFrame::pal().withRecordingDatePacks(c.date, c.time);
        std::tm tm{};
        const bool isAccepted = DecodeRecordingDate(frame.span(), VideoSystem::Pal625_50, tm);
        EXPECT_EQ(isAccepted, c.decoded != kRefused);
        if (isAccepted) {
            EXPECT_EQ((std::array{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                                  tm.tm_isdst}),
                      c.decoded);
        }
        EXPECT_EQ(GetRecordingTime(frame.span()), c.seconds);
    }
    // The capture side reads whole frames only, and only the subcode: a time pack whose subcode
    // copies are damaged is no time, though its VAUX copies are intact.
    const auto withDate = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9});
    EXPECT_EQ(GetRecordingTime(SyntheticDvFrame(withDate).withDamagedSubcodePacks(kRecordingTimePack).span()), -1);
    auto longer = withDate.bytes();
    longer.push_back(std::byte{0});
    EXPECT_EQ(GetRecordingTime(longer), -1);
}

CameraSettings decode(std::uint8_t pc1, std::uint8_t pc2, std::uint8_t pc3, std::uint8_t pc4)
{
    CameraSettings out{-7.0, -7, "untouched", "untouched", "untouched", "untouched"};
    EXPECT_TRUE(DecodeCameraPack(DVPack{{kCameraPack, pc1, pc2, pc3, pc4}}, out));
    return out;
}

TEST(CameraPack, reads_every_value_table_from_its_bits)
{
    // Iris 2^(code/8) from the low six bits of PC1: the info lines' golden run reads codes 0x0D,
    // 0x3F and 0xC8 (bits 7 and 6 set).
    // Exposure mode: the whole high nibble of PC2 (bit 4 belongs to it); gain: the low nibble.
    const char* exposures[5] = {"Fully automatic", "Gain priority", "Shutter priority", "Iris priority", "Manual"};
    for (int nibble = 0; nibble < 16; ++nibble) {
        const auto out = decode(0, static_cast<std::uint8_t>(nibble << 4 | 0x0F), 0, 0);
        EXPECT_EQ(std::string(out.exposure), nibble < 5 ? exposures[nibble] : "No information") << nibble;
        EXPECT_EQ(out.gain, 15) << nibble;
    }
    // White balance mode: PC3 bits 7..5; light source: bits 4..0.
    const char* modes[8] = {"auto", "Hold", "One Push", "Preset", "Invalid", "Invalid", "Invalid", "No Information"};
    for (int mode = 0; mode < 8; ++mode)
        EXPECT_STREQ(decode(0, 0, static_cast<std::uint8_t>(mode << 5 | 0x04), 0).whiteBalanceMode, modes[mode]);
    const char* sources[7] = {"Candle", "Incandescent lamp", "Incandescent lamp (low temp)",
                              "Incandescent lamp (high temp)", "Sunlight", "Cloudiness", "others"};
    for (int source = 0; source < 32; ++source) {
        const char* expected = source < 7 ? sources[source] : "No information";
        EXPECT_STREQ(decode(0, 0, static_cast<std::uint8_t>(0xE0 | source), 0).whiteBalance, expected) << source;
    }
    // Focus: PC4 bit 7.
    EXPECT_STREQ(decode(0, 0, 0, 0x7F).focus, "auto");
    EXPECT_STREQ(decode(0, 0, 0, 0x80).focus, "manual");
}

// Expected values by hand: PAL shows 312 lines x 50 fields / v = 15600 / v, NTSC 262 x 60 / v =
// 15720 / v, a fraction above .5 going up and .5 itself down.
TEST(Shutter, turns_words_into_shutter_denominators_with_the_lines_of_the_system)
{
    struct Case {
        std::uint16_t word;
        double pal;
        double ntsc;
    };
    const Case cases[] = {
        {0x809D, 99.0, 100.0},      // a Sony Digital8 at 1/100: v = 157; PAL 99.36, NTSC 100.13
        {0x0106, 60.0, 60.0},       // v = 262: NTSC 1/60 exactly, PAL 59.54 goes up
        {0x003F, 248.0, 250.0},     // v = 63: NTSC 249.52 goes up to 1/250, PAL 247.6
        {0x0030, 325.0, 327.0},     // v = 48: NTSC exactly 327.5 goes down
        {0x0138, 50.0, 50.0},       // v = 312: NTSC 50.38
        {0x0001, 15600.0, 15720.0}, // the fastest
        {0x81FF, 31.0, 31.0},       // v = 511: PAL 30.53 goes up
        {0x84E0, 12.0, 13.0},       // v = 1248: PAL exactly 12.5 goes down, NTSC 12.6 up
        {0x0130, 51.0, 52.0},       // bit 8 is part of v: 304; NTSC 51.71
        {0x0330, 51.0, 52.0},       // below 0x8138 only the low nine bits count
        {0x8137, 50.0, 51.0},       // v = 311: PAL 50.16, NTSC 50.55 goes up
        {0x8138, 50.0, 50.0},       // from here v = w - 0x8000
        {0x8200, 30.0, 31.0},       // v = 512: PAL 30.47, NTSC 30.70; the nine-bit mask would give no value
        {0xFFFE, 0.0, 0.0},         // v = 32766
        {0x0007, 2229.0, 2246.0},   // PAL 2228.57 goes up, NTSC 2245.71 up
        // v = 255 is the camcorder's "no value"; v = 0 would divide by zero; 0xFFFF is an empty slot.
        {0x80FF, -1.0, -1.0}, {0x00FF, -1.0, -1.0}, {0x02FF, -1.0, -1.0}, {0x0000, -1.0, -1.0},
        {0x0200, -1.0, -1.0}, {0x4000, -1.0, -1.0}, {0x8000, -1.0, -1.0}, {0xFFFF, -1.0, -1.0},
    };
    for (const auto& c : cases) {
        for (const auto& [system, expected] : {std::pair{VideoSystem::Pal625_50, c.pal},
                                               std::pair{VideoSystem::Ntsc525_60, c.ntsc}}) {
            const auto frame = SyntheticDvFrame::of(system).withShutterWord(c.word);
            EXPECT_EQ(DecodeShutter(frame.span(), system), expected) << std::hex << c.word;
        }
    }
}

// Which slot and which sequence give the value: slot 2 of the first VAUX block under header 0x7F,
// else slot 1; only even sequences, the first value wins; the sequences that the system and the span have.
TEST(Shutter, takes_the_first_even_sequence_and_the_preferred_slot_under_the_shutter_header)
{
    const auto pal = [] { return SyntheticDvFrame::pal(); };
    constexpr auto kPal = VideoSystem::Pal625_50;
    struct Case {
        const char* what;
        SyntheticDvFrame frame;
        double shutter;
        std::size_t sizeBytes = kPalFrameBytes;
        VideoSystem system = kPal;
    };
    const Case cases[] = {
        {"slot 2 before slot 1", pal().withShutterWordAt(0, 2, 0x009C).withShutterWordAt(0, 1, 0x0138), 100.0},
        {"empty slot 2 falls back to slot 1", pal().withShutterWordAt(0, 2, 0xFFFF).withShutterWordAt(0, 1, 0x0138),
         50.0},
        {"another header in slot 2 does not hide slot 1",
         pal().withShutterWordAt(0, 2, 0x009C, 0x7E).withShutterWordAt(0, 1, 0x0138), 50.0},
        {"slot 1 under another header", pal().withShutterWordAt(0, 1, 0x0138, 0x71), -1.0},
        {"slot 2 under a filler header", pal().withShutterWordAt(0, 2, 0x0138, kFillerPack), -1.0},
        {"second even sequence", pal().withShutterWordAt(0, 2, 0xFFFF).withShutterWordAt(2, 2, 0x0138), 50.0},
        {"odd sequences only", pal().withShutterWordAt(1, 2, 0x0138).withShutterWordAt(11, 1, 0x0138), -1.0},
        {"a word of v = 0 is passed over",
         pal().withShutterWordAt(0, 2, 0x0200).withShutterWordAt(4, 2, 0x009C).withShutterWordAt(6, 2, 0x0138), 100.0},
        {"sequence 10 of PAL", pal().withShutterWordAt(10, 2, 0x0138), 50.0},
        {"sequence 10 is beyond NTSC", pal().withShutterWordAt(10, 2, 0x0138), -1.0, kPalFrameBytes,
         VideoSystem::Ntsc525_60},
        {"span ends inside sequence 10", pal().withShutterWordAt(10, 2, 0x0138), -1.0, 11 * kSequenceBytes - 1},
        {"span holds sequence 10", pal().withShutterWordAt(10, 2, 0x0138), 50.0, 11 * kSequenceBytes},
        {"NTSC sequence 8, slot 1", SyntheticDvFrame::ntsc().withShutterWordAt(8, 1, 0x009C), 101.0, kNtscFrameBytes,
         VideoSystem::Ntsc525_60},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeShutter(c.frame.truncatedTo(c.sizeBytes), c.system), c.shutter) << c.what;
}

}  // namespace
}  // namespace vantrel::dv
