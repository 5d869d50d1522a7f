// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel's text lines: a run of frames against the golden file (the no-date line among
// them) and the remembered shutter; analysing and formatting frames allocates nothing (counted
// through the global operator new). The panel and screenshot tests draw the lines; the frame
// analysis fuzzer keeps them inside their buffers.
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

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
                                    .whiteBalanceLight = 31};
    const CameraPackFields oneShot{.irisCode = 0x0D, .exposureMode = 2, .gainCode = 1, .whiteBalanceMode = 2,
                                   .whiteBalanceLight = 2, .focusByte = 0xFF};
    const SyntheticDvFrame frames[] = {
        SyntheticDvFrame::pal(),
        SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9}).withTimecode({0, 12, 31, 4})
            .withCameraPack({.irisCode = 0x08, .gainCode = 0}).withShutterWord(0x0138),
        SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 10}).withTimecode({0, 12, 31, 5}),
        SyntheticDvFrame::ntsc().withRecordingDate({2049, 12, 31}, {23, 59, 59}).withTimecode({23, 59, 59, 29})
            .withCameraPack(wideOpen).withShutterWord(0xFFFE),
        SyntheticDvFrame::ntsc().withRecordingDate({1969, 12, 31}, {23, 59, 59}).withCameraPack(oneShot)
            .withShutterWord(0x80FF),
        SyntheticDvFrame::pal()
            .withCameraPack({.irisCode = 0x08, .exposureMode = 4, .gainCode = 0, .whiteBalanceMode = 4,
                             .whiteBalanceLight = 7, .focusByte = 0x00})
            .withShutterWord(0x0001),
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

TEST(InfoLines, a_frame_without_shutter_shows_the_last_one_shown_truncated)
{
    InfoLineFormatter formatter;
    DVFrameInfo info{};
    info.tmRecorded = {9, 7, 14, 5, 2, 104, 0, 0, 0, 0, nullptr};  // 5 March 2004 14:07:09
    info.dShutter = -1.0;
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 1).line1, "05.03.2004 14:07:09 Frame 1 Shutter 1/-- sec");
    EXPECT_EQ(formatter.lastShutter(), -1);
    info.dShutter = 99.9;  // truncated, not rounded
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 7).line1, "05.03.2004 14:07:09 Frame 7 Shutter 1/99 sec");
    info.dShutter = -1.0;
    EXPECT_STREQ(formatter.ShowFrameInfo(info, 8).line1, "05.03.2004 14:07:09 Frame 8 Shutter 1/99 sec");
    EXPECT_EQ(formatter.lastShutter(), 99);
}

TEST(NoAllocation, analysing_and_formatting_frames_allocates_nothing)
{
    const testsupport::ScopedTimeZone zone{testsupport::kBerlin};
    const SyntheticDvFrame frames[] = {
        SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9}).withTimecode({0, 12, 31, 4})
            .withCameraPack(testsupport::CameraPackFields{}).withShutterWord(0x0138),
        SyntheticDvFrame::ntsc().withRecordingDate({1969, 1, 1}, {0, 0, 0}),
        SyntheticDvFrame::pal(),
    };
    DVFrameInfo info{};
    InfoLineFormatter formatter;
    AnalyseFrame(frames[0].span(), frames[0].system(), info);  // first mktime reads the zone rules
    const long before = testsupport::allocationCount();
    ASSERT_GT(before, 0) << "the counter sees the frames' own buffers";
    for (long n = 0; n < 300; ++n) {
        const auto& frame = frames[n % 3];
        AnalyseFrame(frame.span(), frame.system(), info, n);
        formatter.ShowFrameInfo(info, n);
        GetRecordingTime(frame.span());
        SequencesDecidingAnalysis(frame.span(), frame.system());
    }
    EXPECT_EQ(testsupport::allocationCount() - before, 0);
    EXPECT_STREQ(formatter.lines().line1, "No recording date ! Frame 299 Shutter 1/50 sec");
}

}  // namespace
}  // namespace vantrel::dv
