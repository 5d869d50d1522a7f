// SPDX-License-Identifier: GPL-3.0-or-later
// DV out and capture of an IEEE 1394 camcorder on a scripted bus: what arrives on the wire, which
// connections and bandwidth are held and released, resets, dropped frames, and failures that
// end as errors instead of waits.
#include "fake_firewire_bus.h"
#include "mediagraph/dshow_graph.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"
#include "support/synthetic_dv_frame.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <future>

namespace vantrel::mediagraph {
namespace {

using namespace std::chrono_literals;
using testing::FakeFireWireBus;
using testing::FakeNode;
using testsupport::SyntheticDvFrame;
using Frame = std::vector<std::byte>;

constexpr std::uint64_t kCamcorderGuid = 0x0800'4601'0203'0405;
constexpr std::uint64_t kBroadcasterGuid = 0x0080'88aa'0000'0001;
constexpr FireWireTimeouts kQuickTimeouts{300ms, 500ms, 1000ms, 1ms};
constexpr auto kLongEnough = 10s;  // a deadline for what takes milliseconds

FakeNode camcorder(std::uint64_t guid, bool hasPlugs = true)
{
    FakeNode node;
    node.guid = guid;
    node.label = guid == kCamcorderGuid ? "Camcorder" : "Broadcaster";
    node.hasPlugs = hasPlugs;
    return node;
}

std::shared_ptr<FakeFireWireBus> busWithCamcorder()
{
    auto bus = std::make_shared<FakeFireWireBus>();
    bus->addNode(camcorder(kCamcorderGuid));
    return bus;
}

std::shared_ptr<IVideoDevice> openNamed(const std::shared_ptr<FakeFireWireBus>& bus, const std::string& name,
                                        FireWireTimeouts timeouts = kQuickTimeouts)
{
    auto listed = makeFireWireBackend(bus, timeouts)->Enumerate();
    for (auto& entry : listed.value())
        if (entry->ReadFriendlyName().value() == name)
            return entry->Open();
    return nullptr;
}

std::vector<Frame> distinctFrames(bool isPal, int count, int first = 0)
{
    std::vector<Frame> frames;
    for (int index = first; index < first + count; ++index) {
        auto frame = isPal ? SyntheticDvFrame::pal() : SyntheticDvFrame::ntsc();
        frames.push_back(frame.withTimecode({0, 0, index / 25, index % 25}).bytes());
    }
    return frames;
}

bool isAllReleased(const FakeFireWireBus& bus)
{
    return bus.connections().empty() && bus.freeBandwidth() == FakeFireWireBus::kTotalBandwidth &&
           bus.openHandles() == 0;
}

// appsrc → the camcorder's DV-out element.
class DvOutRound {
public:
    explicit DvOutRound(IVideoDevice& device)
    {
        m_source = m_graph.AddElement("appsrc", nullptr);
        GstCaps* caps = gst_caps_from_string("video/x-dv, systemstream=(boolean)true");
        g_object_set(m_source, "caps", caps, "format", GST_FORMAT_TIME, "max-bytes", guint64{0}, nullptr);
        gst_caps_unref(caps);
        m_graph.Link(m_source, m_graph.AddElement(device.MakeDvOutSink()));
    }
    void push(const std::vector<Frame>& frames)
    {
        for (const auto& frame : frames)
            gst_app_src_push_buffer(GST_APP_SRC(m_source), gst_buffer_new_memdup(frame.data(), frame.size()));
    }
    void end() { gst_app_src_end_of_stream(GST_APP_SRC(m_source)); }
    CDShowGraph& graph() { return m_graph; }
    std::string error() const { return m_graph.FirstError() ? m_graph.FirstError()->message() : ""; }

private:
    CDShowGraph m_graph;
    GstElement* m_source;
};

TEST(FireWireDvOut, frames_arrive_bit_exact_in_480_byte_packets)
{
    struct Case {
        bool isPal;
        std::size_t packetsPerFrame;
    };
    for (const Case test : {Case{true, 300}, Case{false, 250}}) {
        auto bus = busWithCamcorder();
        auto device = openNamed(bus, "Camcorder");
        const auto frames = distinctFrames(test.isPal, 4);
        {
            DvOutRound round(*device);
            round.push(frames);
            round.end();
            ASSERT_NE(round.graph().Run(), StateChangeResult::Failure);
            ASSERT_EQ(round.graph().WaitForCompletion(kLongEnough), Completion::Finished) << round.error();
            ASSERT_TRUE(bus->waitUntil([](const auto& b) { return !b.isTransmitting(); }, kLongEnough))
                << "the end of the stream ends the transmission";
            const auto held = bus->connections();
            ASSERT_EQ(held.size(), 1u);
            EXPECT_EQ(held[0].outputGuid, FakeFireWireBus::kLocalGuid);
            EXPECT_EQ(held[0].inputGuid, kCamcorderGuid);
            EXPECT_EQ(held[0].bandwidth, FakeFireWireBus::kDvBandwidth) << "bandwidth allocated";
            const auto received = bus->received(kCamcorderGuid);
            EXPECT_EQ(received.distinctFrames, frames) << "PAL " << test.isPal;
            for (std::size_t packets : received.packetsPerFrame)
                EXPECT_EQ(packets, test.packetsPerFrame);
            round.graph().Stop();
        }
        EXPECT_TRUE(isAllReleased(*bus)) << "connection, channel and bandwidth released at stop";
    }
}

TEST(FireWireDvOut, a_change_of_video_system_restarts_the_transmission_in_the_new_one)
{
    auto bus = busWithCamcorder();
    auto device = openNamed(bus, "Camcorder");
    auto frames = distinctFrames(true, 2);
    const auto ntsc = distinctFrames(false, 2, 2);
    frames.insert(frames.end(), ntsc.begin(), ntsc.end());
    DvOutRound round(*device);
    round.push(frames);
    round.end();
    round.graph().Run();
    ASSERT_EQ(round.graph().WaitForCompletion(kLongEnough), Completion::Finished) << round.error();
    const auto received = bus->received(kCamcorderGuid);
    EXPECT_EQ(received.distinctFrames, frames);
    EXPECT_EQ(received.packetsPerFrame, (std::vector<std::size_t>{300, 300, 250, 250}));
}

TEST(FireWireDvOut, failures_of_the_bus_end_the_graph_with_an_error_instead_of_a_wait)
{
    struct Case {
        const char* what;
        std::function<void(FakeFireWireBus&)> script;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"transmission cannot start", [](auto& bus) { bus.setTransmitStartFails(true); }, "Cannot start DV output"},
        {"the event loop fails", [](auto& bus) { bus.failIterations(EIO, 1); }, "DV output stopped"},
        {"the port stops asking for packets", [](auto& bus) { bus.setTransmitStalled(true); }, "took no frame"},
        {"the camcorder was unplugged", [](auto& bus) { bus.unplug(kCamcorderGuid); }, "not on the IEEE 1394 bus"},
    };
    for (const auto& test : cases) {
        auto bus = busWithCamcorder();
        auto device = openNamed(bus, "Camcorder");
        test.script(*bus);
        {
            DvOutRound round(*device);
            round.push(distinctFrames(true, 6));
            round.end();
            round.graph().Run();
            EXPECT_EQ(round.graph().WaitForCompletion(kLongEnough), Completion::Failed) << test.what;
            EXPECT_NE(round.error().find(test.expected), std::string::npos) << test.what << ": " << round.error();
            round.graph().Stop();
        }
        EXPECT_TRUE(isAllReleased(*bus)) << test.what;
    }
}

TEST(FireWireDvOut, an_interrupted_wait_for_the_bus_is_retried)
{
    auto bus = busWithCamcorder();
    bus->failIterations(EINTR, 3);
    auto device = openNamed(bus, "Camcorder");
    const auto frames = distinctFrames(true, 3);
    DvOutRound round(*device);
    round.push(frames);
    round.end();
    round.graph().Run();
    ASSERT_EQ(round.graph().WaitForCompletion(kLongEnough), Completion::Finished) << round.error();
    EXPECT_EQ(bus->received(kCamcorderGuid).distinctFrames, frames);
}

TEST(FireWireDvOut, stopping_does_not_wait_for_a_camcorder_that_takes_nothing)
{
    auto bus = busWithCamcorder();
    bus->setTransmitStalled(true);
    FireWireTimeouts patient = kQuickTimeouts;
    patient.frameTaken = std::chrono::hours(1);
    auto device = openNamed(bus, "Camcorder", patient);
    DvOutRound round(*device);
    round.push(distinctFrames(true, 4));
    round.graph().Run();
    ASSERT_TRUE(bus->waitUntil([](const auto& b) { return b.isTransmitting(); }, kLongEnough));
    auto stopped = std::async(std::launch::async, [&round] { round.graph().Stop(); });
    EXPECT_EQ(stopped.wait_for(kLongEnough), std::future_status::ready) << "stop blocked behind the frame wait";
    stopped.wait();
    EXPECT_TRUE(isAllReleased(*bus));
}

TEST(FireWireDvOut, pausing_keeps_the_waiting_frame_and_playing_again_sends_it)
{
    auto bus = busWithCamcorder();
    bus->setTransmitStalled(true);
    FireWireTimeouts patient = kQuickTimeouts;
    patient.frameTaken = std::chrono::hours(1);
    auto device = openNamed(bus, "Camcorder", patient);
    const auto frames = distinctFrames(true, 4);
    DvOutRound round(*device);
    round.push(frames);
    round.end();
    round.graph().Run();
    ASSERT_TRUE(bus->waitUntil([](const auto& b) { return b.isTransmitting(); }, kLongEnough));
    auto paused = std::async(std::launch::async, [&round] { round.graph().Pause(); });
    ASSERT_EQ(paused.wait_for(kLongEnough), std::future_status::ready) << "pause blocked behind the frame wait";
    paused.wait();
    bus->setTransmitStalled(false);
    round.graph().Run();
    ASSERT_EQ(round.graph().WaitForCompletion(kLongEnough), Completion::Finished) << round.error();
    EXPECT_EQ(bus->received(kCamcorderGuid).distinctFrames, frames) << "no frame lost or repeated out of order";
}

TEST(FireWireDvOut, the_connection_is_restored_after_a_bus_reset_and_released_under_the_new_node)
{
    auto bus = busWithCamcorder();
    auto device = openNamed(bus, "Camcorder");
    const auto before = distinctFrames(true, 3);
    const auto after = distinctFrames(true, 3, 3);
    {
        DvOutRound round(*device);
        round.push(before);
        round.graph().Run();
        ASSERT_TRUE(bus->waitUntil([](const auto& b) { return b.received(kCamcorderGuid).distinctFrames.size() >= 3; },
                                   kLongEnough));
        const int channel = bus->connections().at(0).channel;
        bus->busReset(camcorder(kBroadcasterGuid, false));  // the camcorder's node number moves up
        ASSERT_TRUE(bus->waitUntil(
            [](const auto& b) { return b.connections().size() == 1 && !b.connections()[0].isAwaitingRestore; },
            kLongEnough))
            << "reconnected within the restore time";
        bus->expireUnrestoredConnections();
        ASSERT_EQ(bus->connections().size(), 1u);
        EXPECT_EQ(bus->connections()[0].channel, channel);
        round.push(after);
        round.end();
        ASSERT_EQ(round.graph().WaitForCompletion(kLongEnough), Completion::Finished) << round.error();
        auto all = before;
        all.insert(all.end(), after.begin(), after.end());
        EXPECT_EQ(bus->received(kCamcorderGuid).distinctFrames, all);
        round.graph().Stop();
    }
    EXPECT_TRUE(isAllReleased(*bus));
}

// --- capture

// The camcorder's capture element → an appsink the test pulls from.
class CaptureRound {
public:
    explicit CaptureRound(IVideoDevice& device)
    {
        GstElement* source = m_graph.AddElement(device.MakeCaptureSource());
        m_sink = m_graph.AddElement("appsink", nullptr);
        g_object_set(m_sink, "sync", FALSE, nullptr);
        m_graph.Link(source, m_sink);
    }
    CDShowGraph& graph() { return m_graph; }
    // The next captured buffer's duration; nothing when none came in time.
    std::optional<GstClockTime> nextDuration()
    {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), GST_SECOND * 10);
        if (sample == nullptr)
            return std::nullopt;
        const GstClockTime duration = GST_BUFFER_DURATION(gst_sample_get_buffer(sample));
        gst_sample_unref(sample);
        return duration;
    }
    std::string error() const { return m_graph.FirstError() ? m_graph.FirstError()->message() : ""; }

private:
    CDShowGraph m_graph;
    GstElement* m_sink;
};

TEST(FireWireCapture, listens_on_the_channel_of_its_own_connection_to_the_camcorder)
{
    auto bus = busWithCamcorder();
    bus->addNode(camcorder(kBroadcasterGuid, false));  // sends on the broadcast channel, no plugs
    const Frame frame = distinctFrames(true, 1).front();
    struct Case {
        const char* name;
        std::uint64_t guid;
        bool isConnected;  // by CMP, rather than listening on the broadcast channel
    };
    for (const Case test : {Case{"Camcorder", kCamcorderGuid, true}, Case{"Broadcaster", kBroadcasterGuid, false}}) {
        auto device = openNamed(bus, test.name);
        {
            CaptureRound round(*device);
            ASSERT_NE(round.graph().Run(), StateChangeResult::Failure) << round.error();
            const auto held = bus->connections();
            ASSERT_EQ(held.size(), test.isConnected ? 1u : 0u) << test.name;
            const int channel = test.isConnected ? held[0].channel : 63;
            if (test.isConnected) {
                EXPECT_EQ(held[0].outputGuid, kCamcorderGuid);
                EXPECT_EQ(held[0].inputGuid, FakeFireWireBus::kLocalGuid);
                EXPECT_EQ(held[0].bandwidth, FakeFireWireBus::kDvBandwidth);
                EXPECT_NE(channel, 63) << "a point-to-point connection, not the broadcast channel";
            }
            EXPECT_EQ(bus->receiverChannels().back(), channel) << test.name;
            if (test.isConnected) {  // a broadcast is heard by anyone listening on channel 63
                EXPECT_EQ(bus->sendFromCamcorder(kBroadcasterGuid, frame, 0), 0) << "the other camcorder is not heard";
            }
            EXPECT_EQ(bus->sendFromCamcorder(test.guid, frame, 0), 1) << test.name;
            EXPECT_TRUE(round.nextDuration().has_value()) << test.name;
            round.graph().Stop();
        }
        EXPECT_TRUE(isAllReleased(*bus)) << test.name;
    }
}

TEST(FireWireCapture, counts_gaps_in_the_frame_numbers_and_stamps_each_frame_duration)
{
    struct Case {
        bool isPal;
        std::vector<std::uint64_t> sequence;
        std::int32_t dropped;
    };
    const std::vector<Case> cases = {
        {true, {0, 1, 2, 3}, 0},
        {true, {0, 1, 4, 5}, 2},
        {false, {7, 8, 12}, 3},
        {true, {5, 9, 10, 20}, 12},
    };
    for (const auto& test : cases) {
        auto bus = busWithCamcorder();
        auto device = openNamed(bus, "Camcorder");
        CaptureRound round(*device);
        round.graph().Run();
        const Frame frame = distinctFrames(test.isPal, 1).front();
        const GstClockTime expected = test.isPal ? 40'000'000 : 33'366'667;  // 1/25 s; 1001/30000 s
        for (std::uint64_t number : test.sequence) {
            ASSERT_EQ(bus->sendFromCamcorder(kCamcorderGuid, frame, number), 1);
            EXPECT_EQ(round.nextDuration(), std::optional<GstClockTime>(expected));
        }
        EXPECT_EQ(device->DroppedFrames(), test.dropped);
        round.graph().Stop();
    }
}

TEST(FireWireCapture, no_frame_in_time_after_the_tape_was_told_to_play_is_an_error)
{
    enum class Before { Nothing, Play };
    struct Case {
        const char* what;
        Before beforeStart;
        std::vector<long> afterStart;
        bool sendsFrame;
        bool fails;
    };
    const std::vector<Case> cases = {
        {"the tape stays stopped (preview, winding)", Before::Nothing, {}, false, false},
        {"told to play, nothing comes", Before::Nothing, {ED_MODE_PLAY}, false, true},
        {"already playing when the capture starts", Before::Play, {}, false, true},
        {"told to play, a frame comes", Before::Nothing, {ED_MODE_PLAY}, true, false},
        {"told to play, then stopped", Before::Nothing, {ED_MODE_PLAY, ED_MODE_STOP}, false, false},
    };
    for (const auto& test : cases) {
        auto bus = busWithCamcorder();
        auto device = openNamed(bus, "Camcorder");
        if (test.beforeStart == Before::Play)
            device->Transport()->SendMode(ED_MODE_PLAY);
        CaptureRound round(*device);
        round.graph().Run();
        for (long mode : test.afterStart)
            EXPECT_EQ(device->Transport()->SendMode(mode), "") << test.what;
        if (test.sendsFrame) {
            bus->sendFromCamcorder(kCamcorderGuid, distinctFrames(true, 1).front(), 0);
            EXPECT_TRUE(round.nextDuration().has_value()) << test.what;
        }
        const auto wait = test.fails ? kLongEnough : kQuickTimeouts.firstFrame * 3;
        EXPECT_EQ(round.graph().WaitForCompletion(wait), test.fails ? Completion::Failed : Completion::TimedOut)
            << test.what << ": " << round.error();
        if (test.fails) {
            EXPECT_EQ(round.error().rfind("No frames from the camcorder", 0), 0u) << round.error();
        }
        round.graph().Stop();
    }
}

TEST(FireWireCapture, the_connection_is_restored_after_a_bus_reset_and_released_at_stop)
{
    auto bus = busWithCamcorder();
    auto device = openNamed(bus, "Camcorder");
    {
        CaptureRound round(*device);
        round.graph().Run();
        const int channel = bus->connections().at(0).channel;
        bus->busReset(camcorder(kBroadcasterGuid, false));
        ASSERT_TRUE(bus->waitUntil(
            [](const auto& b) { return b.connections().size() == 1 && !b.connections()[0].isAwaitingRestore; },
            kLongEnough));
        bus->expireUnrestoredConnections();
        ASSERT_EQ(bus->connections().size(), 1u);
        EXPECT_EQ(bus->connections()[0].channel, channel);
        EXPECT_EQ(bus->sendFromCamcorder(kCamcorderGuid, distinctFrames(true, 1).front(), 0), 1);
        EXPECT_TRUE(round.nextDuration().has_value());
        round.graph().Stop();
    }
    EXPECT_TRUE(isAllReleased(*bus));
}

}  // namespace
}  // namespace vantrel::mediagraph
