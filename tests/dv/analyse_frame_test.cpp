// SPDX-License-Identifier: GPL-3.0-or-later
// AnalyseFrame on whole frames: every field, the fall-backs, the observer, the fast readers'
// contract, and how many leading sequences decide the record.
#include "dv/pack_decoders.h"
#include "support/records.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace vantrel::dv {
namespace {

using testsupport::describe;
using testsupport::kUtc;
using testsupport::ScopedTimeZone;
using testsupport::SyntheticDvFrame;

SyntheticDvFrame fullPalFrame()
{
    return SyntheticDvFrame::pal()
        .withRecordingDate({2004, 7, 14}, {18, 3, 9})
        .withTimecode({0, 12, 31, 4})
        .withCameraPack({.irisCode = 0x10, .exposureMode = 4, .gainCode = 4, .whiteBalanceMode = 1,
                         .whiteBalanceLight = 5, .focusByte = 0xFF})
        .withShutterWord(0x81FF);
}

DVFrameInfo analysed(const SyntheticDvFrame& frame, DVFrameInfo info = DVFrameInfo{})
{
    AnalyseFrame(frame.span(), frame.system(), info);
    return info;
}

class RecordingObserver : public IFrameInfoObserver {
public:
    void frameAnalysed(const DVFrameInfo& info, long frameNumber) override
    {
        ++calls;
        lastFrame = frameNumber;
        lastRecord = describe(info);
    }
    int calls = 0;
    long lastFrame = 0;
    std::string lastRecord;
};

// The values of the frame's packs by hand; a Wednesday, the 196th day: week and year day come from mktime.
TEST(AnalyseFrame, fills_every_field_and_tells_the_observer_about_the_finished_record)
{
    const ScopedTimeZone zone{kUtc};
    RecordingObserver observer;
    DVFrameInfo info{};
    AnalyseFrame(fullPalFrame().span(), VideoSystem::Pal625_50, info, 4711, &observer);
    EXPECT_EQ(describe(info), "shutter 31 gain 4 iris 4 date 2004-07-14 18:03:09 wday 3 yday 195 dst 0 | TimeCode "
                              "00:12:31   04 | Manual | Hold | Cloudiness | manual");
    EXPECT_FALSE(isNeverAnalysed(info));
    EXPECT_EQ(observer.calls, 1);
    EXPECT_EQ(observer.lastFrame, 4711);
    EXPECT_EQ(observer.lastRecord, describe(info));
}

TEST(AnalyseFrame, writes_fall_backs_for_missing_packs_and_keeps_the_other_date_fields)
{
    const ScopedTimeZone zone{kUtc};
    DVFrameInfo previous = analysed(fullPalFrame());
    previous.tmRecorded.tm_mday = 17;
    previous.tmRecorded.tm_wday = 5;
    previous.tmRecorded.tm_yday = 200;
    // The day of the month and the last three date fields keep what they held.
    EXPECT_EQ(describe(analysed(SyntheticDvFrame::pal(), previous)),
              "shutter -1 gain 0 iris 0 date 1899-00-17 -1:-1:-1 wday 5 yday 200 dst 0 | TimeCode --:--:--   -- | No "
              "data recorded | No data recorded | No data recorded | No data recorded");
    // A date without its time pack: no date, and nothing of the date pack reaches the record.
    const auto dateOnly = analysed(fullPalFrame().withDamagedSubcodePacks(kRecordingTimePack), previous);
    EXPECT_EQ(dateOnly.tmRecorded.tm_year, -1);
    EXPECT_EQ(dateOnly.tmRecorded.tm_mday, 17);
}

TEST(AnalyseFrame, needs_only_the_subcode_and_vaux_blocks)
{
    const ScopedTimeZone zone{kUtc};
    const auto reference = analysed(fullPalFrame());
    // Pack headers as fill bytes would be found if any decoder looked outside blocks 1..5.
    for (std::uint8_t fill : {0x00, 0x13, 0x62, 0x63, 0x70, 0x7F, 0xFF})
        EXPECT_TRUE(testsupport::sameRecord(analysed(fullPalFrame().withOnlyMetadataBlocks(fill)), reference)) << +fill;
}

TEST(AnalyseFrame, leaves_the_padding_inside_the_recording_time_as_it_was)
{
    // Records are compared byte for byte; mktime must not carry bytes of its stack into them.
    const ScopedTimeZone zone{kUtc};
    DVFrameInfo info;
    std::memset(&info, 0xA5, sizeof info);
    AnalyseFrame(fullPalFrame().span(), VideoSystem::Pal625_50, info);
    ASSERT_EQ(info.tmRecorded.tm_year, 104);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info.tmRecorded);
    const std::size_t paddingStart = offsetof(std::tm, tm_isdst) + sizeof info.tmRecorded.tm_isdst;
    for (std::size_t i = paddingStart; i < offsetof(std::tm, tm_gmtoff); ++i) EXPECT_EQ(bytes[i], 0xA5) << i;
}

constexpr DVPack kTimeCode{{kTimeCodePack, 0x04, 0x31, 0x12, 0x00}};   // 00:12:31 frame 4
constexpr DVPack kDate{{kRecordingDatePack, 0xFF, 0xD4, 0xE7, 0x04}};  // 14 July 2004
constexpr DVPack kTime{{kRecordingTimePack, 0xFF, 0x89, 0x83, 0xD8}};  // 18:03:09
constexpr DVPack kCamera{{kCameraPack, 0xD0, 0x44, 0x25, 0xFF}};
constexpr std::uint16_t kShutterWord = 0x0138;  // 1/50 s
constexpr std::size_t kNowhere = 99;            // past every sequence

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

constexpr std::size_t kNothing = 0;

// That the first n sequences analyse like the whole frame and n - 1 do not is the frame
// analysis fuzzer's property; here the counts are worked out by hand.
TEST(SequencesDecidingAnalysis, counts_to_the_first_acceptable_copy_that_comes_last)
{
    const ScopedTimeZone zone{kUtc};
    const auto pal = [](FirstCopies at) { return withPacksFrom(SyntheticDvFrame::pal(), at); };
    const auto ntsc = [](FirstCopies at) { return withPacksFrom(SyntheticDvFrame::ntsc(), at); };
    // A good date only in sequence 8 behind a damaged copy (0xFF data) in sequence 0.
    const DVPack damagedDate{{kRecordingDatePack, 0xFF, 0xD4, 0xFF, 0x04}};
    const auto camcorder = camcorderFrame(SyntheticDvFrame::pal());
    const auto refusedDate = SyntheticDvFrame(camcorder).withRecordingDate({1969, 6, 1}, {12, 0, 0});
    struct Case {
        const char* name;
        SyntheticDvFrame frame;
        std::size_t expected;
        std::size_t spanBytes = kPalFrameBytes;       // the frame cut to this length
        VideoSystem readAs = VideoSystem::Unknown;  // the frame's own system
    };
    const Case cases[] = {
        {"PAL camcorder: date and time in the second half", camcorder, 7},
        {"NTSC camcorder", camcorderFrame(SyntheticDvFrame::ntsc()), 6},
        {"everything in sequence 0", pal({0, 0, 0, 0, 0}), 1},
        {"time code", pal({10, 0, 0, 0, 0}), 11},
        {"date", pal({0, 8, 0, 0, 0}), 9},
        {"time, in the last sequence", pal({0, 3, 11, 0, 0}), 12},
        {"camera pack", pal({0, 0, 0, 5, 0}), 6},
        {"shutter", pal({0, 0, 0, 0, 4}), 5},
        {"shutter from an odd sequence: the next even one", pal({0, 0, 0, 0, 3}), 5},
        {"mixed", pal({2, 6, 6, 1, 2}), 7},
        {"NTSC time in the last sequence", ntsc({0, 0, 9, 0, 0}), 10},
        {"NTSC shutter", ntsc({0, 0, 0, 0, 7}), 9},
        {"damaged date passed over", pal({0, 8, 0, 0, 0}).withSubcodePack(0, 0, 3, damagedDate), 9},
        // Before sequence 4: no value (v = 255), an empty word, and a value in an odd sequence.
        {"shutter words without a value passed over",
         pal({0, 0, 0, 0, kNowhere})
             .withShutterWordAt(0, 2, 0x00FF)
             .withShutterWordAt(2, 2, 0xFFFF)
             .withShutterWordAt(3, 2, kShutterWord)
             .withShutterWordAt(4, 2, kShutterWord),
         5},
        {"a date the calendar refuses still counts", refusedDate, 7},
        {"nine sequences and a bit", camcorder, 7, 9 * kSequenceBytes + 480},
        {"seven sequences", camcorder, 7, 7 * kSequenceBytes},
        {"sequence 6 a byte short", camcorder, kNothing, 7 * kSequenceBytes - 1},
        {"empty span", camcorder, kNothing, 0},
        {"no time code", pal({kNowhere, 0, 0, 0, 0}), kNothing},
        {"no date", pal({0, kNowhere, 0, 0, 0}), kNothing},
        {"no time", pal({0, 0, kNowhere, 0, 0}), kNothing},
        {"no camera pack", pal({0, 0, 0, kNowhere, 0}), kNothing},
        {"no shutter", pal({0, 0, 0, 0, kNowhere}), kNothing},
        {"only damaged time codes", SyntheticDvFrame(camcorder).withDamagedSubcodePacks(kTimeCodePack), kNothing},
        {"a shutter without value", SyntheticDvFrame(camcorder).withShutterWord(0x80FF), kNothing},
        {"PAL read as NTSC: time only in sequences 10 and 11", pal({0, 0, 10, 0, 0}), kNothing, kPalFrameBytes,
         VideoSystem::Ntsc525_60},
    };
    for (const auto& c : cases) {
        const auto count = SequencesDecidingAnalysis(c.frame.truncatedTo(c.spanBytes),
                                                     c.readAs == VideoSystem::Unknown ? c.frame.system() : c.readAs);
        EXPECT_EQ(count.value_or(kNothing), c.expected) << c.name;
    }
    EXPECT_EQ(analysed(refusedDate).tmRecorded.tm_year, -1) << "a refused date reads as no date";
}

}  // namespace
}  // namespace vantrel::dv
