// SPDX-License-Identifier: GPL-3.0-or-later
// Reading, analysing and writing frames allocates nothing per frame: counted through the global operator new.
#include "avi/analysis_thread.h"
#include "avi/avi_test_files.h"
#include "avi/avi_writer.h"
#include "avi/dv_avi.h"
#include "dv/dv_audio.h"
#include "support/allocation_counter.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

namespace vantrel::avi {
namespace {

// Eight frames a RIFF: the reads cross OpenDML forms.
std::shared_ptr<const DvAvi> openFile(const std::string& name, int frames)
{
    return testsupport::openWritten(name, testsupport::palFrames(frames), {.maxRiffBytes = 1200000});
}

TEST(AnalysisMemory, frame_and_metadata_reads_allocate_nothing)
{
    const auto file = openFile("no_allocation_reads.avi", 40);
    std::vector<std::byte> buffer(dv::kMaxFrameBytes);
    const long beforeReads = testsupport::allocationCount();
    for (std::size_t i = 0; i < file->frameCount(); ++i) {
        ASSERT_TRUE(file->readFrame(i, buffer));
        ASSERT_TRUE(file->readMetadataBlocks(i, buffer));
    }
    EXPECT_EQ(testsupport::allocationCount() - beforeReads, 0);
}

// A run allocates its threads and nothing per frame (its batches included); a store large enough is reused.
TEST(AnalysisMemory, allocations_of_a_run_do_not_grow_with_its_frames)
{
    const auto shortFile = openFile("no_allocation_short.avi", 20);
    const auto longFile = openFile("no_allocation_long.avi", 60);
    AnalysisThread analysis;
    analysis.start(longFile);  // sizes the store once
    analysis.waitUntilFinished();

    auto allocationsOfRun = [&](const std::shared_ptr<const DvAvi>& file) {
        const long before = testsupport::allocationCount();
        analysis.start(file);
        analysis.waitUntilFinished();
        return testsupport::allocationCount() - before;
    };
    const long shortRun = allocationsOfRun(shortFile);
    const long longRun = allocationsOfRun(longFile);
    EXPECT_EQ(longRun, shortRun);
    EXPECT_LE(longRun, 8);  // the run's threads and their bookkeeping
    EXPECT_EQ(analysis.framesDone(), 60u);
}

TEST(AviWriterMemory, writes_frames_across_riffs_and_rate_changes_without_allocating)
{
    auto frames = testsupport::toneFrames(dv::VideoSystem::Pal625_50, 10, 48000);
    for (auto& frame : testsupport::toneFrames(dv::VideoSystem::Pal625_50, 4, 32000, 10)) frames.push_back(std::move(frame));
    const auto path = testsupport::testPath("no_allocation.avi");
    for (auto type : {DvAviType::Type1Interleaved, DvAviType::Type2Separate}) {
        auto writer = AviWriter::create(path, {type, dv::VideoSystem::Pal625_50, 700000});
        ASSERT_TRUE(writer);
        const long before = testsupport::allocationCount();
        for (const auto& frame : frames) ASSERT_TRUE(writer->writeFrame(frame));
        EXPECT_EQ(testsupport::allocationCount() - before, 0);
        // A frame of the wrong size is refused; the file goes on.
        EXPECT_EQ(writer->writeFrame(std::span(frames[0]).first(1000)).error().code, AviWriteErrorCode::InvalidFrame);
        ASSERT_TRUE(writer->finish());
        EXPECT_EQ(writer->finish().error().code, AviWriteErrorCode::NotWritable);
    }
}

}  // namespace
}  // namespace vantrel::avi
