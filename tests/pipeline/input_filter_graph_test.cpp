// SPDX-License-Identifier: GPL-3.0-or-later
// The reading side of the bridge: frames from a GStreamer source reach the frame sink intact, in
// order, with their durations, and errors thrown by the sink reach the controlling thread.
#include "bridge_test_support.h"
#include "pipeline/input_filter_graph.h"

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::CDShowException;
using mediagraph::Completion;
using mediagraph::GraphErrorKind;
using testing::distinctPalFrame;
using testing::RecordingFrameSink;

// A reading graph fed by an appsrc: the test plays the part of the capture device.
class PushedReadingGraph : public CInputFilterGraph {
public:
    PushedReadingGraph()
    {
        m_source = AddElement("appsrc", "source");
        mediagraph::GstMiniOwned<GstCaps> caps = mediagraph::adoptMini(gst_caps_from_string(kInterleavedDvCaps));
        g_object_set(m_source, "caps", caps.get(), "format", GST_FORMAT_TIME, nullptr);
        Link(m_source, InputFilter());
    }

    // durationNs GST_CLOCK_TIME_NONE leaves the buffer without a duration.
    void push(const std::vector<std::byte>& frame, GstClockTime ptsNs, GstClockTime durationNs)
    {
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GST_BUFFER_PTS(buffer) = ptsNs;
        GST_BUFFER_DURATION(buffer) = durationNs;
        gst_app_src_push_buffer(GST_APP_SRC(m_source), buffer);
    }
    void endOfStream() { gst_app_src_end_of_stream(GST_APP_SRC(m_source)); }

private:
    GstElement* m_source = nullptr;
};

// A frame without a duration, or of zero, reaches the sink with duration zero.
TEST(InputFilterGraph, delivers_every_frame_bit_exact_and_in_order_with_its_duration_then_end_of_stream)
{
    PushedReadingGraph graph;
    RecordingFrameSink sink;
    ASSERT_NE(graph.Start(&sink), mediagraph::StateChangeResult::Failure);
    const std::vector<GstClockTime> durationsNs = {GST_CLOCK_TIME_NONE, 0, 33'366'667};
    constexpr int kFrames = 40;
    for (int i = 0; i < kFrames; ++i) {
        const std::size_t odd = static_cast<std::size_t>(i) - (kFrames - durationsNs.size());
        graph.push(distinctPalFrame(i), static_cast<GstClockTime>(i) * 40 * GST_MSECOND,
                   odd < durationsNs.size() ? durationsNs[odd] : 40 * GST_MSECOND);
    }
    graph.endOfStream();
    ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);

    const auto frames = sink.frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames + 1));
    const REFERENCE_TIME lastDurations[] = {0, 0, 333'666};
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_EQ(frames[i].duration, i < kFrames - 3 ? 400'000 : lastDurations[i - (kFrames - 3)]) << "frame " << i;
        EXPECT_TRUE(frames[i].bytes == distinctPalFrame(i)) << "frame " << i << " differs";
    }
    EXPECT_EQ(frames.back().duration, -1);
    EXPECT_FALSE(frames.back().hadData);
    EXPECT_TRUE(frames.back().bytes.empty());
}

TEST(InputFilterGraph, stop_detaches_the_sink_after_the_graph_has_stopped)
{
    PushedReadingGraph graph;
    RecordingFrameSink sink;
    graph.Start(&sink);
    graph.push(distinctPalFrame(0), 0, 40 * GST_MSECOND);
    graph.endOfStream();
    ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);
    graph.Stop();
    const std::size_t deliveredBeforeRestart = sink.frames().size();
    graph.Run();  // runs again, but nobody is attached any more
    graph.push(distinctPalFrame(1), 0, 40 * GST_MSECOND);
    graph.endOfStream();
    EXPECT_EQ(graph.WaitForCompletion(5000ms), Completion::Finished);
    EXPECT_EQ(sink.frames().size(), deliveredBeforeRestart);
}

// A sink that fails on its n-th frame, as a job's sink does when a capture file cannot be written.
class FailingSink : public IFrameSink {
public:
    FailingSink(int failOnFrame, bool throwsGraphError) : m_failOnFrame(failOnFrame), m_throwsGraphError(throwsGraphError) {}
    void Deliver(REFERENCE_TIME, const std::byte* data, long) override
    {
        if (data == nullptr)
            return;
        if (++calls == m_failOnFrame) {
            if (m_throwsGraphError)
                mediagraph::ThrowGraphError("Cannot write the capture file");
            throw std::runtime_error("out of disk space");
        }
    }
    std::atomic<int> calls{0};

private:
    int m_failOnFrame;
    bool m_throwsGraphError;
};

TEST(InputFilterGraph, exception_in_the_sink_stops_streaming_and_reaches_the_controlling_thread)
{
    for (const bool throwsGraphError : {true, false}) {
        PushedReadingGraph graph;
        FailingSink sink(3, throwsGraphError);
        graph.Start(&sink);
        for (int i = 0; i < 10; ++i)
            graph.push(distinctPalFrame(i), static_cast<GstClockTime>(i) * 40 * GST_MSECOND, 40 * GST_MSECOND);
        graph.endOfStream();
        ASSERT_EQ(graph.WaitForCompletion(5000ms), Completion::Failed);
        EXPECT_EQ(sink.calls.load(), 3) << "streaming went on after the sink failed";
        try {
            graph.ThrowIfFailed();
            ADD_FAILURE() << "the error did not reach the controlling thread";
        } catch (const CDShowException& error) {
            EXPECT_EQ(error.kind(), GraphErrorKind::Graph);
            EXPECT_EQ(error.message(), throwsGraphError ? "Cannot write the capture file" : "out of disk space");
        }
        graph.Stop();
    }
}

TEST(InputFilterGraph, media_type_has_dv_caps_and_a_sample_size_raised_to_one_pal_frame_but_never_lowered)
{
    PushedReadingGraph graph;
    CMediaType type;
    graph.GetMediaType(&type);
    EXPECT_NE(type.caps.find("video/x-dv"), std::string::npos);
    EXPECT_EQ(type.sampleSize, 144000u);
    for (const auto& [given, expected] : {std::pair<std::uint32_t, std::uint32_t>{143999, 144000}, {288000, 288000}}) {
        type.sampleSize = given;
        applyMinimumSampleSize(type);
        EXPECT_EQ(type.sampleSize, expected) << given;
    }
}

}  // namespace
}  // namespace vantrel::pipeline
