// SPDX-License-Identifier: GPL-3.0-or-later
// The status bar's texts for each job state: phase, elapsed time, buffer usage.
#include "pipeline/job_status_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::pipeline {
namespace {

TEST(JobStatusText, phase_text_of_each_state)
{
    struct Case {
        JobState state;
        std::int32_t dropped;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {JOB_IDLE, 0, ""},
        {JOB_TAPE_PAUSED, 0, "Paused..."},
        {JOB_TAPE_RECORDING, 0, "Recording... "},
        {JOB_CAPTURE_PREVIEW, 7, "Paused... Press <Capture> for Capturing."},
        {JOB_CAPTURE_RECORDING, 3, "Capturing...  (3 frames dropped)"},
        {JOB_CAPTURE_RECORDING, 0, "Capturing...  (0 frames dropped)"},
        {JOB_CAPTURE_RECORDING, -1, "Capturing...  (-1 frames dropped)"},
        {JOB_FINISHED, 3, "Finished."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JobPhaseText(c.state, c.dropped), c.expected) << c.state;
    }
}

TEST(JobStatusText, elapsed_time_in_tenths)
{
    struct Case {
        JobState state;
        REFERENCE_TIME duration;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {JOB_CAPTURE_RECORDING, 37'234'000'000, "1:02:03.4"},
        {JOB_CAPTURE_RECORDING, 0, "0:00:00.0"},
        {JOB_TAPE_PAUSED, 0, "0:00:00.0"},
        {JOB_FINISHED, 999'999, "0:00:00.0"},  // truncated, not rounded
        {JOB_TAPE_RECORDING, 1'000'000, "0:00:00.1"},
        {JOB_CAPTURE_PREVIEW, 599'999'999, "0:00:59.9"},
        {JOB_CAPTURE_RECORDING, 432'000'000'000, "12:00:00.0"},
        {JOB_CAPTURE_RECORDING, 36'000'000'000 * 1000, "1000:00:00.0"},
        {JOB_CAPTURE_RECORDING, -1, ""},
        {JOB_IDLE, 10'000'000, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ElapsedTimeText(c.state, c.duration), c.expected) << c.duration;
    }
}

TEST(JobStatusText, buffer_usage_only_while_writing)
{
    struct Case {
        JobState state;
        std::int32_t count;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {JOB_CAPTURE_RECORDING, 500, " Using buffer:49.950050 %"},
        {JOB_TAPE_PAUSED, 1000, " Using buffer:99.900100 %"},
        {JOB_TAPE_RECORDING, 0, " Using buffer:0.000000 %"},
        {JOB_CAPTURE_PREVIEW, 500, ""},
        {JOB_FINISHED, 500, ""},
        {JOB_IDLE, 500, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BufferUsageText(c.state, c.count, 1001), c.expected) << c.state;
    }
}

TEST(JobStatusText, error_text)
{
    EXPECT_EQ(ErrorText("DV output not running"), "Error: DV output not running");
    EXPECT_EQ(ErrorText(std::string(2000, 'x')).size(), std::string("Error: ").size() + 1023);
}

}  // namespace
}  // namespace vantrel::pipeline
