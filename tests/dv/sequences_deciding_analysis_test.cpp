// SPDX-License-Identifier: GPL-3.0-or-later
// How many leading sequences decide AnalyseFrame, checked by analysing that prefix and one sequence less.
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vantrel::dv {
namespace {

using testsupport::kUtc;
using testsupport::ScopedTimeZone;
using testsupport::SyntheticDvFrame;

constexpr DVPack kTimeCode{{kTimeCodePack, 0x04, 0x31, 0x12, 0x00}};    // 00:12:31 frame 4
constexpr DVPack kDate{{kRecordingDatePack, 0xFF, 0xD4, 0xE7, 0x04}};   // 14 July 2004
constexpr DVPack kTime{{kRecordingTimePack, 0xFF, 0x89, 0x83, 0xD8}};   // 18:03:09
constexpr DVPack kCamera{{kCameraPack, 0xD0, 0x44, 0x25, 0xFF}};
constexpr std::uint16_t kShutterWord = 0x0138;                          // 1/50 s
constexpr std::size_t kNowhere = 99;                                    // past every sequence

// The sequence of the first copy of each pack; a copy follows in every later sequence, as
// camcorders repeat them, and the sequences before hold filler packs only.
struct FirstCopies {
    std::size_t timeCode;
    std::size_t date;
    std::size_t time;
    std::size_t camera;
    std::size_t shutter;
};

SyntheticDvFrame withPacksFrom(SyntheticDvFrame frame, FirstCopies at)
{
    for (std::size_t s = 0; s < frame.sequences(); ++s) {
        if (s >= at.timeCode) frame.withSubcodePack(s, 0, 0, kTimeCode);
        if (s >= at.date) frame.withSubcodePack(s, 0, 1, kDate);
        if (s >= at.time) frame.withSubcodePack(s, 1, 1, kTime);
        if (s >= at.camera) frame.withVauxPack(s, 0, 0, kCamera);
        if (s >= at.shutter) frame.withShutterWordAt(s, 2, kShutterWord);
    }
    return frame;
}

SyntheticDvFrame camcorderFrame(SyntheticDvFrame frame)
{
    return frame.withRecordingDate({2004, 7, 14}, {18, 3, 9})
        .withTimecode({0, 12, 31, 4})
        .withCameraPack(testsupport::CameraPackFields{})
        .withShutterWord(kShutterWord);
}

// Zeroed first, padding included, so that records compare byte for byte.
DVFrameInfo recordOf(std::span<const std::byte> frame, VideoSystem system)
{
    DVFrameInfo info;
    std::memset(&info, 0, sizeof info);
    AnalyseFrame(frame, system, info);
    return info;
}

bool sameRecord(const DVFrameInfo& a, const DVFrameInfo& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The count is `expected`, the first `expected` sequences analyse like the whole frame, and
// one sequence fewer does not.
testing::AssertionResult decidedBy(std::span<const std::byte> frame, VideoSystem system, std::size_t expected)
{
    const auto count = SequencesDecidingAnalysis(frame, system);
    if (count != expected)
        return testing::AssertionFailure() << "count " << (count ? std::to_string(*count) : "nothing") << ", expected "
                                           << expected;
    if (expected > searchableSequences(frame, system))
        return testing::AssertionFailure() << "count above the " << searchableSequences(frame, system)
                                           << " searchable sequences";
    const auto whole = recordOf(frame, system);
    if (!sameRecord(recordOf(frame.first(expected * kSequenceBytes), system), whole))
        return testing::AssertionFailure() << "the first " << expected << " sequences analyse unlike the whole frame";
    if (sameRecord(recordOf(frame.first((expected - 1) * kSequenceBytes), system), whole))
        return testing::AssertionFailure() << "the first " << expected - 1 << " sequences already analyse alike";
    return testing::AssertionSuccess();
}

TEST(SequencesDecidingAnalysis, a_camcorder_frame_is_decided_by_the_date_and_time_in_the_second_half)
{
    const ScopedTimeZone zone{kUtc};
    const auto pal = camcorderFrame(SyntheticDvFrame::pal());
    EXPECT_TRUE(decidedBy(pal.span(), VideoSystem::Pal625_50, 7));
    const auto ntsc = camcorderFrame(SyntheticDvFrame::ntsc());
    EXPECT_TRUE(decidedBy(ntsc.span(), VideoSystem::Ntsc525_60, 6));
}

TEST(SequencesDecidingAnalysis, counts_to_the_first_copy_that_comes_last)
{
    const ScopedTimeZone zone{kUtc};
    struct Case {
        FirstCopies at;
        std::size_t expected;
    };
    const Case palCases[] = {
        {{0, 0, 0, 0, 0}, 1},
        {{10, 0, 0, 0, 0}, 11},  // time code
        {{0, 8, 0, 0, 0}, 9},    // date
        {{0, 3, 11, 0, 0}, 12},  // time, in the last sequence
        {{0, 0, 0, 5, 0}, 6},    // camera pack
        {{0, 0, 0, 0, 4}, 5},    // shutter
        {{0, 0, 0, 0, 3}, 5},    // shutter from an odd sequence on: the next even one counts
        {{2, 6, 6, 1, 2}, 7},
    };
    for (const auto& c : palCases) {
        const auto frame = withPacksFrom(SyntheticDvFrame::pal(), c.at);
        EXPECT_TRUE(decidedBy(frame.span(), VideoSystem::Pal625_50, c.expected)) << "expected " << c.expected;
    }
    const auto ntsc = withPacksFrom(SyntheticDvFrame::ntsc(), {0, 0, 9, 0, 0});
    EXPECT_TRUE(decidedBy(ntsc.span(), VideoSystem::Ntsc525_60, 10));
    const auto ntscShutter = withPacksFrom(SyntheticDvFrame::ntsc(), {0, 0, 0, 0, 7});
    EXPECT_TRUE(decidedBy(ntscShutter.span(), VideoSystem::Ntsc525_60, 9));
}

TEST(SequencesDecidingAnalysis, passes_over_copies_the_searches_refuse)
{
    const ScopedTimeZone zone{kUtc};
    // A date with 0xFF data in sequence 0, a good one only in sequence 8.
    const DVPack damagedDate{{kRecordingDatePack, 0xFF, 0xD4, 0xFF, 0x04}};
    const auto date = withPacksFrom(SyntheticDvFrame::pal(), {0, 8, 0, 0, 0}).withSubcodePack(0, 0, 3, damagedDate);
    EXPECT_TRUE(decidedBy(date.span(), VideoSystem::Pal625_50, 9));
    // A shutter value only in sequence 4: before it none (v = 255), an empty word, and one in an odd sequence.
    const auto shutter = withPacksFrom(SyntheticDvFrame::pal(), {0, 0, 0, 0, kNowhere})
                             .withShutterWordAt(0, 2, 0x00FF)
                             .withShutterWordAt(2, 2, 0xFFFF)
                             .withShutterWordAt(3, 2, kShutterWord)
                             .withShutterWordAt(4, 2, kShutterWord);
    EXPECT_TRUE(decidedBy(shutter.span(), VideoSystem::Pal625_50, 5));
}

TEST(SequencesDecidingAnalysis, a_date_the_calendar_refuses_still_counts)
{
    const ScopedTimeZone zone{kUtc};
    const auto frame = camcorderFrame(SyntheticDvFrame::pal()).withRecordingDate({1969, 6, 1}, {12, 0, 0});
    EXPECT_EQ(recordOf(frame.span(), VideoSystem::Pal625_50).tmRecorded.tm_year, -1);
    EXPECT_TRUE(decidedBy(frame.span(), VideoSystem::Pal625_50, 7));
}

TEST(SequencesDecidingAnalysis, gives_nothing_when_a_search_finds_nothing)
{
    const FirstCopies oneMissing[] = {
        {kNowhere, 0, 0, 0, 0}, {0, kNowhere, 0, 0, 0}, {0, 0, kNowhere, 0, 0},
        {0, 0, 0, kNowhere, 0}, {0, 0, 0, 0, kNowhere},
    };
    for (const auto& at : oneMissing) {
        const auto frame = withPacksFrom(SyntheticDvFrame::pal(), at);
        EXPECT_FALSE(SequencesDecidingAnalysis(frame.span(), VideoSystem::Pal625_50));
    }
    const auto damagedTimeCode = camcorderFrame(SyntheticDvFrame::pal()).withDamagedSubcodePacks(kTimeCodePack);
    EXPECT_FALSE(SequencesDecidingAnalysis(damagedTimeCode.span(), VideoSystem::Pal625_50));
    const auto shutterWithoutValue = camcorderFrame(SyntheticDvFrame::pal()).withShutterWord(0x80FF);
    EXPECT_FALSE(SequencesDecidingAnalysis(shutterWithoutValue.span(), VideoSystem::Pal625_50));
    // The PAL frame read as NTSC: the only time packs lie in sequences 10 and 11.
    const auto lateTime = withPacksFrom(SyntheticDvFrame::pal(), {0, 0, 10, 0, 0});
    EXPECT_FALSE(SequencesDecidingAnalysis(lateTime.span(), VideoSystem::Ntsc525_60));
}

TEST(SequencesDecidingAnalysis, counts_only_the_whole_sequences_of_a_short_frame)
{
    const ScopedTimeZone zone{kUtc};
    const auto frame = camcorderFrame(SyntheticDvFrame::pal());
    const auto nineAndABit = frame.truncatedTo(9 * kSequenceBytes + 480);
    EXPECT_TRUE(decidedBy(nineAndABit, VideoSystem::Pal625_50, 7));
    const auto seven = frame.truncatedTo(7 * kSequenceBytes);
    EXPECT_TRUE(decidedBy(seven, VideoSystem::Pal625_50, 7));
    // Sequence 6, the first with a date, is one byte short.
    EXPECT_FALSE(SequencesDecidingAnalysis(frame.truncatedTo(7 * kSequenceBytes - 1), VideoSystem::Pal625_50));
    EXPECT_FALSE(SequencesDecidingAnalysis(frame.truncatedTo(0), VideoSystem::Pal625_50));
}

}  // namespace
}  // namespace vantrel::dv
