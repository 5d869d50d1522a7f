// SPDX-License-Identifier: GPL-3.0-or-later
// The writing side of the bridge: blocks become buffers copied once, stamped on the holder's own
// clock, bounded by the buffer pool, with and without the queue thread.
#include "bridge_test_support.h"
#include "pipeline/output_filter_graph.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::Completion;
using testing::Collector;
using testing::distinctPalFrame;

const CMediaType kDvType{"video/x-dv, systemstream=(boolean)true", 144000};

// COutputFilterGraph ! appsink, the appsink collecting what arrives.
class CollectedWritingGraph : public COutputFilterGraph {
public:
    CollectedWritingGraph(long bufferCount, bool isSinkSync = false) : COutputFilterGraph(kDvType, bufferCount)
    {
        GstElement* sink = AddElement("appsink", "collector");
        g_object_set(sink, "sync", isSinkSync ? TRUE : FALSE, nullptr);
        Link(OutputElement(), sink);
        collector.emplace(sink);
    }
    ~CollectedWritingGraph() override { CDShowGraph::Stop(); }

    std::optional<Collector> collector;
};

// Waits (10 s at most) until the count reaches `wanted`; the count then. A caller that should
// block at `wanted` and does not shows as more, soon or in the checks after.
int countOnceReached(const std::atomic<int>& count, int wanted)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (count.load() < wanted && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    return count.load();
}

TEST(OutputFilterGraph, frames_arrive_bit_exact_and_stamped_on_the_holders_own_clock)
{
    for (const long bufferCount : {0L, 10L}) {
        CollectedWritingGraph graph(bufferCount);
        graph.Run();
        const REFERENCE_TIME durations[] = {400'000, 0, 400'000, 333'667, 400'000};
        for (int i = 0; i < 5; ++i) {
            const auto frame = distinctPalFrame(i);
            graph.Deliver(durations[i], frame.data(), static_cast<long>(frame.size()));
        }
        graph.Deliver(-1, nullptr, 0);  // end of stream from a reading side: not forwarded
        EXPECT_EQ(graph.WaitForCompletion(200ms), Completion::TimedOut) << "count " << bufferCount;
        graph.DeliverEndOfStream();
        ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished) << "count " << bufferCount;

        const auto buffers = graph.collector->buffers();
        ASSERT_EQ(buffers.size(), 5u);
        const GstClockTime expectedPts[] = {0, GST_CLOCK_TIME_NONE, 40'000'000, 80'000'000, 113'366'700};
        for (int i = 0; i < 5; ++i) {
            EXPECT_TRUE(buffers[i].bytes == distinctPalFrame(i)) << "frame " << i << " count " << bufferCount;
            EXPECT_EQ(buffers[i].pts, expectedPts[i]) << "frame " << i;
            const GstClockTime expectedDuration =
                durations[i] == 0 ? GST_CLOCK_TIME_NONE : static_cast<GstClockTime>(durations[i]) * 100;
            EXPECT_EQ(buffers[i].duration, expectedDuration) << "frame " << i;
        }
        EXPECT_EQ(graph.CurrentTime(), 1'533'667) << "the zero-duration frame did not move the clock";
    }
}

TEST(OutputFilterGraph, buffers_hold_at_least_the_sample_size_and_longer_blocks_are_cut)
{
    COutputFilterGraph smallType(CMediaType{"video/x-dv, systemstream=(boolean)true", 0}, 0);
    EXPECT_EQ(smallType.BufferBytes(), 144000u);

    CollectedWritingGraph graph(0);
    EXPECT_EQ(graph.BufferBytes(), 144000u);
    graph.Run();
    std::vector<std::byte> tooLong(150000);
    for (std::size_t i = 0; i < tooLong.size(); ++i)
        tooLong[i] = static_cast<std::byte>(i * 31);
    graph.Deliver(400'000, tooLong.data(), static_cast<long>(tooLong.size()));
    const auto ntsc = std::vector<std::byte>(120000, std::byte{0x5a});
    graph.Deliver(333'667, ntsc.data(), static_cast<long>(ntsc.size()));
    graph.DeliverEndOfStream();
    ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);
    const auto buffers = graph.collector->buffers();
    ASSERT_EQ(buffers.size(), 2u);
    ASSERT_EQ(buffers[0].bytes.size(), 144000u);
    EXPECT_TRUE(std::equal(buffers[0].bytes.begin(), buffers[0].bytes.end(), tooLong.begin()));
    EXPECT_TRUE(buffers[1].bytes == ntsc);
}

TEST(OutputFilterGraph, caller_blocks_when_every_buffer_is_in_use)
{
    for (const long bufferCount : {0L, 10L}) {
        CollectedWritingGraph graph(bufferCount);
        graph.collector->hold();
        graph.Run();
        std::atomic<int> delivered{0};
        std::jthread producer([&] {
            for (int i = 0; i < 30; ++i) {
                const auto frame = distinctPalFrame(i);
                graph.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
                ++delivered;
            }
        });
        EXPECT_EQ(graph.PoolBufferCount(), static_cast<std::uint32_t>(std::max(bufferCount, 1L) + 2));
        const int deliveredWhileHeld = countOnceReached(delivered, static_cast<int>(graph.PoolBufferCount()));
        EXPECT_EQ(deliveredWhileHeld, static_cast<int>(graph.PoolBufferCount())) << "count " << bufferCount;
        graph.collector->release();
        producer.join();
        graph.DeliverEndOfStream();
        ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);
        const auto buffers = graph.collector->buffers();
        ASSERT_EQ(buffers.size(), 30u);
        for (int i = 0; i < 30; ++i)
            EXPECT_TRUE(buffers[i].bytes == distinctPalFrame(i)) << "frame " << i;
    }
}

TEST(OutputFilterGraph, stopping_the_graph_releases_a_caller_waiting_for_a_buffer)
{
    CollectedWritingGraph graph(0, true);
    graph.Pause();  // the sink keeps the first frame as its preroll, and nothing moves on
    const int poolBuffers = static_cast<int>(graph.PoolBufferCount());
    std::atomic<int> delivered{0};
    std::jthread producer([&] {
        for (int i = 0; i <= poolBuffers; ++i) {
            const auto frame = distinctPalFrame(i);
            graph.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
            ++delivered;
        }
    });
    EXPECT_EQ(countOnceReached(delivered, poolBuffers), poolBuffers);
    graph.Stop();
    producer.join();
    EXPECT_EQ(delivered.load(), poolBuffers + 1);
}

}  // namespace
}  // namespace vantrel::pipeline
