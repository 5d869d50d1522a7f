// SPDX-License-Identifier: GPL-3.0-or-later
// With a DV camcorder on an IEEE 1394 port, playing its tape: capture through "InputFilter" gets
// whole DV frames, and the transport commands reach it. Skipped when no camcorder is attached.
#include "bridge_test_support.h"
#include "mediagraph/device_control.h"
#include "mediagraph/video_devices.h"
#include "pipeline/input_filter_graph.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<mediagraph::IVideoDevice> firstFireWireCamcorder()
{
    std::vector<std::string> names;
    try {
        mediagraph::ListVideoDevices(names);
    } catch (const mediagraph::CDShowException&) {
        return nullptr;
    }
    std::shared_ptr<mediagraph::IVideoDevice> device;
    std::vector<std::string> ignored;
    mediagraph::FindVideoDevice(names.front(), ignored, device);
    return device;
}

TEST(FireWireCamcorder, captures_whole_dv_frames_while_the_tape_plays)
{
    mediagraph::ScopedVideoDeviceBackends backends({mediagraph::makeFireWireBackend()});
    auto device = firstFireWireCamcorder();
    if (!device)
        GTEST_SKIP() << "no DV camcorder on an IEEE 1394 port";

    testing::DeviceCaptureGraph graph(*device);
    testing::RecordingFrameSink sink;
    mediagraph::CDeviceControl control;
    ASSERT_TRUE(control.Attach(device)) << "a camcorder has transport control";
    graph.Start(&sink);
    control.Play();
    std::this_thread::sleep_for(3s);
    control.Stop();
    graph.Stop();
    graph.ThrowIfFailed();

    const auto frames = sink.frames();
    ASSERT_GT(frames.size(), 25u) << "fewer than a second of frames in three seconds of play";
    for (const auto& frame : frames) {
        if (!frame.hadData)
            continue;
        EXPECT_TRUE(frame.bytes.size() == 144000 || frame.bytes.size() == 120000) << frame.bytes.size();
        EXPECT_EQ(static_cast<unsigned>(frame.bytes[0]) & 0xe0u, 0u) << "a frame starts with its header block";
    }
    EXPECT_GE(device->DroppedFrames(), 0);
}

}  // namespace
}  // namespace vantrel::pipeline
