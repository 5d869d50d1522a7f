// SPDX-License-Identifier: GPL-3.0-or-later
// The writing side of the bridge: blocks become buffers copied once, stamped on the holder's own
// clock, bounded by the buffer pool, with and without the queue thread.
#include "job_test_support.h"
#include "mediagraph/gst_handles.h"
#include "mediagraph/virtual_tape_fixtures.h"
#include "pipeline/output_filter_graph.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::Completion;

const CMediaType kDvType{"video/x-dv, systemstream=(boolean)true", 144000};

struct CollectedBuffer {
    std::vector<std::byte> bytes;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    GstClockTime duration = GST_CLOCK_TIME_NONE;
};

// COutputFilterGraph ! fakesink, keeping every buffer that reaches the fakesink.
class CollectedWritingGraph : public COutputFilterGraph {
public:
    explicit CollectedWritingGraph(long bufferCount, bool isSinkSync = false) : COutputFilterGraph(kDvType, bufferCount)
    {
        GstElement* sink = AddElement("fakesink", "collector");
        g_object_set(sink, "sync", isSinkSync ? TRUE : FALSE, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(sink, "handoff", G_CALLBACK(&CollectedWritingGraph::onHandoff), this);
        Link(OutputElement(), sink);
    }
    ~CollectedWritingGraph() override { CDShowGraph::Stop(); }
    std::vector<CollectedBuffer> buffers() const
    {
        std::lock_guard lock(m_mutex);
        return m_buffers;
    }

private:
    static void onHandoff(GstElement*, GstBuffer* buffer, GstPad*, CollectedWritingGraph* self)
    {
        mediagraph::MappedBuffer map{buffer, GST_MAP_READ};
        std::lock_guard lock(self->m_mutex);
        self->m_buffers.push_back({{map.bytes().begin(), map.bytes().end()}, GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer)});
    }

    mutable std::mutex m_mutex;
    std::vector<CollectedBuffer> m_buffers;
};

// A frame longer than the buffers is cut to their size; a shorter (NTSC) one stays whole.
TEST(OutputFilterGraph, frames_arrive_bit_exact_and_stamped_on_the_holders_own_clock)
{
    EXPECT_EQ(COutputFilterGraph(CMediaType{kDvType.caps, 0}, 0).BufferBytes(), 144000u) << "at least a PAL frame";
    auto frames = testsupport::numberedFrames(dv::VideoSystem::Pal625_50, 6);
    std::vector<std::byte> tooLong = frames[5];
    tooLong.resize(150000, std::byte{0x77});
    frames.push_back(testsupport::numberedFrame(dv::VideoSystem::Ntsc525_60, 6));
    const REFERENCE_TIME durations[] = {400'000, 0, 400'000, 333'667, 400'000, 400'000, 333'667};
    const GstClockTime expectedPts[] = {0, GST_CLOCK_TIME_NONE, 40'000'000, 80'000'000, 113'366'700, 153'366'700, 193'366'700};
    for (const long bufferCount : {0L, 10L}) {
        CollectedWritingGraph graph(bufferCount);
        graph.Run();
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const auto& frame = i == 5 ? tooLong : frames[i];
            graph.Deliver(durations[i], frame.data(), static_cast<long>(frame.size()));
        }
        graph.Deliver(-1, nullptr, 0);  // end of stream from a reading side: not forwarded
        EXPECT_EQ(graph.WaitForCompletion(200ms), Completion::TimedOut) << "count " << bufferCount;
        graph.DeliverEndOfStream();
        ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished) << "count " << bufferCount;

        const auto buffers = graph.buffers();
        ASSERT_EQ(buffers.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_TRUE(buffers[i].bytes == frames[i]) << "frame " << i << " count " << bufferCount;
            EXPECT_EQ(buffers[i].pts, expectedPts[i]) << "frame " << i;
            const GstClockTime expectedDuration =
                durations[i] == 0 ? GST_CLOCK_TIME_NONE : static_cast<GstClockTime>(durations[i]) * 100;
            EXPECT_EQ(buffers[i].duration, expectedDuration) << "frame " << i;
        }
        EXPECT_EQ(graph.CurrentTime(), 2'267'334) << "the zero-duration frame did not move the clock";
    }
}

// A paused sync sink keeps the first frame as its preroll and nothing moves on: the caller gets
// as many buffers as the pool holds (the queue's and three more), then waits for one, until the
// graph stops.
TEST(OutputFilterGraph, caller_blocks_when_every_buffer_is_in_use_until_the_graph_stops)
{
    for (const long bufferCount : {0L, 10L}) {
        CollectedWritingGraph graph(bufferCount, true);
        graph.Pause();
        const auto poolBuffers = static_cast<std::uint32_t>(graph.PoolBufferCount());
        EXPECT_EQ(poolBuffers, std::max(bufferCount, 1L) + 2);
        std::atomic<std::uint32_t> delivered{0};
        std::jthread producer([&] {
            for (const auto& frame : testsupport::numberedFrames(dv::VideoSystem::Pal625_50, poolBuffers + 1)) {
                graph.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
                ++delivered;
            }
        });
        testing::waitUntil([&] { return delivered.load() >= poolBuffers; }, 10s);
        EXPECT_EQ(delivered.load(), poolBuffers) << "count " << bufferCount;  // one more: no wait; none: no buffer
        graph.Stop();
        producer.join();
        EXPECT_EQ(delivered.load(), poolBuffers + 1);
    }
}

// Printing to the virtual camcorder, which refuses frames of the other standard.
TEST(OutputFilterGraph, a_frame_the_camcorder_refuses_stops_printing_with_its_reason)
{
    const auto tape = testsupport::freshTestFolder() / "pal.dv";
    mediagraph::testing::writeRawTape(tape, mediagraph::testing::numberedFrames(dv::VideoSystem::Pal625_50, 3));
    testing::ScopedVirtualCamcorder camcorder(tape);
    COutputFilterGraph graph(CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes}, 10);
    graph.Link(graph.OutputElement(), graph.AddElement(camcorder.device()->MakeDvOutSink()));
    camcorder.camcorder().setMode(mediagraph::ED_MODE_RECORD);
    graph.Run();
    const char* kReason = "The virtual camcorder takes only whole DV frames of its tape's standard";
    // More frames than the pool holds: once the camcorder refuses, the caller must not wait for
    // buffers that will never come back; it gets the reason instead.
    const auto ntscFrames = mediagraph::testing::numberedFrames(dv::VideoSystem::Ntsc525_60, 3 * graph.PoolBufferCount());
    EXPECT_EQ(testing::graphErrorOf([&] {
                  for (const auto& frame : ntscFrames)
                      graph.Deliver(333'667, frame.data(), static_cast<long>(frame.size()));
              }),
              kReason);
    EXPECT_EQ(graph.WaitForCompletion(0ms), Completion::Failed);
    EXPECT_EQ(testing::graphErrorOf([&] { graph.ThrowIfFailed(); }), kReason) << "for the controlling thread";
    camcorder.camcorder().setMode(mediagraph::ED_MODE_STOP);
}

}  // namespace
}  // namespace vantrel::pipeline
