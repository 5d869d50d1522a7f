// SPDX-License-Identifier: GPL-3.0-or-later
// Time code and recording date: BCD masks, year pivot, refusals, daylight-saving time, both sides.
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <array>

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

// Every field 77, to see whether a refusal wrote anything.
std::tm sentinelTm()
{
    std::tm tm{};
    tm.tm_sec = tm.tm_min = tm.tm_hour = tm.tm_mday = tm.tm_mon = tm.tm_year = 77;
    tm.tm_wday = tm.tm_yday = tm.tm_isdst = 77;
    return tm;
}

TEST(TimeCode, reads_hours_minutes_seconds_frames_with_the_flag_bits_set)
{
    const auto frame = SyntheticDvFrame::pal().withTimecode({23, 59, 58, 24});
    const auto tc = DecodeTimeCode(frame.span(), VideoSystem::Pal625_50);
    ASSERT_TRUE(tc);
    EXPECT_EQ((std::array{tc->hours, tc->minutes, tc->seconds, tc->frames}), (std::array{23, 59, 58, 24}));
}

TEST(RecordingDate, reads_date_and_time_from_the_second_half_of_pal_and_ntsc_frames)
{
    const ScopedTimeZone zone{kUtc};
    for (auto frame : {SyntheticDvFrame::pal(), SyntheticDvFrame::ntsc()}) {
        frame.withRecordingDate({2004, 7, 14}, {18, 3, 9});
        std::tm tm = sentinelTm();
        ASSERT_TRUE(DecodeRecordingDate(frame.span(), frame.system(), tm));
        // A Wednesday, the 196th day: week and year day are filled in by mktime.
        EXPECT_EQ((std::array{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday, tm.tm_yday}),
                  (std::array{104, 6, 14, 18, 3, 9, 3, 195}));
        EXPECT_EQ(GetRecordingTime(frame.span()), 1089828189);
    }
}

TEST(RecordingDate, masks_the_tens_digits_of_day_month_year_and_time)
{
    const ScopedTimeZone zone{kUtc};
    // Day keeps two tens bits (0xF1 -> 31), month one (0xF2 -> 12), year four (0x99 -> 99);
    // seconds and minutes three (0xD9 -> 59), hours two (0xE3 -> 23).
    const auto frame = SyntheticDvFrame::pal().withRecordingDatePacks(datePack(0xF1, 0xF2, 0x99), timePack(0xD9, 0xD9, 0xE3));
    std::tm tm{};
    ASSERT_TRUE(DecodeRecordingDate(frame.span(), VideoSystem::Pal625_50, tm));
    EXPECT_EQ((std::array{tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec}),
              (std::array{99, 11, 31, 23, 59, 59}));
    EXPECT_EQ(GetRecordingTime(frame.span()), 946684799);
}

TEST(RecordingDate, takes_years_below_50_as_20yy_on_both_sides)
{
    const ScopedTimeZone zone{kUtc};
    struct Case {
        std::uint8_t yearCode;
        int year;              // 0 when refused
        std::int64_t seconds;  // 1 January, 00:00:00 UTC
    };
    const Case cases[] = {
        {0x00, 2000, 946684800},  {0x24, 2024, 1704067200}, {0x25, 2025, 1735689600},
        {0x30, 2030, 1893456000}, {0x39, 2039, 2177452800}, {0x49, 2049, 2493072000},
        {0x70, 1970, 0},          {0x99, 1999, 915148800},  {0x50, 0, -1},
        {0x69, 0, -1},
    };
    for (const auto& c : cases) {
        const auto frame = SyntheticDvFrame::pal().withRecordingDatePacks(datePack(0xC1, 0xE1, c.yearCode), timePack(0x80, 0x80, 0xC0));
        std::tm tm{};
        const bool accepted = DecodeRecordingDate(frame.span(), VideoSystem::Pal625_50, tm);
        EXPECT_EQ(accepted, c.year != 0) << std::hex << int{c.yearCode};
        if (accepted) {
            EXPECT_EQ(tm.tm_year + 1900, c.year) << std::hex << int{c.yearCode};
        }
        EXPECT_EQ(GetRecordingTime(frame.span()), c.seconds) << std::hex << int{c.yearCode};
    }
}

TEST(RecordingDate, refuses_times_before_1970_utc_in_local_time)
{
    {
        const ScopedTimeZone zone{kUtc};
        const auto last = SyntheticDvFrame::pal().withRecordingDate({1969, 12, 31}, {23, 59, 59});
        std::tm tm{};
        EXPECT_FALSE(DecodeRecordingDate(last.span(), VideoSystem::Pal625_50, tm));
        EXPECT_EQ(GetRecordingTime(last.span()), -1);
    }
    {
        // Berlin is one hour ahead in winter: 00:59:59 local is still 1969 in UTC.
        const ScopedTimeZone zone{kBerlin};
        const auto before = SyntheticDvFrame::pal().withRecordingDate({1970, 1, 1}, {0, 59, 59});
        const auto epoch = SyntheticDvFrame::pal().withRecordingDate({1970, 1, 1}, {1, 0, 0});
        std::tm tm{};
        EXPECT_FALSE(DecodeRecordingDate(before.span(), VideoSystem::Pal625_50, tm));
        EXPECT_EQ(GetRecordingTime(before.span()), -1);
        EXPECT_TRUE(DecodeRecordingDate(epoch.span(), VideoSystem::Pal625_50, tm));
        EXPECT_EQ(GetRecordingTime(epoch.span()), 0);
    }
}

TEST(RecordingDate, lets_local_summer_time_decide_the_offset)
{
    const ScopedTimeZone zone{kBerlin};
    const auto summer = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9});
    const auto winter = SyntheticDvFrame::pal().withRecordingDate({2004, 3, 5}, {14, 7, 9});
    std::tm tm{};
    ASSERT_TRUE(DecodeRecordingDate(summer.span(), VideoSystem::Pal625_50, tm));
    EXPECT_EQ(tm.tm_isdst, 1);
    EXPECT_EQ(tm.tm_hour, 18);
    EXPECT_EQ(GetRecordingTime(summer.span()), 1089828189 - 2 * 3600);
    ASSERT_TRUE(DecodeRecordingDate(winter.span(), VideoSystem::Pal625_50, tm));
    EXPECT_EQ(tm.tm_isdst, 0);
    EXPECT_EQ(GetRecordingTime(winter.span()), 1078495629 - 3600);
}

TEST(RecordingDate, writes_nothing_when_the_date_or_the_time_pack_is_missing)
{
    const ScopedTimeZone zone{kUtc};
    const auto withDate = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9});
    const auto dateOnly = SyntheticDvFrame(withDate).withDamagedSubcodePacks(kRecordingTimePack);
    const auto timeOnly = SyntheticDvFrame(withDate).withDamagedSubcodePacks(kRecordingDatePack);
    for (const auto* frame : {&dateOnly, &timeOnly}) {
        std::tm tm = sentinelTm();
        EXPECT_FALSE(DecodeRecordingDate(frame->span(), VideoSystem::Pal625_50, tm));
        for (int field : {tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year, tm.tm_wday, tm.tm_yday,
                          tm.tm_isdst})
            EXPECT_EQ(field, 77);
    }
    // Damaged copies (0xFF digits) are out of range, so the capture side refuses them too.
    EXPECT_EQ(GetRecordingTime(dateOnly.span()), -1);
    EXPECT_EQ(GetRecordingTime(SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9}).withoutSubcodePacks().span()), -1);
}

TEST(RecordingDate, capture_side_wants_a_whole_pal_or_ntsc_frame)
{
    const ScopedTimeZone zone{kUtc};
    const auto pal = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9});
    EXPECT_EQ(GetRecordingTime(pal.truncatedTo(kPalFrameBytes - 1)), -1);
    EXPECT_EQ(GetRecordingTime(pal.truncatedTo(kSequenceBytes)), -1);
    EXPECT_EQ(GetRecordingTime(pal.truncatedTo(0)), -1);
    // The first ten sequences of a PAL frame hold the date in sequences 6 to 9.
    EXPECT_EQ(GetRecordingTime(pal.truncatedTo(kNtscFrameBytes)), 1089828189);
    auto longer = pal.bytes();
    longer.push_back(std::byte{0});
    EXPECT_EQ(GetRecordingTime(longer), -1);
}

}  // namespace
}  // namespace vantrel::dv
