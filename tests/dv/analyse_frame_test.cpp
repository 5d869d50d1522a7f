// SPDX-License-Identifier: GPL-3.0-or-later
// AnalyseFrame on whole frames: every field, the fall-backs, the observer and the fast readers' contract.
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>

namespace vantrel::dv {
namespace {

using testsupport::kUtc;
using testsupport::ScopedTimeZone;
using testsupport::SyntheticDvFrame;

SyntheticDvFrame fullPalFrame()
{
    return SyntheticDvFrame::pal()
        .withRecordingDate({2004, 7, 14}, {18, 3, 9})
        .withTimecode({0, 12, 31, 4})
        .withCameraPack({.irisCode = 0x10, .exposureMode = 4, .gainCode = 4, .whiteBalanceMode = 1, .lightSource = 5,
                         .isManualFocus = true})
        .withShutterWord(0x81FF);
}

std::array<int, 9> tmFields(const std::tm& tm)
{
    return {tm.tm_year, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday, tm.tm_yday, tm.tm_isdst};
}

DVFrameInfo analysed(const SyntheticDvFrame& frame, DVFrameInfo info = DVFrameInfo{})
{
    AnalyseFrame(frame.span(), frame.system(), info);
    return info;
}

TEST(AnalyseFrame, fills_every_field_from_a_camcorder_frame)
{
    const ScopedTimeZone zone{kUtc};
    const auto info = analysed(fullPalFrame());
    EXPECT_STREQ(info.szTimeCode, "TimeCode 00:12:31   04");
    EXPECT_EQ(tmFields(info.tmRecorded), (std::array{104, 6, 14, 18, 3, 9, 3, 195, 0}));
    EXPECT_DOUBLE_EQ(info.dIris, 4.0);
    EXPECT_STREQ(info.szExposure, "Manual");
    EXPECT_EQ(info.nGain, 4);
    EXPECT_STREQ(info.szWhiteBalanceMode, "Hold");
    EXPECT_STREQ(info.szWhiteBalance, "Cloudiness");
    EXPECT_STREQ(info.szFocus, "manual");
    EXPECT_EQ(info.dShutter, 31.0);
    EXPECT_FALSE(isNeverAnalysed(info));
    EXPECT_EQ(analysed(fullPalFrame().withShutterWord(0xFFFE)).dShutter, 0.0);  // zero is a value
}

TEST(AnalyseFrame, reads_ntsc_frames_of_ten_sequences)
{
    const ScopedTimeZone zone{kUtc};
    const auto frame = SyntheticDvFrame::ntsc()
                           .withRecordingDate({1999, 12, 31}, {23, 59, 59})
                           .withTimecode({23, 59, 59, 29})
                           .withCameraPack(0x08, 0x00, 0x00, 0x00)
                           .withShutterWord(0x809D);  // v = 157: 262 lines x 60 fields / 157 = 100.1
    ASSERT_EQ(frame.bytes().size(), kNtscFrameBytes);
    const auto info = analysed(frame);
    EXPECT_STREQ(info.szTimeCode, "TimeCode 23:59:59   29");
    EXPECT_EQ(info.tmRecorded.tm_year + 1900, 1999);
    EXPECT_EQ(info.dShutter, 100.0);
    EXPECT_STREQ(info.szExposure, "Fully automatic");
}

TEST(AnalyseFrame, writes_fall_backs_for_a_frame_without_packs)
{
    const ScopedTimeZone zone{kUtc};
    DVFrameInfo previous = analysed(fullPalFrame());
    previous.tmRecorded.tm_mday = 17;
    previous.tmRecorded.tm_wday = 5;
    previous.tmRecorded.tm_yday = 200;
    previous.tmRecorded.tm_isdst = 0;
    const auto info = analysed(SyntheticDvFrame::pal(), previous);
    EXPECT_STREQ(info.szTimeCode, "TimeCode --:--:--   --");
    EXPECT_STREQ(info.szExposure, "No data recorded");
    EXPECT_STREQ(info.szWhiteBalanceMode, "No data recorded");
    EXPECT_STREQ(info.szWhiteBalance, "No data recorded");
    EXPECT_STREQ(info.szFocus, "No data recorded");
    EXPECT_EQ(info.nGain, 0);
    EXPECT_EQ(info.dIris, 0.0);
    EXPECT_EQ(info.dShutter, -1.0);
    // The day of the month and the last three fields keep what they held.
    EXPECT_EQ(tmFields(info.tmRecorded), (std::array{-1, -1, 17, -1, -1, -1, 5, 200, 0}));
}

TEST(AnalyseFrame, a_date_without_its_time_pack_keeps_the_day_of_the_previous_frame)
{
    const ScopedTimeZone zone{kUtc};
    const auto first = analysed(fullPalFrame());
    const auto info = analysed(fullPalFrame().withDamagedSubcodePacks(kRecordingTimePack), first);
    EXPECT_EQ(info.tmRecorded.tm_year, -1);
    EXPECT_EQ(info.tmRecorded.tm_mday, 14);
}

TEST(AnalyseFrame, a_refused_date_reads_as_no_date)
{
    const ScopedTimeZone zone{kUtc};
    const auto info = analysed(fullPalFrame().withRecordingDate({1969, 6, 1}, {12, 0, 0}));
    EXPECT_EQ(info.tmRecorded.tm_year, -1);
    EXPECT_EQ(info.tmRecorded.tm_sec, -1);
}

class RecordingObserver : public IFrameInfoObserver {
public:
    void frameAnalysed(const DVFrameInfo& info, long frameNumber) override
    {
        ++calls;
        lastFrame = frameNumber;
        lastTimeCode = info.szTimeCode;
    }
    int calls = 0;
    long lastFrame = 0;
    std::string lastTimeCode;
};

TEST(AnalyseFrame, tells_the_observer_about_the_finished_record)
{
    const ScopedTimeZone zone{kUtc};
    RecordingObserver observer;
    DVFrameInfo info{};
    const auto frame = fullPalFrame();
    AnalyseFrame(frame.span(), frame.system(), info, 4711, &observer);
    EXPECT_EQ(observer.calls, 1);
    EXPECT_EQ(observer.lastFrame, 4711);
    EXPECT_EQ(observer.lastTimeCode, "TimeCode 00:12:31   04");
}

bool sameRecord(const DVFrameInfo& a, const DVFrameInfo& b)
{
    return a.dShutter == b.dShutter && a.nGain == b.nGain && a.dIris == b.dIris &&
           tmFields(a.tmRecorded) == tmFields(b.tmRecorded) && std::strcmp(a.szTimeCode, b.szTimeCode) == 0 &&
           std::strcmp(a.szWhiteBalanceMode, b.szWhiteBalanceMode) == 0 &&
           std::strcmp(a.szWhiteBalance, b.szWhiteBalance) == 0 && std::strcmp(a.szFocus, b.szFocus) == 0 &&
           std::strcmp(a.szExposure, b.szExposure) == 0;
}

TEST(AnalyseFrame, needs_only_the_subcode_and_vaux_blocks)
{
    const ScopedTimeZone zone{kUtc};
    const auto reference = analysed(fullPalFrame());
    // Pack headers as fill bytes would be found if any decoder looked outside blocks 1..5.
    for (std::uint8_t fill : {0x00, 0x13, 0x62, 0x63, 0x70, 0x7F, 0xFF}) {
        auto sparse = fullPalFrame().withOnlyMetadataBlocks(fill);
        EXPECT_TRUE(sameRecord(analysed(sparse), reference)) << "fill " << std::hex << int{fill};
    }
}

TEST(AnalyseFrame, leaves_the_padding_inside_the_recording_time_as_it_was)
{
    // Records are compared byte for byte; mktime must not carry bytes of its stack into them.
    const ScopedTimeZone zone{kUtc};
    DVFrameInfo info;
    std::memset(&info, 0xA5, sizeof info);
    const auto frame = fullPalFrame();
    AnalyseFrame(frame.span(), frame.system(), info);
    ASSERT_EQ(info.tmRecorded.tm_year, 104);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info.tmRecorded);
    const std::size_t paddingStart = offsetof(std::tm, tm_isdst) + sizeof info.tmRecorded.tm_isdst;
    for (std::size_t i = paddingStart; i < offsetof(std::tm, tm_gmtoff); ++i) EXPECT_EQ(bytes[i], 0xA5) << i;
}

TEST(FrameRecord, tells_a_never_analysed_record)
{
    EXPECT_TRUE(isNeverAnalysed(DVFrameInfo{}));
    DVFrameInfo emptyFrame{};
    AnalyseFrame(SyntheticDvFrame::pal().span(), VideoSystem::Pal625_50, emptyFrame);
    EXPECT_FALSE(isNeverAnalysed(emptyFrame));
    DVFrameInfo oneField{};
    oneField.tmRecorded.tm_isdst = 1;
    EXPECT_FALSE(isNeverAnalysed(oneField));
    DVFrameInfo lastByte{};
    lastByte.szExposure[31] = 'x';
    EXPECT_FALSE(isNeverAnalysed(lastByte));
}

}  // namespace
}  // namespace vantrel::dv
