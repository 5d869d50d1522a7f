// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis thread and its frame store: every frame decoded once, never an empty record seen;
// its batched reads through io_uring or pread.
#include "avi/analysis_thread.h"
#include "avi/avi_test_files.h"
#include "avi/batch_reader.h"
#include "avi/frame_store.h"
#include "dv/pack_decoders.h"
#include "support/records.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

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
std::shared_ptr<const DvAvi> openFile(const std::string& name, int frames)
{
    testsupport::Frames content;
    for (int i = 0; i < frames; ++i) {
        auto frame = SyntheticDvFrame::pal();
        frame.withTimecode({0, i / 750, (i / 25) % 30, i % 25})
            .withRecordingDate({2004, 7, 14}, {18, 3, i % 60})
            .withCameraPack({.irisCode = 8, .gainCode = 4});
        content.push_back(frame.bytes());
    }
    return testsupport::openWritten(name, content);
}

void expectRecordOfFrame(const dv::DVFrameInfo& record, int frame)
{
    EXPECT_EQ(std::string(record.szTimeCode), expectedTimeCode(frame));
    EXPECT_EQ(record.tmRecorded.tm_sec, frame % 60);
    EXPECT_EQ(record.tmRecorded.tm_year, 104);
    EXPECT_EQ(record.nGain, 4);
    EXPECT_DOUBLE_EQ(record.dIris, 2.0);
}

// Each start replaces the run and the records of the file before, also one still being analysed.
TEST(AnalysisThread, another_file_replaces_the_records_and_two_runs_never_write_at_once)
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
    EXPECT_EQ(analysis.readFailures(), 0u);
    EXPECT_FALSE(analysis.recordFor(20));
}

// Records read while the thread writes are always whole; once it is stopped, records it never
// reached are decoded on demand.
TEST(AnalysisThread, records_are_whole_while_it_runs_and_decoded_on_demand_once_stopped)
{
    AnalysisThread analysis;
    dv::InfoLineFormatter formatter;
    EXPECT_FALSE(analysis.ShowAnalysedFrame(0, formatter));  // no file yet
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
    ASSERT_TRUE(analysis.ShowAnalysedFrame(3, formatter));
    EXPECT_EQ(std::string(formatter.lines().timeCode), expectedTimeCode(3));
    EXPECT_FALSE(analysis.ShowAnalysedFrame(60, formatter));
    EXPECT_FALSE(analysis.ShowAnalysedFrame(-1, formatter));

    analysis.start(file);
    analysis.stop();  // stopped early: most records were never reached by the thread
    for (int i = 59; i >= 0; --i) {
        auto record = analysis.recordFor(static_cast<std::size_t>(i));
        ASSERT_TRUE(record) << i;
        ASSERT_FALSE(dv::isNeverAnalysed(*record)) << i;
        expectRecordOfFrame(*record, i);
    }
    EXPECT_EQ(analysis.framesDone(), 60u);
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

constexpr dv::DVPack kDate{{0x62, 0xFF, 0xD4, 0xE7, 0x04}};  // 14.07.2004
constexpr dv::DVPack kTime{{0x63, 0xFF, 0x89, 0x83, 0xD8}};  // 18:03:09

// The record that reading the whole frame and analysing it gives.
dv::DVFrameInfo wholeFrameRecord(const DvAvi& file, std::size_t frameIndex)
{
    std::vector<std::byte> buffer(dv::kMaxFrameBytes);
    const auto read = file.readFrame(frameIndex, buffer);
    EXPECT_TRUE(read) << frameIndex;
    dv::DVFrameInfo record{};
    dv::AnalyseFrame(std::span<const std::byte>(buffer.data(), read ? *read : 0), file.videoSystem(), record,
                     static_cast<long>(frameIndex));
    return record;
}


struct ReadSetup {
    ReadBackend backend;
    std::size_t workers;
};

std::string setupName(const ReadSetup& setup)
{
    return std::string(setup.backend == ReadBackend::IoUring ? "io_uring_" : "pread_") + std::to_string(setup.workers) +
           "_workers";
}

void PrintTo(const ReadSetup& setup, std::ostream* out)
{
    *out << setupName(setup);
}

// The batched, partial reads give every frame the record a whole-frame read gives. Any pack
// layout against whole-frame analysis is the AVI fuzzer's property; these cases are the ones
// where the batches, the workers and the learnt sequence count meet. The setups run as separate
// tests at once: each writes its own files.
class AnalysisReads : public testing::TestWithParam<ReadSetup> {
protected:
    std::string fileName(const std::string& stem) const { return stem + "_" + setupName(GetParam()) + ".avi"; }
};

TEST_P(AnalysisReads, date_moving_to_later_sequences_after_a_run_of_early_ones_is_still_found)
{
    // Frames 0..99 carry everything in sequence 0, so the thread learns to read one sequence;
    // from frame 100 on the date and time come only in the last sequence.
    testsupport::Frames frames;
    for (int i = 0; i < 160; ++i) {
        auto frame = SyntheticDvFrame::pal();
        frame.withTimecode({0, 0, i / 25, i % 25}).withCameraPack({}).withShutterWord(0x0138);
        frame.withSubcodePack(i < 100 ? 0 : 11, 0, 1, kDate).withSubcodePack(i < 100 ? 0 : 11, 0, 2, kTime);
        frames.push_back(frame.bytes());
    }
    const auto file = testsupport::openWritten(fileName("analysis_reads_moving_date"), frames);
    AnalysisThread analysis(GetParam().backend, GetParam().workers);
    analysis.start(file);
    analysis.waitUntilFinished();
    for (std::size_t i = 0; i < 160; ++i) {
        const auto record = analysis.recordFor(i);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->tmRecorded.tm_year, 104) << i;
        EXPECT_EQ(record->tmRecorded.tm_hour, 18) << i;
    }
}

TEST_P(AnalysisReads, frames_cut_off_after_opening_count_as_failures_and_repeat_the_last_record)
{
    // Cut inside a batch and on a batch's first frame: the record to repeat lies in the same
    // batch or in one that another worker may have read.
    for (const std::size_t firstCut : {std::size_t{75}, std::size_t{80}}) {
        const auto file = testsupport::openWritten(fileName("analysis_reads_cut"), testsupport::palFrames(120));
        std::filesystem::resize_file(testsupport::testPath(fileName("analysis_reads_cut")), file->reader().sample(file->streamIndex(), firstCut).offsetBytes);
        const auto lastReadable = wholeFrameRecord(*file, firstCut - 1);
        AnalysisThread analysis(GetParam().backend, GetParam().workers);
        // Which worker reads which batch changes from run to run: several runs.
        for (int run = 0; run < 6; ++run) {
            analysis.start(file);
            analysis.waitUntilFinished();
            EXPECT_EQ(analysis.framesDone(), 120u);
            EXPECT_EQ(analysis.readFailures(), 120u - firstCut);
            for (std::size_t i = firstCut - 1; i < 120; ++i) {
                const auto record = analysis.recordFor(i);
                ASSERT_TRUE(record);
                ASSERT_TRUE(testsupport::sameRecord(*record, lastReadable)) << "cut at " << firstCut << ", frame " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Setups, AnalysisReads,
                         testing::Values(ReadSetup{ReadBackend::IoUring, 1}, ReadSetup{ReadBackend::IoUring, 2},
                                         ReadSetup{ReadBackend::Pread, 1}, ReadSetup{ReadBackend::Pread, 2}),
                         [](const auto& info) { return setupName(info.param); });

}  // namespace
}  // namespace vantrel::avi
