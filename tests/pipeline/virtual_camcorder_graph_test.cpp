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
using mediagraph::testing::frameNumber;
using mediagraph::testing::numberedFrames;
using testing::RecordingFrameSink;

// Lists only the virtual camcorder on the tape, at full speed, and opens it by its friendly name.
class VirtualCamcorderGraphs : public ::testing::Test {
protected:
    std::shared_ptr<IVideoDevice> openCamcorder(const std::filesystem::path& tape)
    {
        setenv("VANTREL_VIRTUAL_CAMCORDER", tape.c_str(), 1);
        setenv("VANTREL_VIRTUAL_SPEED", "max", 1);
        std::vector<std::string> names;
        std::shared_ptr<IVideoDevice> device;
        mediagraph::FindVideoDevice("Virtual DV camcorder (" + tape.filename().string() + ")", names, device);
        EXPECT_EQ(names.size(), 1u);
        return device;
    }
    void TearDown() override
    {
        unsetenv("VANTREL_VIRTUAL_CAMCORDER");
        unsetenv("VANTREL_VIRTUAL_SPEED");
    }

    mediagraph::ScopedVideoDeviceBackends m_backends{{mediagraph::makeVirtualCamcorderBackend()}};
};

class CaptureGraph : public CInputFilterGraph {
public:
    explicit CaptureGraph(IVideoDevice& device) { Link(AddElement(device.MakeCaptureSource()), InputFilter()); }
};

class DvOutGraph : public COutputFilterGraph {
public:
    explicit DvOutGraph(IVideoDevice& device)
        : COutputFilterGraph(CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes}, 10)
    {
        Link(OutputElement(), AddElement(device.MakeDvOutSink()));
    }
};

std::vector<Frame> readRawTape(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Frame> frames;
    Frame frame(144000);
    while (in.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(frame.size())))
        frames.push_back(frame);
    return frames;
}

TEST_F(VirtualCamcorderGraphs, captures_every_frame_of_the_tape_bit_exact_and_in_order)
{
    const auto tape = mediagraph::testing::testFolder() / "holiday.dv";
    const auto frames = numberedFrames(dv::VideoSystem::Pal625_50, 120);
    mediagraph::testing::writeRawTape(tape, frames);
    auto device = openCamcorder(tape);
    ASSERT_NE(device, nullptr);

    CaptureGraph graph(*device);
    RecordingFrameSink sink;
    ASSERT_NE(graph.Start(&sink), mediagraph::StateChangeResult::Failure);
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(device));
    control.Play();
    ASSERT_EQ(graph.WaitForCompletion(20s), Completion::Finished) << "the end of the tape ends the stream";
    graph.Stop();

    const auto delivered = sink.frames();
    ASSERT_EQ(delivered.size(), frames.size() + 1);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frameNumber(delivered[i].bytes), i);
        EXPECT_TRUE(delivered[i].bytes == frames[i]) << "frame " << i;
        EXPECT_EQ(delivered[i].duration, 400'000);
    }
    EXPECT_EQ(delivered.back().duration, -1);
    EXPECT_EQ(device->DroppedFrames(), 0);
}

TEST_F(VirtualCamcorderGraphs, frames_the_camcorder_loses_are_counted_as_dropped)
{
    const auto tape = mediagraph::testing::testFolder() / "dropping.dv";
    const auto frames = numberedFrames(dv::VideoSystem::Pal625_50, 40);
    mediagraph::testing::writeRawTape(tape, frames);
    auto device = openCamcorder(tape);
    ASSERT_NE(device, nullptr);
    mediagraph::CVirtualCamcorder* camcorder = mediagraph::VirtualCamcorderOf(*device);
    ASSERT_NE(camcorder, nullptr);
    camcorder->dropEvery(4);

    CaptureGraph graph(*device);
    RecordingFrameSink sink;
    graph.Start(&sink);
    CDeviceControl control;
    control.Attach(device);
    control.Play();
    ASSERT_EQ(graph.WaitForCompletion(20s), Completion::Finished);
    const auto delivered = sink.frames();
    ASSERT_EQ(delivered.size(), 30u + 1u);
    EXPECT_EQ(device->DroppedFrames(), 10);
    std::uint32_t previous = 0;
    for (std::size_t i = 0; i + 1 < delivered.size(); ++i) {
        const std::uint32_t number = frameNumber(delivered[i].bytes);
        EXPECT_TRUE(delivered[i].bytes == frames[number]);
        EXPECT_TRUE(i == 0 || number > previous) << "frames out of order";
        previous = number;
    }
}

TEST_F(VirtualCamcorderGraphs, captures_an_avi_tape_of_either_type)
{
    for (const auto type : {avi::DvAviType::Type1Interleaved, avi::DvAviType::Type2Separate}) {
        const auto tape = mediagraph::testing::testFolder() /
                          (type == avi::DvAviType::Type1Interleaved ? "type1.avi" : "type2.avi");
        const auto frames = numberedFrames(dv::VideoSystem::Ntsc525_60, 30);
        mediagraph::testing::writeAviTape(tape, frames, type, dv::VideoSystem::Ntsc525_60);
        auto device = openCamcorder(tape);
        ASSERT_NE(device, nullptr);
        CaptureGraph graph(*device);
        RecordingFrameSink sink;
        graph.Start(&sink);
        CDeviceControl control;
        control.Attach(device);
        control.Play();
        ASSERT_EQ(graph.WaitForCompletion(20s), Completion::Finished);
        const auto delivered = sink.frames();
        ASSERT_EQ(delivered.size(), frames.size() + 1);
        for (std::size_t i = 0; i < frames.size(); ++i)
            EXPECT_TRUE(delivered[i].bytes == frames[i]) << "frame " << i;
        EXPECT_EQ(delivered.front().duration, 333'667);
    }
}

TEST_F(VirtualCamcorderGraphs, printing_in_record_mode_puts_every_frame_on_the_tape)
{
    const auto tape = mediagraph::testing::testFolder() / "blank.dv";
    mediagraph::testing::writeRawTape(tape, {});
    const auto frames = numberedFrames(dv::VideoSystem::Pal625_50, 60, 3);
    auto device = openCamcorder(tape);
    ASSERT_NE(device, nullptr);
    {
        DvOutGraph graph(*device);
        CDeviceControl control;
        control.Attach(device);
        control.Record();
        graph.Run();
        for (const auto& frame : frames)
            graph.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
        graph.Deliver(-1, nullptr, 0);
        graph.DeliverEndOfStream();
        ASSERT_EQ(graph.WaitForCompletion(20s), Completion::Finished);
        control.Stop();  // the camcorder writes out what it recorded
    }
    const auto recorded = readRawTape(tape);
    ASSERT_EQ(recorded.size(), frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_TRUE(recorded[i] == frames[i]) << "frame " << i;
}

TEST_F(VirtualCamcorderGraphs, a_frame_the_tape_cannot_take_stops_printing_with_its_reason)
{
    const auto tape = mediagraph::testing::testFolder() / "pal.dv";
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

TEST_F(VirtualCamcorderGraphs, handles_opened_on_one_tape_share_one_camcorder_while_held)
{
    const auto tape = mediagraph::testing::testFolder() / "shared.dv";
    mediagraph::testing::writeRawTape(tape, numberedFrames(dv::VideoSystem::Pal625_50, 5));
    auto captureSide = openCamcorder(tape);
    auto printSide = openCamcorder(tape);
    ASSERT_NE(captureSide, nullptr);
    EXPECT_EQ(captureSide, printSide) << "two camcorder objects would drive one tape";
    CDeviceControl control;
    control.Attach(printSide);
    control.FastForward();
    EXPECT_TRUE(mediagraph::VirtualCamcorderOf(*captureSide)->waitForMode(mediagraph::ED_MODE_STOP, 5s))
        << "winding stops at the end of the tape";
    EXPECT_EQ(mediagraph::VirtualCamcorderOf(*captureSide)->position(), 5);
}

TEST_F(VirtualCamcorderGraphs, record_pause_takes_the_frames_and_drops_them)
{
    const auto tape = mediagraph::testing::testFolder() / "paused.dv";
    const auto original = numberedFrames(dv::VideoSystem::Pal625_50, 10);
    mediagraph::testing::writeRawTape(tape, original);
    auto device = openCamcorder(tape);
    ASSERT_NE(device, nullptr);
    {
        DvOutGraph graph(*device);
        CDeviceControl control;
        control.Attach(device);
        control.RecordPause();
        graph.Run();
        for (const auto& frame : numberedFrames(dv::VideoSystem::Pal625_50, 5, 9))
            graph.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
        graph.DeliverEndOfStream();
        ASSERT_EQ(graph.WaitForCompletion(20s), Completion::Finished);
        control.Stop();
    }
    EXPECT_TRUE(readRawTape(tape) == original);
}

}  // namespace
}  // namespace vantrel::pipeline
