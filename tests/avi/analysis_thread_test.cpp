// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis thread and its frame store: every frame decoded once, never an empty record seen.
#include "avi/analysis_thread.h"
#include "avi/frame_store.h"
#include "avi/avi_test_files.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>

namespace vantrel::avi {
namespace {

using testsupport::SyntheticDvFrame;

std::string expectedTimeCode(int frame)
{
    char text[64];
    std::snprintf(text, sizeof text, "TimeCode 00:%02d:%02d   %02d", frame / 750, (frame / 25) % 30, frame % 25);
    return text;
}

// A file whose frame i carries time code 00:mm:ss ff = i and the recording second i % 60.
std::shared_ptr<const DvAvi> openFile(const std::string& name, int frames, bool isPal = true)
{
    testsupport::Frames content;
    for (int i = 0; i < frames; ++i) {
        auto frame = isPal ? SyntheticDvFrame::pal() : SyntheticDvFrame::ntsc();
        frame.withTimecode({0, i / 750, (i / 25) % 30, i % 25})
            .withRecordingDate({2004, 7, 14}, {18, 3, i % 60})
            .withCameraPack({.irisCode = 8, .gainCode = 4});
        content.push_back(frame.bytes());
    }
    const auto system = isPal ? dv::VideoSystem::Pal625_50 : dv::VideoSystem::Ntsc525_60;
    auto avi = OpenDVAvi(testsupport::writeTestFile(name, testsupport::writtenAvi(content, {.system = system})));
    if (!avi) throw std::runtime_error(avi.error());
    return std::make_shared<const DvAvi>(std::move(*avi));
}

void expectRecordOfFrame(const dv::DVFrameInfo& record, int frame)
{
    EXPECT_EQ(std::string(record.szTimeCode), expectedTimeCode(frame));
    EXPECT_EQ(record.tmRecorded.tm_sec, frame % 60);
    EXPECT_EQ(record.tmRecorded.tm_year, 104);
    EXPECT_EQ(record.nGain, 4);
    EXPECT_DOUBLE_EQ(record.dIris, 2.0);
}

TEST(AnalysisThread, record_not_yet_reached_is_decoded_on_demand)
{
    AnalysisThread analysis;
    analysis.start(openFile("analysis_on_demand.avi", 40));
    analysis.stop();  // stopped early: most records were never reached by the thread
    for (int i = 39; i >= 0; --i) {
        auto record = analysis.recordFor(static_cast<std::size_t>(i));
        ASSERT_TRUE(record) << i;
        ASSERT_FALSE(dv::isNeverAnalysed(*record)) << i;
        expectRecordOfFrame(*record, i);
    }
    EXPECT_EQ(analysis.framesDone(), 40u);
}

TEST(AnalysisThread, decodes_every_frame_and_another_file_replaces_the_records_of_the_first)
{
    AnalysisThread analysis;
    analysis.start(openFile("analysis_first.avi", 12));
    analysis.waitUntilFinished();
    EXPECT_EQ(analysis.framesDone(), 12u);
    EXPECT_EQ(analysis.readFailures(), 0u);
    analysis.start(openFile("analysis_second_ntsc.avi", 3, false));
    analysis.waitUntilFinished();
    EXPECT_EQ(analysis.frameCount(), 3u);
    EXPECT_EQ(analysis.framesDone(), 3u);
    for (int i = 0; i < 3; ++i) {
        auto record = analysis.recordFor(static_cast<std::size_t>(i));
        ASSERT_TRUE(record) << i;
        expectRecordOfFrame(*record, i);
    }
    EXPECT_FALSE(analysis.recordFor(5));
    EXPECT_FALSE(analysis.recordFor(89999));
}

TEST(AnalysisThread, restarting_while_running_never_lets_two_runs_write_at_once)
{
    const auto first = openFile("analysis_restart_a.avi", 30);
    const auto second = openFile("analysis_restart_b.avi", 20);
    AnalysisThread analysis;
    for (int round = 0; round < 10; ++round) {
        analysis.start(round % 2 == 0 ? first : second);
        auto record = analysis.recordFor(7);
        ASSERT_TRUE(record);
        expectRecordOfFrame(*record, 7);
    }
    analysis.waitUntilFinished();
    EXPECT_EQ(analysis.frameCount(), 20u);
    EXPECT_EQ(analysis.framesDone(), 20u);
}

TEST(AnalysisThread, records_read_while_the_thread_writes_are_always_complete)
{
    AnalysisThread analysis;
    const auto file = openFile("analysis_concurrent.avi", 60);
    analysis.start(file);
    std::mt19937 random(3);
    std::size_t lastProgress = 0;
    while (!analysis.isFinished()) {
        const auto progress = analysis.framesDone();
        ASSERT_GE(progress, lastProgress);
        lastProgress = progress;
        const auto frame = static_cast<int>(random() % 60);
        auto record = analysis.recordFor(static_cast<std::size_t>(frame));
        ASSERT_TRUE(record);
        expectRecordOfFrame(*record, frame);
    }
    EXPECT_EQ(analysis.framesDone(), 60u);
}

TEST(AnalysisThread, show_analysed_frame_formats_the_record_of_that_frame)
{
    AnalysisThread analysis;
    dv::InfoLineFormatter formatter;
    EXPECT_FALSE(analysis.ShowAnalysedFrame(0, formatter));  // no file yet
    analysis.start(openFile("analysis_show.avi", 5));
    ASSERT_TRUE(analysis.ShowAnalysedFrame(3, formatter));
    EXPECT_EQ(std::string(formatter.lines().line1).substr(0, 28), "14.07.2004 18:03:03 Frame 3 ");
    EXPECT_EQ(std::string(formatter.lines().timeCode), expectedTimeCode(3));
    EXPECT_FALSE(analysis.ShowAnalysedFrame(5, formatter));
    EXPECT_FALSE(analysis.ShowAnalysedFrame(-1, formatter));
}

TEST(FrameStore, holds_a_two_hour_tape_and_reuses_its_memory_for_shorter_files)
{
    FrameStore store;
    store.reset(180000);
    ASSERT_EQ(store.size(), 180000u);
    ASSERT_TRUE(store.tryClaim(179999));
    EXPECT_FALSE(store.tryClaim(179999));  // one writer per record
    EXPECT_FALSE(store.published(179999));  // claimed is not yet published
    store.claimedRecord(179999).nGain = 7;
    store.publish(179999);
    EXPECT_EQ(store.published(179999)->nGain, 7);
    EXPECT_FALSE(store.tryClaim(180000));

    const auto* before = &store.claimedRecord(0);
    store.reset(10);
    EXPECT_EQ(&store.claimedRecord(0), before);  // no new allocation for a shorter file
    EXPECT_EQ(store.size(), 10u);
    EXPECT_EQ(store.publishedCount(), 0u);
    EXPECT_FALSE(store.published(9));
    EXPECT_TRUE(store.tryClaim(9));
    EXPECT_TRUE(dv::isNeverAnalysed(store.claimedRecord(9)));
}

}  // namespace
}  // namespace vantrel::avi
