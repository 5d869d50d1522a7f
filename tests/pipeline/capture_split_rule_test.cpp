// SPDX-License-Identifier: GPL-3.0-or-later
// Where a recording splits: clock jumps over the scene gap, frames without a date, full files.
#include "pipeline/capture_split_rule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vantrel::pipeline {
namespace {

constexpr std::int64_t kNoDate = -1;
constexpr std::int64_t t0 = 1089828189;  // 14 July 2004 18:03:09 UTC

TEST(SplitRule, cuts_where_the_clock_jumps_beyond_the_gap)
{
    struct Case {
        const char* name;
        std::int32_t sceneGapSeconds;
        std::vector<std::int64_t> recordingTimes;
        std::vector<std::int64_t> expectedJumps;
        std::vector<bool> expectedCuts;
    };
    const std::vector<Case> cases = {
        {"steady clock", 1, {t0, t0, t0 + 1, t0 + 1, t0 + 2}, {0, 0, 1, 0, 1}, {0, 0, 0, 0, 0}},
        {"backwards jump counts", 1, {t0 + 100, t0}, {0, 100}, {0, 1}},
        {"undated frames never cut", 1, {t0, kNoDate, kNoDate, t0 + 1}, {0, 0, 0, 1}, {0, 0, 0, 0}},
        {"next date compared with last dated", 1, {t0, kNoDate, t0 + 60}, {0, 0, 60}, {0, 0, 1}},
        {"first dated after undated start", 1, {kNoDate, kNoDate, t0, t0 + 5}, {0, 0, 0, 5}, {0, 0, 0, 1}},
        {"gap 0 never cuts", 0, {t0, t0 + 3600}, {0, 3600}, {0, 0}},
        {"negative gap never cuts", -5, {t0, t0 + 3600}, {0, 3600}, {0, 0}},
        {"jump equal to gap is no cut", 10, {t0, t0 + 10, t0 + 21}, {0, 10, 11}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureSplitRule rule(90000, c.sceneGapSeconds);
        for (std::size_t i = 0; i < c.recordingTimes.size(); ++i) {
            const std::int64_t jump = rule.takeRecordingTime(c.recordingTimes[i]);
            EXPECT_EQ(jump, c.expectedJumps.at(i)) << "frame " << i;
            EXPECT_EQ(rule.isSceneCut(jump), bool(c.expectedCuts.at(i))) << "frame " << i;
        }
    }
}

TEST(SplitRule, file_is_full_at_frames_per_file)
{
    struct Case {
        std::int32_t framesPerFile;
        std::int64_t framesInFile;
        bool isFull;
    };
    const std::vector<Case> cases = {
        {100, 99, false}, {100, 100, true}, {100, 101, true}, {90000, 89999, false}, {90000, 90000, true},
        {0, 0, false},  {0, 1, true},  // a file holds at least one frame
    };
    for (const Case& c : cases) {
        const CaptureSplitRule rule(c.framesPerFile, 1);
        EXPECT_EQ(rule.isFileFull(c.framesInFile), c.isFull) << c.framesPerFile << " " << c.framesInFile;
        EXPECT_EQ(rule.startsNewFile(c.framesInFile, 0), c.isFull);
        EXPECT_TRUE(rule.startsNewFile(0, 2));
    }
}

}  // namespace
}  // namespace vantrel::pipeline
