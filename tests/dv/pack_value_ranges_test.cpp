// SPDX-License-Identifier: GPL-3.0-or-later
// Time code, date and time packs with values no camcorder writes count as damaged copies on both search sides.
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace vantrel::dv {
namespace {

using testsupport::kUtc;
using testsupport::ScopedTimeZone;
using testsupport::SyntheticDvFrame;

struct RangeCase {
    const char* name;
    VideoSystem system;
    DVPack pack;
    bool isIntact;
};

// The tens digit is masked as the decoders mask it (flag and reserved bits set as tapes carry
// them); what is left must be a real time or date.
const RangeCase kCases[] = {
    {"pal_frame_24", VideoSystem::Pal625_50, {{kTimeCodePack, 0x24, 0x00, 0x00, 0x00}}, true},
    {"pal_frame_25", VideoSystem::Pal625_50, {{kTimeCodePack, 0x25, 0x00, 0x00, 0x00}}, false},
    {"ntsc_frame_29_drop_flag", VideoSystem::Ntsc525_60, {{kTimeCodePack, 0x40 | 0x29, 0x00, 0x00, 0x00}}, true},
    {"ntsc_frame_30", VideoSystem::Ntsc525_60, {{kTimeCodePack, 0x30, 0x00, 0x00, 0x00}}, false},
    {"frame_units_digit_a", VideoSystem::Pal625_50, {{kTimeCodePack, 0x0A, 0x00, 0x00, 0x00}}, false},
    {"seconds_59_flag_bit", VideoSystem::Pal625_50, {{kTimeCodePack, 0x00, 0x80 | 0x59, 0x00, 0x00}}, true},
    {"seconds_60", VideoSystem::Pal625_50, {{kTimeCodePack, 0x00, 0x60, 0x00, 0x00}}, false},
    {"minutes_60", VideoSystem::Pal625_50, {{kTimeCodePack, 0x00, 0x00, 0x60, 0x00}}, false},
    {"hours_23_flag_bits", VideoSystem::Pal625_50, {{kTimeCodePack, 0x00, 0x00, 0x00, 0xC0 | 0x23}}, true},
    {"hours_24", VideoSystem::Pal625_50, {{kTimeCodePack, 0x00, 0x00, 0x00, 0x24}}, false},
    {"random_17_70_61_35", VideoSystem::Pal625_50, {{kTimeCodePack, 0x35, 0x61, 0x70, 0x17}}, false},
    {"day_31", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0xC0 | 0x31, 0xE0 | 0x12, 0x04}}, true},
    {"day_0", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0xC0, 0xE3, 0x04}}, false},
    {"day_32", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0x32, 0x03, 0x04}}, false},
    {"month_0", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0x05, 0xE0, 0x04}}, false},
    {"month_13", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0xC5, 0xF3, 0x04}}, false},
    {"year_99", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0x05, 0x03, 0x99}}, true},
    {"year_tens_digit_a", VideoSystem::Pal625_50, {{kRecordingDatePack, 0xFF, 0x05, 0x03, 0xA1}}, false},
    {"time_23_59_59", VideoSystem::Pal625_50, {{kRecordingTimePack, 0xFF, 0x80 | 0x59, 0x80 | 0x59, 0xC0 | 0x23}}, true},
    {"time_hour_24", VideoSystem::Pal625_50, {{kRecordingTimePack, 0xFF, 0x00, 0x00, 0x24}}, false},
    {"time_minute_digit_f", VideoSystem::Pal625_50, {{kRecordingTimePack, 0xFF, 0x00, 0x0F, 0x12}}, false},
};

// An intact copy of the same pack, further on in the frame, that a search must reach past a damaged one.
DVPack intactCopyOf(const DVPack& pack)
{
    switch (pack.header()) {
    case kTimeCodePack: return DVPack{{kTimeCodePack, 0x07, 0x06, 0x05, 0x04}};
    case kRecordingDatePack: return DVPack{{kRecordingDatePack, 0xFF, 0x14, 0x07, 0x04}};
    default: return DVPack{{kRecordingTimePack, 0xFF, 0x09, 0x03, 0x18}};
    }
}

SyntheticDvFrame frameOf(VideoSystem system)
{
    return system == VideoSystem::Pal625_50 ? SyntheticDvFrame::pal() : SyntheticDvFrame::ntsc();
}

bool samePack(const std::optional<DVPack>& found, const DVPack& expected)
{
    return found && std::memcmp(found->pc, expected.pc, kPackBytes) == 0;
}

TEST(PackValueRanges, both_searches_take_the_first_copy_whose_values_are_in_range)
{
    for (const auto& c : kCases) {
        const DVPack later = intactCopyOf(c.pack);
        const auto frame = frameOf(c.system).withSubcodePack(0, 0, 0, c.pack).withSubcodePack(4, 1, 3, later);
        const DVPack& expected = c.isIntact ? c.pack : later;
        EXPECT_TRUE(samePack(FindSubcodePack(frame.span(), c.system, c.pack.header()), expected)) << c.name;
        EXPECT_TRUE(samePack(FindSubcodePackIn(frame.span(), c.pack.header()), expected)) << c.name << " (capture side)";

        const auto alone = frameOf(c.system).withSubcodePack(0, 0, 0, c.pack);
        EXPECT_EQ(FindSubcodePack(alone.span(), c.system, c.pack.header()).has_value(), c.isIntact) << c.name;
        EXPECT_EQ(FindSubcodePackIn(alone.span(), c.pack.header()).has_value(), c.isIntact) << c.name;
    }
}

TEST(PackValueRanges, an_intact_pack_decodes_with_its_flag_bits_masked)
{
    // Frames and hours keep two tens bits, seconds and minutes three.
    const auto frame = SyntheticDvFrame::ntsc().withSubcodePack(0, 0, 0, DVPack{{kTimeCodePack, 0xE9, 0xD9, 0xD9, 0xE3}});
    const auto tc = DecodeTimeCode(frame.span(), VideoSystem::Ntsc525_60);
    ASSERT_TRUE(tc);
    EXPECT_EQ((std::array{tc->hours, tc->minutes, tc->seconds, tc->frames}), (std::array{23, 59, 59, 29}));
}

// Without an intact copy the value is absent: no invented time code, no date that mktime made up.
TEST(PackValueRanges, no_intact_copy_leaves_the_values_absent)
{
    const ScopedTimeZone zone{kUtc};
    struct Case {
        const char* name;
        DVPack date;
        DVPack time;
    };
    const Case cases[] = {
        {"day_0", {{kRecordingDatePack, 0xFF, 0xC0, 0xE3, 0x04}}, {{kRecordingTimePack, 0xFF, 0x80, 0x80, 0xC0}}},
        {"month_13", {{kRecordingDatePack, 0xFF, 0xC5, 0xF3, 0x04}}, {{kRecordingTimePack, 0xFF, 0x80, 0x80, 0xC0}}},
        {"hour_24", {{kRecordingDatePack, 0xFF, 0xC5, 0xE3, 0x04}}, {{kRecordingTimePack, 0xFF, 0x80, 0x80, 0x24}}},
        {"seconds_digit_c", {{kRecordingDatePack, 0xFF, 0xC5, 0xE3, 0x04}}, {{kRecordingTimePack, 0xFF, 0x8C, 0x80, 0xC0}}},
    };
    for (const auto& c : cases) {
        const auto frame = SyntheticDvFrame::pal()
                               .withRecordingDatePacks(c.date, c.time)
                               .withSubcodePack(0, 0, 0, DVPack{{kTimeCodePack, 0x35, 0x61, 0x70, 0x17}});
        DVFrameInfo info{};
        AnalyseFrame(frame.span(), VideoSystem::Pal625_50, info);
        EXPECT_STREQ(info.szTimeCode, "TimeCode --:--:--   --") << c.name;
        EXPECT_EQ(info.tmRecorded.tm_year, -1) << c.name;
        EXPECT_EQ(info.tmRecorded.tm_mon, -1) << c.name;
        EXPECT_EQ(GetRecordingTime(frame.span()), -1) << c.name << " (capture side)";
    }
}

}  // namespace
}  // namespace vantrel::dv
