// SPDX-License-Identifier: GPL-3.0-or-later
// Capture from and print to the virtual camcorder through the bridge filters, found by name in the
// device list and driven by transport commands, as the capture and print jobs use it.
#include "bridge_test_support.h"
#include "mediagraph/device_control.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"
#include "mediagraph/virtual_tape_fixtures.h"
#include "pipeline/input_filter_graph.h"
#include "pipeline/output_filter_graph.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::CDeviceControl;
using mediagraph::Completion;
using mediagraph::IVideoDevice;
using mediagraph::testing::Frame;
using mediagraph::testing::numberedFrames;
using testing::RecordingFrameSink;

// Lists only the virtual camcorder on the tape, at full speed, and opens it by its friendly name.
class VirtualCamcorderGraphs : public ::testing::Test {
protected:
    std::shared_ptr<IVideoDevice> openCamcorder(const std::filesystem::path& tape)
    {
        m_tape.emplace("VANTREL_VIRTUAL_CAMCORDER", tape.c_str());
        std::vector<std::string> names;
        std::shared_ptr<IVideoDevice> device;
        mediagraph::FindVideoDevice("Virtual DV camcorder (" + tape.filename().string() + ")", names, device);
        EXPECT_EQ(names.size(), 1u);
        return device;
    }

    testsupport::ScopedEnv m_speed{"VANTREL_VIRTUAL_SPEED", "max"};
    std::optional<testsupport::ScopedEnv> m_tape;
    mediagraph::ScopedVideoDeviceBackends m_backends{{mediagraph::makeVirtualCamcorderBackend()}};
};

class DvOutGraph : public COutputFilterGraph {
public:
    explicit DvOutGraph(IVideoDevice& device)
        : COutputFilterGraph(CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes}, 10)
    {
        Link(OutputElement(), AddElement(device.MakeDvOutSink()));
    }
};

// Plays the whole tape into a capture graph; the deliveries, the end of stream last.
std::vector<testing::DeliveredFrame> captureAll(const std::shared_ptr<IVideoDevice>& device)
{
    testing::DeviceCaptureGraph graph(*device);
    RecordingFrameSink sink;
    EXPECT_NE(graph.Start(&sink), mediagraph::StateChangeResult::Failure);
    CDeviceControl control;
    EXPECT_TRUE(control.Attach(device));
    control.Play();
    EXPECT_EQ(graph.WaitForCompletion(20s), Completion::Finished) << "the end of the tape ends the stream";
    graph.Stop();
    return sink.frames();
}

TEST_F(VirtualCamcorderGraphs, captures_every_frame_of_raw_and_avi_tapes_bit_exact_and_in_order)
{
    const auto folder = testsupport::freshTestFolder();
    const auto pal = numberedFrames(dv::VideoSystem::Pal625_50, 120);
    const auto ntsc = numberedFrames(dv::VideoSystem::Ntsc525_60, 30);
    mediagraph::testing::writeRawTape(folder / "holiday.dv", pal);
    mediagraph::testing::writeAviTape(folder / "type1.avi", ntsc, avi::DvAviType::Type1Interleaved, dv::VideoSystem::Ntsc525_60);
    mediagraph::testing::writeAviTape(folder / "type2.avi", ntsc, avi::DvAviType::Type2Separate, dv::VideoSystem::Ntsc525_60);
    for (const char* name : {"holiday.dv", "type1.avi", "type2.avi"}) {
        const auto& frames = name[0] == 'h' ? pal : ntsc;
        auto device = openCamcorder(folder / name);
        ASSERT_NE(device, nullptr);
        const auto delivered = captureAll(device);
        ASSERT_EQ(delivered.size(), frames.size() + 1) << name;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_TRUE(delivered[i].bytes == frames[i]) << name << " frame " << i;
            EXPECT_EQ(delivered[i].duration, name[0] == 'h' ? 400'000 : 333'667);
        }
        EXPECT_EQ(delivered.back().duration, -1);
        EXPECT_EQ(device->DroppedFrames(), 0);
    }
}

TEST_F(VirtualCamcorderGraphs, a_frame_the_tape_cannot_take_stops_printing_with_its_reason)
{
    const auto tape = testsupport::freshTestFolder() / "pal.dv";
    mediagraph::testing::writeRawTape(tape, numberedFrames(dv::VideoSystem::Pal625_50, 3));
    auto device = openCamcorder(tape);
    ASSERT_NE(device, nullptr);
    DvOutGraph graph(*device);
    CDeviceControl control;
    control.Attach(device);
    control.Record();
    graph.Run();
    const char* kReason = "The virtual camcorder takes only whole DV frames of its tape's standard";
    // More frames than the pool holds: once the camcorder refuses, the caller must not wait for
    // buffers that will never come back; it gets the reason instead.
    const auto ntscFrames = numberedFrames(dv::VideoSystem::Ntsc525_60, 3 * graph.PoolBufferCount());
    std::optional<std::string> thrownMessage;
    try {
        for (const auto& frame : ntscFrames)
            graph.Deliver(333'667, frame.data(), static_cast<long>(frame.size()));
    } catch (const mediagraph::CDShowException& error) {
        thrownMessage = error.message();
    }
    ASSERT_TRUE(thrownMessage.has_value()) << "every frame was taken";
    EXPECT_EQ(*thrownMessage, kReason);
    EXPECT_EQ(graph.WaitForCompletion(0ms), Completion::Failed);
    try {
        graph.ThrowIfFailed();
        FAIL() << "the error did not reach the controlling thread";
    } catch (const mediagraph::CDShowException& error) {
        EXPECT_EQ(error.message(), kReason);
    }
    control.Stop();
}

}  // namespace
}  // namespace vantrel::pipeline
