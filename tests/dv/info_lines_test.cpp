// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel's text lines: a run of frames against the golden file, the no-date line, the
// remembered shutter, the panel hook and garbage records.
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <sstream>
#include <string>

namespace vantrel::dv {
namespace {

using testsupport::CameraPackFields;
using testsupport::SyntheticDvFrame;

// A run of real frames through one formatter, compared with tests/golden/dv_info_lines.txt: the
// three formats with their blanks, iris, gain in dB, the remembered shutter and the no-date line.
TEST(InfoLines, lines_of_a_run_of_frames_match_the_golden_file)
{
    const testsupport::ScopedTimeZone zone{testsupport::kUtc};
    const CameraPackFields wideOpen{.irisCode = 0x3F, .exposureMode = 5, .gainCode = 15, .whiteBalanceMode = 7,
                                    .lightSource = 31};
    const CameraPackFields oneShot{.irisCode = 0x0D, .exposureMode = 2, .gainCode = 1, .whiteBalanceMode = 2,
                                   .lightSource = 2, .isManualFocus = true};
    const SyntheticDvFrame frames[] = {
        SyntheticDvFrame::pal(),
        SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9}).withTimecode({0, 12, 31, 4})
            .withCameraPack(CameraPackFields{}).withShutterWord(0x0138),
        SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 10}).withTimecode({0, 12, 31, 5}),
        SyntheticDvFrame::ntsc().withRecordingDate({2049, 12, 31}, {23, 59, 59}).withTimecode({23, 59, 59, 29})
            .withCameraPack(wideOpen).withShutterWord(0xFFFE),
        SyntheticDvFrame::ntsc().withRecordingDate({1969, 12, 31}, {23, 59, 59}).withCameraPack(oneShot)
            .withShutterWord(0x80FF),
        SyntheticDvFrame::pal().withCameraPack(0x08, 0x40, 0x87, 0x00).withShutterWord(0x0001),
    };
    InfoLineFormatter formatter;
    std::ostringstream out;
    long frameNumber = 0;
    for (const auto& frame : frames) {
        DVFrameInfo info{};
        AnalyseFrame(frame.span(), frame.system(), info);
        const auto& lines = formatter.ShowFrameInfo(info, frameNumber);
        out << "frame " << frameNumber << '\n'
            << "[" << lines.line1 << "]\n[" << lines.line2 << "]\n[" << lines.line3 << "]\n[" << lines.timeCode << "]\n";
        frameNumber += 1000;
    }
    testsupport::expectMatchesGolden("dv_info_lines.txt", out.str());
}

// 5 March 2004 14:07:09, shutter 50.
DVFrameInfo exampleRecord()
{
    DVFrameInfo info{};
    info.dShutter = 50.0;
    auto& tm = info.tmRecorded;
    tm.tm_mday = 5;
    tm.tm_mon = 2;
    tm.tm_year = 104;
    tm.tm_hour = 14;
    tm.tm_min = 7;
    tm.tm_sec = 9;
    return info;
}

TEST(InfoLines, any_missing_date_field_gives_the_no_date_line)
{
    int std::tm::*const fields[] = {&std::tm::tm_mday, &std::tm::tm_mon, &std::tm::tm_year,
                                    &std::tm::tm_hour, &std::tm::tm_min, &std::tm::tm_sec};
    for (auto field : fields) {
        InfoLineFormatter formatter;
        auto info = exampleRecord();
        info.tmRecorded.*field = -1;
        EXPECT_STREQ(formatter.ShowFrameInfo(info, 1234).line1, "No recording date ! Frame 1234 Shutter 1/50 sec");
    }
    InfoLineFormatter formatter;
    auto info = exampleRecord();
    info.tmRecorded.tm_wday = -1;  // not a date field
    info.tmRecorded.tm_isdst = -1;
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 1).line1, "05.03.2004 14:07:09 Frame 1 Shutter 1/50 sec");
}

TEST(InfoLines, a_frame_without_shutter_shows_the_last_one_shown_truncated)
{
    InfoLineFormatter formatter;
    auto info = exampleRecord();
    info.dShutter = -1.0;
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 1).line1, "05.03.2004 14:07:09 Frame 1 Shutter 1/-- sec");
    EXPECT_EQ(formatter.lastShutter(), -1);
    info.dShutter = 99.9;  // truncated, not rounded
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 7).line1, "05.03.2004 14:07:09 Frame 7 Shutter 1/99 sec");
    info.dShutter = -1.0;
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 8).line1, "05.03.2004 14:07:09 Frame 8 Shutter 1/99 sec");
    EXPECT_EQ(formatter.lastShutter(), 99);
}

class CountingPanel : public IInfoPanel {
public:
    void drawInfoLines(const InfoLines& lines) override
    {
        ++draws;
        line1 = lines.line1;
    }
    int draws = 0;
    std::string line1;
};

TEST(InfoLines, hands_the_formatted_lines_to_the_panel)
{
    CountingPanel panel;
    InfoLineFormatter formatter(&panel);
    formatter.ShowFrameInfo(exampleRecord(), 1234);
    EXPECT_EQ(panel.draws, 1);
    EXPECT_EQ(panel.line1, "05.03.2004 14:07:09 Frame 1234 Shutter 1/50 sec");
    formatter.setPanel(nullptr);
    formatter.ShowFrameInfo(exampleRecord(), 1235);
    EXPECT_EQ(panel.draws, 1);
}

TEST(InfoLines, stays_inside_its_buffers_for_garbage_records)
{
    DVFrameInfo info;
    std::memset(&info, 'x', sizeof info);  // no text is terminated
    info.dShutter = 1e300;
    info.nGain = INT_MAX;
    info.dIris = -1e10;
    info.tmRecorded.tm_year = INT_MAX;
    info.tmRecorded.tm_mon = INT_MAX;
    InfoLineFormatter formatter;
    const auto& lines = formatter.ShowFrameInfo(info, LONG_MAX);
    EXPECT_LT(std::strlen(lines.line1), sizeof lines.line1);
    EXPECT_LT(std::strlen(lines.line2), sizeof lines.line2);
    EXPECT_LT(std::strlen(lines.line3), sizeof lines.line3);
    EXPECT_EQ(std::strlen(lines.timeCode), sizeof info.szTimeCode - 1);  // the last byte is the terminator
    EXPECT_EQ(formatter.lastShutter(), -1);  // a shutter no 32-bit integer holds counts as none
    EXPECT_NE(std::string(lines.line3).find("Gain 6442450938 dB"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::dv
