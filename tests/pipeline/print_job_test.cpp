// SPDX-License-Identifier: GPL-3.0-or-later
// Print-to-tape jobs end to end: a file list goes to the virtual camcorder's tape, in order and
// without a gap; paused sends the first frame, finished the last; errors end the job cleanly.
#include "job_test_support.h"
#include "support/scratch_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <fstream>

namespace vantrel::pipeline {
namespace {

using testing::Frame;

std::vector<Frame> concatenated(const std::vector<std::string>& files)
{
    std::vector<Frame> frames;
    for (const std::string& file : files) {
        auto more = testing::readDvFrames(file);
        frames.insert(frames.end(), more.begin(), more.end());
    }
    return frames;
}

// The clips the print tests take their lists from, made on first use: each has its own start date
// and time code, so that no frame of one equals a frame of another.
std::string clip(const std::string& name)
{
    static const test::ScratchDir dir("print-clips");
    static const bool isMade = [] {
        std::filesystem::create_directories(dir.path() / "clips" / "folder.avi");  // a folder is no file
        const std::pair<const char*, std::vector<std::string>> clips[] = {
            {"plain.avi", {"--type", "1", "--frames", "20"}},
            {"clips/b1.avi", {"--type", "1", "--frames", "10"}},
            {"clips/B2.avi", {"--type", "2", "--frames", "15"}},  // sorts after b1 without regard to case
            {"clips/[a].avi", {"--type", "1", "--frames", "5"}},  // "[" sorts before the letters
            {"raw.dv", {"--format", "dv", "--frames", "12"}},
            {"long.avi", {"--type", "2", "--frames", "160"}},
        };
        int minute = 10;
        for (auto [name, options] : clips) {
            const std::string at = std::to_string(minute++);
            options.insert(options.end(), {"--timecode", "00:" + at + ":00:00", "--start", "2005-12-04T20:" + at + ":00"});
            testing::generateTape(dir.file(name), options);
        }
        std::ofstream(dir.file("bad.avi")) << "RIFF this is no AVI file at all";
        return true;
    }();
    EXPECT_TRUE(isMade);
    return dir.file(name);
}

// Without device control the camcorder records all it gets: copies of the first frame while the
// job is paused, the list in order without a gap, then copies of the last frame. The list's items
// keep their order, blank ones left out, a name with brackets taken as it is, a pattern's matches
// sorted without regard to case. A later file that cannot be read ends the job after the good ones,
// reported before the job says it has finished.
TEST(PrintJob, list_reaches_the_tape_in_order_between_copies_of_the_first_and_the_last_frame)
{
    const test::ScratchDir dir("print-list");
    const std::vector<Frame> expected =
        concatenated({clip("plain.avi"), clip("clips/[a].avi"), clip("clips/[a].avi"), clip("clips/b1.avi"),
                      clip("clips/B2.avi"), clip("raw.dv")});
    const std::string tape = dir.file("blank-tape.dv");
    ASSERT_TRUE(testsupport::writeBytes(tape, {}));
    testing::ScopedVirtualCamcorder camcorder(tape);
    mediagraph::CVirtualCamcorder& device = camcorder.camcorder();
    device.setMode(mediagraph::ED_MODE_RECORD);
    testing::RecordingJobObserver observer;
    CJobWnd job;
    job.SetJobObserver(&observer);
    observer.watch(&job);
    job.StartPrintToTape("  " + clip("plain.avi") + " |   | " + clip("clips/[a].avi") + "|" + clip("clips/*.avi") + "\t|" +
                             clip("raw.dv") + "|" + clip("bad.avi"),
                         camcorder.name());
    ASSERT_TRUE(testing::waitUntil([&] { return device.framesRecorded() >= 30; }));
    EXPECT_EQ(job.GetState(), JOB_TAPE_PAUSED);
    job.ResumeTapeRecording();
    ASSERT_TRUE(testing::waitUntil([&] { return job.GetState() == JOB_FINISHED; }));
    EXPECT_EQ(job.GetDuration(), 67 * 400'000);
    ASSERT_EQ(observer.failures().size(), 1u);
    EXPECT_NE(observer.failures().front().find("bad.avi"), std::string::npos) << observer.failures().front();
    EXPECT_FALSE(observer.failures().front().starts_with(observer.kAfterFinished)) << "seen finished before the failure";
    const std::uint64_t recordedAtEnd = device.framesRecorded();
    ASSERT_TRUE(testing::waitUntil([&] { return device.framesRecorded() >= recordedAtEnd + 20; }))
        << "finished keeps sending the last frame";
    job.StopJob();
    EXPECT_EQ(device.mode(), mediagraph::ED_MODE_RECORD) << "no transport command without device control";
    device.setMode(mediagraph::ED_MODE_STOP);
    const std::vector<Frame> recorded = testing::readRawDvFrames(tape);
    ASSERT_GE(recorded.size(), 30u);
    EXPECT_TRUE(recorded[29] == expected.front()) << "the first frame while paused";
    EXPECT_GE(testing::expectPrintedInOrder(recorded, expected), 20u);
}

// Pausing mid-list under automatic device control: the frames already queued towards the
// camcorder must reach the tape before it pauses, so every list frame is on the tape once, in
// order. Only the frame current at a pause (and the first and last, sent while held) may repeat.
// The camcorder holds its intake over each pause, so frames are queued when the pause comes.
TEST(PrintJob, pausing_and_resuming_loses_no_frame_of_the_list)
{
    const std::vector<std::uint64_t> pauseAfterRecorded = {8, 70};  // once this many frames are on tape
    const std::vector<Frame> expected = concatenated({clip("long.avi"), clip("plain.avi"), clip("raw.dv")});
    const test::ScratchDir dir("print-pause");
    const std::string tape = dir.file("blank-tape.dv");
    ASSERT_TRUE(testsupport::writeBytes(tape, {}));
    testing::ScopedVirtualCamcorder camcorder(tape);
    mediagraph::CVirtualCamcorder& device = camcorder.camcorder();
    CJobWnd job;
    job.SetAutoDeviceControl(true);
    job.StartPrintToTape(clip("long.avi") + "|" + clip("plain.avi") + "|" + clip("raw.dv"), camcorder.name());
    job.ResumeTapeRecording();
    for (const std::uint64_t point : pauseAfterRecorded) {
        ASSERT_TRUE(testing::waitUntil([&] { return device.framesRecorded() >= point; }));
        const std::uint64_t atHold = device.framesReceived();  // read first: a frame counted now may wait
        device.holdIntake(true);
        const std::shared_ptr<void> releaseOnFailure(nullptr, [&](void*) { device.holdIntake(false); });
        ASSERT_TRUE(testing::waitUntil([&] { return device.framesReceived() > atHold; })) << "a frame waits at the input";
        auto pause = std::async(std::launch::async, [&] { job.PauseTapeRecording(); });
        ASSERT_TRUE(testing::waitUntil([&] { return job.GetState() == JOB_TAPE_PAUSED; }))
            << "the list ended before the pause, state " << job.GetState();
        // A pause that does not wait for the queue sends record-pause now; the held frames must meet it.
        testing::waitUntil([&] { return device.mode() == mediagraph::ED_MODE_RECORD_FREEZE; }, std::chrono::milliseconds(100));
        device.holdIntake(false);
        pause.get();
        EXPECT_EQ(device.mode(), mediagraph::ED_MODE_RECORD_FREEZE);
        // Twice the output queue arrives while paused: whatever was queued at the pause is past.
        const std::uint64_t received = device.framesReceived();
        ASSERT_TRUE(testing::waitUntil([&] { return device.framesReceived() >= received + 20; }));
        job.ResumeTapeRecording();
        EXPECT_EQ(device.mode(), mediagraph::ED_MODE_RECORD);
    }
    ASSERT_TRUE(testing::waitUntil([&] { return job.GetState() == JOB_FINISHED; }));
    EXPECT_EQ(job.GetDuration(), static_cast<REFERENCE_TIME>(expected.size()) * 400'000) << "paused time counts nothing";
    const std::uint64_t atEnd = device.framesRecorded();
    ASSERT_TRUE(testing::waitUntil([&] { return device.framesRecorded() >= atEnd + 12; }));
    job.StopJob();
    EXPECT_EQ(device.mode(), mediagraph::ED_MODE_STOP);

    std::vector<Frame> recorded = testing::readRawDvFrames(tape);
    std::size_t repeatedFrames = 0;
    for (std::size_t i = 1; i < recorded.size(); ++i)
        repeatedFrames += recorded[i] == recorded[i - 1] && (i < 2 || recorded[i - 1] != recorded[i - 2]) ? 1 : 0;
    EXPECT_LE(repeatedFrames, 2 + pauseAfterRecorded.size()) << "repeats only where the job was held";
    recorded.erase(std::unique(recorded.begin(), recorded.end()), recorded.end());
    ASSERT_EQ(recorded.size(), expected.size()) << "every list frame once, no other frame";
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_TRUE(recorded[i] == expected[i]) << "tape frame " << i << " is not list frame " << i;
}

TEST(PrintJob, start_errors_name_what_is_missing)
{
    const test::ScratchDir dir("print-errors");
    testing::ScopedVirtualCamcorder camcorder(clip("raw.dv"));  // no job gets as far as the camcorder
    struct Case {
        std::string list;
        std::string device;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {" |  | \t", camcorder.name(), "No file selected"},
        {clip("raw.dv") + " |  " + dir.file("missing.avi") + " ", camcorder.name(), dir.file("missing.avi") + ": file not found"},
        {dir.file("*.mov"), camcorder.name(), dir.file("*.mov") + ": file not found"},
        {clip("raw.dv"), "Virtual DV camcorder (elsewhere)", "Device not found"},
    };
    for (const Case& c : cases) {
        CJobWnd job;
        EXPECT_EQ(testing::graphErrorOf([&] { job.StartPrintToTape(c.list, c.device); }), c.expected) << c.list;
        job.StopJob();
        EXPECT_EQ(job.GetState(), JOB_IDLE);
    }
}

}  // namespace
}  // namespace vantrel::pipeline
