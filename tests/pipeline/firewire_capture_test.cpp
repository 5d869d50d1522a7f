// SPDX-License-Identifier: GPL-3.0-or-later
// With a DV camcorder on an IEEE 1394 port, in VCR mode with a recorded tape: the transport
// commands are taken, capture through "InputFilter" gets whole, stamped DV frames while the tape
// plays, and (only with VANTREL_DEVICE_TEST_MAY_RECORD=1, as it records over the tape at its
// position) ten seconds of generated frames are printed to tape. Skipped when no camcorder is attached.
#include "job_test_support.h"
#include "mediagraph/device_control.h"
#include "pipeline/output_filter_graph.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;

TEST(FireWireCamcorder, transport_capture_and_print_round)
{
    mediagraph::ScopedVideoDeviceBackends backends({mediagraph::makeFireWireBackend()});
    std::vector<std::string> names;
    std::shared_ptr<mediagraph::IVideoDevice> device;
    try {
        mediagraph::ListVideoDevices(names);
        mediagraph::FindVideoDevice(std::string(names.front()), names, device);
    } catch (const mediagraph::CDShowException& error) {
        GTEST_SKIP() << "no DV camcorder on an IEEE 1394 port (" << error.message() << ")";
    }
    mediagraph::CDeviceControl control;
    ASSERT_TRUE(control.Attach(device)) << "a camcorder has transport control";
    // Each command, then whether the camcorder took it.
    auto send = [&](void (mediagraph::CDeviceControl::*command)(), const char* name) {
        (control.*command)();
        EXPECT_EQ(control.LastRefusal(), "") << name;
    };
    send(&mediagraph::CDeviceControl::Stop, "Stop");

    testing::RecordingFrameSink sink;
    {
        CInputFilterGraph graph;
        graph.Link(graph.AddElement(device->MakeCaptureSource()), graph.InputFilter());
        graph.Start(&sink);
        send(&mediagraph::CDeviceControl::Play, "Play");
        EXPECT_TRUE(testing::waitUntil([&] { return sink.frames().size() >= 75; }, 20s)) << "three seconds within twenty";
        send(&mediagraph::CDeviceControl::Pause, "Pause");
        send(&mediagraph::CDeviceControl::Stop, "Stop");
        graph.Stop();
        graph.ThrowIfFailed();
    }
    const auto frames = sink.frames();
    ASSERT_GE(frames.size(), 75u);
    for (const auto& frame : frames) {
        if (!frame.hadData)
            continue;  // the end of the stream
        const bool isWhole = frame.bytes.size() == 144000 || frame.bytes.size() == 120000;
        const bool isStamped = frame.duration == 400000 || frame.duration == 333667 || frame.duration == 333666;
        ASSERT_TRUE(isWhole && (std::to_integer<unsigned>(frame.bytes[0]) & 0xe0u) == 0 && isStamped)
            << "whole frames, starting with their header, stamped with their duration";
    }
    EXPECT_GE(device->DroppedFrames(), 0);
    send(&mediagraph::CDeviceControl::FastForward, "Fast forward");
    send(&mediagraph::CDeviceControl::Rewind, "Rewind");
    control.Stop();

    const char* mayRecord = std::getenv("VANTREL_DEVICE_TEST_MAY_RECORD");
    if (mayRecord == nullptr || std::string_view(mayRecord) != "1")
        GTEST_SKIP() << "printing to tape records over it: set VANTREL_DEVICE_TEST_MAY_RECORD=1 to include it";

    const bool isPal = frames.front().bytes.size() == 144000;
    COutputFilterGraph print(CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes}, 10);
    print.Link(print.OutputElement(), print.AddElement(device->MakeDvOutSink()));
    send(&mediagraph::CDeviceControl::Record, "Record");
    print.Run();
    for (int index = 0; index < (isPal ? 250 : 300); ++index) {  // ten seconds
        auto frame = isPal ? testsupport::SyntheticDvFrame::pal() : testsupport::SyntheticDvFrame::ntsc();
        const auto bytes = frame.withTimecode({0, 0, index / 25, index % 25}).bytes();
        print.Deliver(isPal ? 400'000 : 333'667, bytes.data(), static_cast<long>(bytes.size()));
    }
    print.DeliverEndOfStream();
    EXPECT_EQ(print.WaitForCompletion(60s), mediagraph::Completion::Finished)
        << (print.FirstError() ? print.FirstError()->message() : "");
    send(&mediagraph::CDeviceControl::Stop, "Stop");
    print.Stop();
}

}  // namespace
}  // namespace vantrel::pipeline
