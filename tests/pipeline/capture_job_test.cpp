// SPDX-License-Identifier: GPL-3.0-or-later
// Capture jobs end to end: the virtual camcorder plays a generated tape into the job, which splits
// it into files at the clock's jumps and every N frames, named after the recording time.
#include "job_test_support.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vantrel::pipeline {
namespace {

using testing::Frame;

// The tape, made on first use, and its frames as our reader gives them. 350 PAL frames from 14 July
// 2004 18:03:09: the clock jumps 2 minutes at frame 130, one second in the middle of a second at
// frame 185 (a step of exactly 1 s: no cut), and a day at frame 260.
const std::string& tape()
{
    static const test::ScratchDir dir("capture-job-tape");
    static const std::string path = testing::generateTape(
        dir.file("tape.avi"), {"--frames", "350", "--start", "2004-07-14T18:03:09", "--jump", "130:+120", "--jump", "185:+1", "--jump", "260:+86400"});
    return path;
}

const std::vector<Frame>& tapeFrames()
{
    static const std::vector<Frame> frames = testing::readDvFrames(tape());
    return frames;
}

// Recording starts and stops only in their states: before a capture, a second start while
// recording and a stop in preview change nothing (and send the camcorder nothing).
TEST(CaptureJob, splits_names_and_keeps_every_frame)
{
    struct Case {
        const char* name;
        int type;
        std::int32_t frameStep;
        REFERENCE_TIME durationLimit;
        // Name, first tape frame, frames written (every step-th of the file's tape frames); in the
        // order they close, which is name order too.
        std::vector<std::tuple<std::string, std::size_t, std::size_t>> files;
        JobState endState;
    };
    const Case cases[] = {
        // Files fill with written frames only: with every third frame no file reaches 100.
        {"type 2, every third frame", 2, 3, 0,
         {{"cap.04-07-14_18-03.00.avi", 0, 44}, {"cap.04-07-14_18-05.00.avi", 130, 44}, {"cap.04-07-15_18-05.00.avi", 260, 30}},
         JOB_CAPTURE_RECORDING},
        // Five seconds are 125 frames: the 125th is written, then the job is finished.
        {"type 1, five seconds", 1, 1, 50'000'000,
         {{"cap.04-07-14_18-03.00.avi", 0, 100}, {"cap.04-07-14_18-03.01.avi", 100, 25}},
         JOB_FINISHED},
    };
    ASSERT_EQ(tapeFrames().size(), 350u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::ScopedTimeZone utc(testsupport::kUtc);
        const test::ScratchDir dir("capture-job");
        testing::ScopedVirtualCamcorder camcorder(tape());
        testing::RecordingJobObserver observer;

        CJobWnd job;
        job.SetJobObserver(&observer);
        job.SetFramesPerFile(100);
        job.SetType2Output(c.type == 2);
        job.SetFrameStep(c.frameStep);
        job.SetAutoDeviceControl(true);
        job.StartRecording(dir.file("cap"), "", 2, 0);
        EXPECT_EQ(job.GetState(), JOB_IDLE) << "no recording without a capture";
        job.StartCapture(camcorder.name());
        job.StopRecording();
        EXPECT_EQ(job.GetState(), JOB_CAPTURE_PREVIEW);
        EXPECT_EQ(camcorder.camcorder().mode(), mediagraph::ED_MODE_STOP) << "nothing sent outside recording";
        job.StartRecording(dir.file("cap"), "%y-%m-%d_%H-%M", 2, c.durationLimit);
        job.StartRecording(dir.file("other"), "", 2, 0);
        ASSERT_TRUE(testing::waitUntil([&] { return job.HasStreamEnded(); })) << "the end of the tape ends the stream";
        EXPECT_EQ(job.GetState(), c.endState);
        const REFERENCE_TIME expectedDuration = c.durationLimit != 0 ? c.durationLimit : 350 * 400'000;
        EXPECT_EQ(job.GetDuration(), expectedDuration);
        EXPECT_EQ(job.GetDroppedFrames(), 0);
        job.StopRecording();
        EXPECT_EQ(job.GetState(), c.endState == JOB_FINISHED ? JOB_FINISHED : JOB_CAPTURE_PREVIEW);
        EXPECT_EQ(job.GetDuration(), expectedDuration) << "the worker has ended: the last duration stays";
        job.StopJob();
        EXPECT_EQ(job.GetDuration(), -1);
        EXPECT_EQ(job.GetState(), JOB_IDLE);
        EXPECT_EQ(camcorder.camcorder().mode(), mediagraph::ED_MODE_STOP);

        std::vector<std::string> expectedNames;
        for (const auto& file : c.files)
            expectedNames.push_back(std::get<0>(file));
        EXPECT_EQ(testing::fileNamesIn(dir.path()), expectedNames) << "no working (~) file is left";
        std::vector<std::string> reported;
        for (const std::string& path : observer.closedFiles())
            reported.push_back(std::filesystem::path(path).filename().string());
        EXPECT_EQ(reported, expectedNames) << "files reported in the order they were closed";
        EXPECT_TRUE(observer.failures().empty());

        for (const auto& [name, firstTapeFrame, frameCount] : c.files) {
            const auto frames = testing::readDvFrames(dir.file(name));
            ASSERT_EQ(frames.size(), frameCount) << name;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const std::size_t tapeFrame = firstTapeFrame + i * static_cast<std::size_t>(c.frameStep);
                ASSERT_TRUE(frames[i] == tapeFrames()[tapeFrame]) << name << " frame " << i;
            }
            const auto opened = avi::OpenDVAvi(dir.file(name));
            ASSERT_TRUE(opened);
            EXPECT_EQ(opened->streamInfo().fccType, avi::makeFourCC(c.type == 2 ? "vids" : "iavs")) << name;
        }
    }
}

TEST(CaptureJob, frames_the_camcorder_loses_are_counted_and_the_rest_kept_in_order)
{
    const test::ScratchDir dir("capture-drops");
    testing::ScopedVirtualCamcorder camcorder(tape());
    camcorder.camcorder().dropEvery(7);
    testing::RecordingJobObserver observer;
    CJobWnd job;
    job.SetJobObserver(&observer);
    job.SetAutoDeviceControl(true);
    job.StartCapture(camcorder.name());
    job.StartRecording(dir.file("drops"), "", 2, 0);
    ASSERT_TRUE(testing::waitUntil([&] { return job.HasStreamEnded(); }));
    EXPECT_EQ(job.GetDroppedFrames(), 50);
    job.StopJob();
    EXPECT_EQ(job.GetDroppedFrames(), 0);

    std::size_t tapeIndex = 0;
    std::size_t captured = 0;
    for (const std::string& file : observer.closedFiles()) {
        for (const Frame& frame : testing::readDvFrames(file)) {
            while (tapeIndex < tapeFrames().size() && tapeFrames()[tapeIndex] != frame)
                ++tapeIndex;
            ASSERT_LT(tapeIndex++, tapeFrames().size()) << "a captured frame not on the tape, or out of order";
            ++captured;
        }
    }
    EXPECT_EQ(captured, 300u);
}

}  // namespace
}  // namespace vantrel::pipeline
