// SPDX-License-Identifier: GPL-3.0-or-later
// With a DV camcorder on an IEEE 1394 port, in VCR mode with a recorded tape: the transport
// commands are taken, capture through "InputFilter" gets whole, stamped DV frames while the tape
// plays, and (only with VANTREL_DEVICE_TEST_MAY_RECORD=1, as it records over the tape at its
// position) ten seconds of generated frames are printed to tape. Skipped when no camcorder is attached.
#include "bridge_test_support.h"
#include "mediagraph/device_control.h"
#include "mediagraph/dshow_graph.h"
#include "mediagraph/video_devices.h"
#include "pipeline/input_filter_graph.h"

#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string_view>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<mediagraph::IVideoDevice> firstFireWireCamcorder(std::string& whyNot)
{
    std::vector<std::string> names;
    try {
        mediagraph::ListVideoDevices(names);
    } catch (const mediagraph::CDShowException& error) {
        whyNot = error.message();
        return nullptr;
    }
    std::shared_ptr<mediagraph::IVideoDevice> device;
    std::vector<std::string> ignored;
    mediagraph::FindVideoDevice(names.front(), ignored, device);
    return device;
}

// Counts whole frames and wakes a waiting test; any thread.
class CountingFrameSink : public IFrameSink {
public:
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override
    {
        std::lock_guard lock(m_mutex);
        if (data == nullptr)
            return;
        const bool isWhole = length == 144000 || length == 120000;
        const bool startsWithHeader = length > 0 && (std::to_integer<unsigned>(data[0]) & 0xe0u) == 0;
        const bool isStamped = duration == 400000 || duration == 333667 || duration == 333666;
        ++(isWhole && startsWithHeader && isStamped ? m_goodFrames : m_badFrames);
        m_frameBytes = static_cast<std::size_t>(length);
        m_arrived.notify_all();
    }
    bool waitForFrames(std::size_t count, std::chrono::seconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, timeout, [&] { return m_goodFrames + m_badFrames >= count; });
    }
    std::size_t goodFrames() const { std::lock_guard lock(m_mutex); return m_goodFrames; }
    std::size_t badFrames() const { std::lock_guard lock(m_mutex); return m_badFrames; }
    std::size_t frameBytes() const { std::lock_guard lock(m_mutex); return m_frameBytes; }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::size_t m_goodFrames = 0;
    std::size_t m_badFrames = 0;
    std::size_t m_frameBytes = 0;
};

void expectTaken(const mediagraph::CDeviceControl& control, const char* command)
{
    EXPECT_EQ(control.LastRefusal(), "") << command;
}

TEST(FireWireCamcorder, transport_capture_and_print_round)
{
    mediagraph::ScopedVideoDeviceBackends backends({mediagraph::makeFireWireBackend()});
    std::string whyNot;
    auto device = firstFireWireCamcorder(whyNot);
    if (!device)
        GTEST_SKIP() << "no DV camcorder on an IEEE 1394 port (" << whyNot << ")";

    mediagraph::CDeviceControl control;
    ASSERT_TRUE(control.Attach(device)) << "a camcorder has transport control";
    control.Stop();
    expectTaken(control, "Stop");

    CountingFrameSink sink;
    {
        testing::DeviceCaptureGraph graph(*device);
        graph.Start(&sink);
        control.Play();
        expectTaken(control, "Play");
        EXPECT_TRUE(sink.waitForFrames(75, 20s)) << "three seconds of tape within twenty";
        control.Pause();
        expectTaken(control, "Pause");
        control.Stop();
        expectTaken(control, "Stop");
        graph.Stop();
        graph.ThrowIfFailed();
    }
    EXPECT_GE(sink.goodFrames(), 75u);
    EXPECT_EQ(sink.badFrames(), 0u) << "whole frames, starting with their header, stamped with their duration";
    EXPECT_GE(device->DroppedFrames(), 0);
    control.FastForward();
    expectTaken(control, "Fast forward");
    control.Rewind();
    expectTaken(control, "Rewind");
    control.Stop();

    const char* mayRecord = std::getenv("VANTREL_DEVICE_TEST_MAY_RECORD");
    if (mayRecord == nullptr || std::string_view(mayRecord) != "1")
        GTEST_SKIP() << "printing to tape records over it: set VANTREL_DEVICE_TEST_MAY_RECORD=1 to include it";

    const bool isPal = sink.frameBytes() != 120000;
    mediagraph::CDShowGraph print;
    GstElement* source = print.AddElement("appsrc", nullptr);
    GstCaps* caps = gst_caps_from_string("video/x-dv, systemstream=(boolean)true");
    g_object_set(source, "caps", caps, "format", GST_FORMAT_TIME, "max-bytes", guint64{0}, nullptr);
    gst_caps_unref(caps);
    print.Link(source, print.AddElement(device->MakeDvOutSink()));
    const int frameCount = isPal ? 250 : 300;  // ten seconds
    for (int index = 0; index < frameCount; ++index) {
        auto frame = isPal ? testsupport::SyntheticDvFrame::pal() : testsupport::SyntheticDvFrame::ntsc();
        const auto bytes = frame.withTimecode({0, 0, index / 25, index % 25}).bytes();
        gst_app_src_push_buffer(GST_APP_SRC(source), gst_buffer_new_memdup(bytes.data(), bytes.size()));
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    control.Record();
    expectTaken(control, "Record");
    print.Run();
    EXPECT_EQ(print.WaitForCompletion(60s), mediagraph::Completion::Finished)
        << (print.FirstError() ? print.FirstError()->message() : "");
    control.Stop();
    expectTaken(control, "Stop");
    print.Stop();
}

}  // namespace
}  // namespace vantrel::pipeline
