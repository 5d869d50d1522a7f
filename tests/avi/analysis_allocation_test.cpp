// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and analysing frames allocates nothing per frame: counted through the global operator new.
#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "avi/test_avi_builder.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> g_allocationCount{0};
}

// The replacement pair below allocates with malloc and frees with free, which GCC cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    g_allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace vantrel::avi {
namespace {

std::shared_ptr<const DvAvi> openFile(const std::string& name, int frames)
{
    testsupport::TestAviOptions options;
    options.index = testsupport::TestIndex::OpenDml;
    testsupport::TestAviBuilder builder(options);
    for (int i = 0; i < frames; ++i) {
        builder.addFrame(testsupport::SyntheticDvFrame::pal().withTimecode({0, 0, i / 25, i % 25}).bytes());
        if (i % 8 == 7) builder.startExtensionForm();
    }
    auto avi = OpenDVAvi(testsupport::writeTestFile(name, builder.finish()));
    if (!avi) throw std::runtime_error(avi.error());
    return std::make_shared<const DvAvi>(std::move(*avi));
}

TEST(AnalysisMemory, reads_every_frame_every_way_without_allocating)
{
    const auto file = openFile("no_allocation_reads.avi", 30);
    std::vector<std::byte> buffer(dv::kMaxFrameBytes);
    const long before = g_allocationCount.load();
    for (std::size_t i = 0; i < file->frameCount(); ++i) {
        ASSERT_TRUE(file->readFrame(i, buffer));
        ASSERT_TRUE(file->readMetadataBlocks(i, buffer));
        ASSERT_TRUE(file->readMetadataSpan(i, buffer));
    }
    EXPECT_EQ(g_allocationCount.load() - before, 0);
}

// A run allocates its thread and nothing per frame; a store large enough is reused.
TEST(AnalysisMemory, allocations_of_a_run_do_not_grow_with_its_frames)
{
    const auto shortFile = openFile("no_allocation_short.avi", 20);
    const auto longFile = openFile("no_allocation_long.avi", 60);
    AnalysisThread analysis;
    analysis.start(longFile);  // sizes the store once
    analysis.waitUntilFinished();

    auto allocationsOfRun = [&](const std::shared_ptr<const DvAvi>& file) {
        const long before = g_allocationCount.load();
        analysis.start(file);
        analysis.waitUntilFinished();
        return g_allocationCount.load() - before;
    };
    const long shortRun = allocationsOfRun(shortFile);
    const long longRun = allocationsOfRun(longFile);
    EXPECT_EQ(longRun, shortRun);
    EXPECT_LE(longRun, 4);
    EXPECT_EQ(analysis.framesDone(), 60u);
}

}  // namespace
}  // namespace vantrel::avi
