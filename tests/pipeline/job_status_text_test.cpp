// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's texts for each job state: phase, elapsed time, buffer usage.
#include "pipeline/job_status_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::pipeline {
namespace {

TEST(JobStatusText, texts_of_each_state)
{
    struct Case {
        JobState state;
        std::int32_t dropped;
        REFERENCE_TIME duration;
        std::int32_t buffered;  // of 1001 slots
        JobStatus expected;
    };
    const std::vector<Case> cases = {
        {JOB_IDLE, 0, 10'000'000, 500, {"", "", ""}},
        {JOB_TAPE_PAUSED, 0, 0, 1000, {"Paused...", "0:00:00.0", " Using buffer:99.900100 %"}},
        {JOB_TAPE_RECORDING, 0, 1'000'000, 0, {"Recording... ", "0:00:00.1", " Using buffer:0.000000 %"}},
        {JOB_CAPTURE_PREVIEW, 7, 599'999'999, 500, {"Paused... Press <Capture> for Capturing.", "0:00:59.9", ""}},
        {JOB_CAPTURE_RECORDING, 3, 37'234'000'000, 500,
         {"Capturing...  (3 frames dropped)", "1:02:03.4", " Using buffer:49.950050 %"}},
        {JOB_CAPTURE_RECORDING, -1, 36'000'000'000'000, 0, {"Capturing...  (-1 frames dropped)", "1000:00:00.0", " Using buffer:0.000000 %"}},
        {JOB_CAPTURE_RECORDING, 0, -1, 0, {"Capturing...  (0 frames dropped)", "", " Using buffer:0.000000 %"}},
        {JOB_FINISHED, 3, 999'999, 500, {"Finished.", "0:00:00.0", ""}},  // tenths truncated, not rounded
    };
    for (const Case& c : cases) {
        const JobStatus status = MakeJobStatus(c.state, c.dropped, c.duration, c.buffered, 1001);
        EXPECT_EQ(status.phase, c.expected.phase) << c.state;
        EXPECT_EQ(status.elapsedTime, c.expected.elapsedTime) << c.duration;
        EXPECT_EQ(status.bufferUsage, c.expected.bufferUsage) << c.state << " " << c.buffered;
    }
    EXPECT_EQ(ErrorText("DV output not running"), "Error: DV output not running");
    EXPECT_EQ(ErrorText(std::string(2000, 'x')).size(), std::string("Error: ").size() + 1023);
}

}  // namespace
}  // namespace vantrel::pipeline
