// SPDX-License-Identifier: GPL-3.0-or-later
// Analysing and formatting a frame allocates nothing: counted through the global operator new.
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"
#include "support/scoped_env.h"
#include "support/synthetic_dv_frame.h"

#include "support/allocation_counter.h"

#include <gtest/gtest.h>

namespace vantrel::dv {
namespace {

using testsupport::SyntheticDvFrame;

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
