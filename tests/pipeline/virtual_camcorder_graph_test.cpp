// SPDX-License-Identifier: GPL-3.0-or-later
// Capture from and print to the virtual camcorder through the bridge filters, found by name in the
// device list and driven by transport commands, as the capture and print jobs use it.
#include "job_test_support.h"
#include "mediagraph/device_control.h"
#include "mediagraph/virtual_tape_fixtures.h"
#include "pipeline/output_filter_graph.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::CDeviceControl;
using mediagraph::Completion;
using mediagraph::testing::numberedFrames;

// The print jobs' capture tapes are PAL: an NTSC tape of either AVI type plays every frame,
// stamped with its NTSC duration, then the end of the stream.
TEST(VirtualCamcorderGraphs, captures_every_frame_of_ntsc_avi_tapes_bit_exact_and_in_order)
{
    const auto folder = testsupport::freshTestFolder();
    const auto frames = numberedFrames(dv::VideoSystem::Ntsc525_60, 30);
    for (const auto type : {avi::DvAviType::Type1Interleaved, avi::DvAviType::Type2Separate}) {
        const auto tape = folder / (type == avi::DvAviType::Type1Interleaved ? "type1.avi" : "type2.avi");
        mediagraph::testing::writeAviTape(tape, frames, type, dv::VideoSystem::Ntsc525_60);
        testing::ScopedVirtualCamcorder camcorder(tape);
        ASSERT_NE(camcorder.device(), nullptr);
        testing::DeviceCaptureGraph graph(*camcorder.device());
        testing::RecordingFrameSink sink;
        ASSERT_NE(graph.Start(&sink), mediagraph::StateChangeResult::Failure);
        CDeviceControl control;
        ASSERT_TRUE(control.Attach(camcorder.device()));
        control.Play();
        EXPECT_EQ(graph.WaitForCompletion(20s), Completion::Finished) << "the end of the tape ends the stream";
        graph.Stop();
        const auto delivered = sink.frames();
        ASSERT_EQ(delivered.size(), frames.size() + 1) << tape;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_TRUE(delivered[i].bytes == frames[i]) << tape << " frame " << i;
            EXPECT_EQ(delivered[i].duration, 333'667);
        }
        EXPECT_EQ(delivered.back().duration, -1);
        EXPECT_EQ(camcorder.device()->DroppedFrames(), 0);
    }
}

TEST(VirtualCamcorderGraphs, a_frame_the_tape_cannot_take_stops_printing_with_its_reason)
{
    const auto tape = testsupport::freshTestFolder() / "pal.dv";
    mediagraph::testing::writeRawTape(tape, numberedFrames(dv::VideoSystem::Pal625_50, 3));
    testing::ScopedVirtualCamcorder camcorder(tape);
    COutputFilterGraph graph(CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes}, 10);
    graph.Link(graph.OutputElement(), graph.AddElement(camcorder.device()->MakeDvOutSink()));
    camcorder.camcorder().setMode(mediagraph::ED_MODE_RECORD);
    graph.Run();
    const char* kReason = "The virtual camcorder takes only whole DV frames of its tape's standard";
    // More frames than the pool holds: once the camcorder refuses, the caller must not wait for
    // buffers that will never come back; it gets the reason instead.
    const auto ntscFrames = numberedFrames(dv::VideoSystem::Ntsc525_60, 3 * graph.PoolBufferCount());
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
