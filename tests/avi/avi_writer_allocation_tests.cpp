// SPDX-License-Identifier: GPL-3.0-or-later
// Writing frames allocates nothing, across RIFF changes and audio rate changes: counted through the global operator new.
#include "avi/avi_writer.h"
#include "dv/dv_audio.h"
#include "support/synthetic_dv_frame.h"
#include "tests/dv/audio_test_media.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

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

std::vector<std::vector<std::byte>> framesWithTone(std::size_t count, std::uint32_t rateHz)
{
    std::vector<std::vector<std::byte>> frames;
    std::vector<std::int16_t> stereo;
    for (std::size_t i = 0; i < count; ++i) {
        auto bytes = testsupport::SyntheticDvFrame::pal().withTimecode({0, 0, 0, static_cast<int>(i)}).bytes();
        const std::size_t samples = dv::nominalAudioSamples(dv::VideoSystem::Pal625_50, rateHz, i);
        testmedia::fillTone(stereo, samples, 0, rateHz);
        EXPECT_TRUE(dv::encodeAudio(bytes, dv::VideoSystem::Pal625_50, rateHz, dv::AudioQuantisation::Linear16, stereo));
        frames.push_back(std::move(bytes));
    }
    return frames;
}

TEST(AviWriterMemory, writes_frames_across_riffs_and_rate_changes_without_allocating)
{
    auto frames = framesWithTone(10, 48000);
    for (auto& frame : framesWithTone(4, 32000)) frames.push_back(std::move(frame));
    const auto path = testmedia::testDataDir() / "no_allocation.avi";
    for (auto type : {DvAviType::Type1Interleaved, DvAviType::Type2Separate}) {
        auto writer = AviWriter::create(path, {type, dv::VideoSystem::Pal625_50, 700000});
        ASSERT_TRUE(writer);
        const long before = g_allocationCount.load();
        for (const auto& frame : frames) ASSERT_TRUE(writer->writeFrame(frame));
        const long allocations = g_allocationCount.load() - before;
        EXPECT_EQ(allocations, 0);
        EXPECT_GE(writer->riffCount(), 3u);
        // The counter does count: a refused frame builds its error message on the heap.
        const long beforeRefusal = g_allocationCount.load();
        EXPECT_FALSE(writer->writeFrame(std::span(frames[0]).first(1000)));
        EXPECT_GT(g_allocationCount.load(), beforeRefusal);
        ASSERT_TRUE(writer->finish());
    }
}

}  // namespace
}  // namespace vantrel::avi
