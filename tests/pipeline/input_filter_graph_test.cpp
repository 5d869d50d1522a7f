// SPDX-License-Identifier: GPL-3.0-or-later
// The reading side of the bridge: frames from a GStreamer source reach the frame sink intact, in
// order, with their durations, and errors thrown by the sink reach the controlling thread.
#include "job_test_support.h"
#include "support/test_frames.h"

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::Completion;

// A reading graph fed by an appsrc: the test plays the part of the capture device.
class PushedReadingGraph : public CInputFilterGraph {
public:
    PushedReadingGraph() : m_source(AddElement("appsrc", "source"))
    {
        mediagraph::GstMiniOwned<GstCaps> caps = mediagraph::adoptMini(gst_caps_from_string(kInterleavedDvCaps));
        g_object_set(m_source, "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
        Link(m_source, InputFilter());
    }

    // Frames `first`..`first + count - 1`, 40 ms each unless `durationsNs` names the last ones'
    // (GST_CLOCK_TIME_NONE: no duration), then the end of the stream.
    void pushAndEnd(std::uint32_t first, std::uint32_t count, const std::vector<GstClockTime>& durationsNs = {})
    {
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto frame = testsupport::numberedFrame(dv::VideoSystem::Pal625_50, first + i);
            GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
            GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(i) * 40 * GST_MSECOND;
            const std::size_t odd = static_cast<std::size_t>(i) - (count - durationsNs.size());
            GST_BUFFER_DURATION(buffer) = odd < durationsNs.size() ? durationsNs[odd] : 40 * GST_MSECOND;
            gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
        }
        gst_app_src_end_of_stream(GST_APP_SRC(m_source));
    }

private:
    GstElement* const m_source;
};

// A frame without a duration, or of zero, reaches the sink with duration zero. After Stop the sink
// is detached: a graph run again delivers to nobody.
TEST(InputFilterGraph, delivers_every_frame_bit_exact_and_in_order_with_its_duration_then_end_of_stream)
{
    PushedReadingGraph graph;
    testing::RecordingFrameSink sink;
    ASSERT_NE(graph.Start(&sink), mediagraph::StateChangeResult::Failure);
    constexpr std::uint32_t kFrames = 40;
    graph.pushAndEnd(0, kFrames, {GST_CLOCK_TIME_NONE, 0, 33'366'667});
    ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);

    const auto frames = sink.frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames + 1));
    const REFERENCE_TIME lastDurations[] = {0, 0, 333'666};
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        EXPECT_EQ(frames[i].duration, i < kFrames - 3 ? 400'000 : lastDurations[i - (kFrames - 3)]) << "frame " << i;
        EXPECT_TRUE(frames[i].bytes == testsupport::numberedFrame(dv::VideoSystem::Pal625_50, i)) << "frame " << i << " differs";
    }
    EXPECT_EQ(frames.back().duration, -1);
    EXPECT_FALSE(frames.back().hadData);

    graph.Stop();
    graph.Run();
    graph.pushAndEnd(kFrames, 1);
    EXPECT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);
    EXPECT_EQ(sink.frames().size(), frames.size()) << "a stopped graph still delivers to its old sink";
}

// A sink that fails on its third frame, as a job's sink does when a capture file cannot be written.
struct FailingSink : IFrameSink {
    void Deliver(REFERENCE_TIME, const std::byte* data, long) override
    {
        if (data != nullptr && ++calls == 3) {
            if (throwsGraphError)
                mediagraph::ThrowGraphError("Cannot write the capture file");
            throw std::runtime_error("out of disk space");
        }
    }
    bool throwsGraphError = false;
    std::atomic<int> calls{0};
};

TEST(InputFilterGraph, exception_in_the_sink_stops_streaming_and_reaches_the_controlling_thread)
{
    for (const bool throwsGraphError : {true, false}) {
        PushedReadingGraph graph;
        FailingSink sink;
        sink.throwsGraphError = throwsGraphError;
        graph.Start(&sink);
        graph.pushAndEnd(0, 10);
        ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Failed);
        EXPECT_EQ(sink.calls.load(), 3) << "streaming went on after the sink failed";
        const std::string error = testing::graphErrorOf([&] { graph.ThrowIfFailed(); });
        EXPECT_EQ(error, throwsGraphError ? "Cannot write the capture file" : "out of disk space");
        graph.Stop();
    }
}

}  // namespace
}  // namespace vantrel::pipeline
