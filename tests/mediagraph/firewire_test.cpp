// SPDX-License-Identifier: GPL-3.0-or-later
// IEEE 1394 camcorders on a scripted bus: which nodes are listed and under which names, the AV/C
// commands of the transport and how a refusal comes back; DV out and capture: what arrives on the
// wire, which connections and bandwidth are held and released, resets, dropped frames, and failures
// that end as errors instead of waits.
#include "fake_firewire_bus.h"
#include "mediagraph/device_control.h"
#include "mediagraph/dshow_graph.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"
#include "support/test_frames.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <future>

namespace vantrel::mediagraph {
namespace {

using namespace std::chrono_literals;
using namespace testing;  // the scripted bus
using dv::VideoSystem;
using testsupport::Frame;
using testsupport::numberedFrames;

constexpr std::uint64_t kSecondGuid = 0x0800'4601'0a0b'0c0d;
constexpr std::uint64_t kBroadcasterGuid = 0x0080'88aa'0000'0001;
constexpr auto kLongEnough = 10s;  // a deadline for what takes milliseconds
const FakeNode kCamcorder{.guid = kCamcorderGuid, .label = "Sony DCR-TRV900E"};
const FakeNode kBroadcaster{.guid = kBroadcasterGuid, .label = "Broadcaster", .hasPlugs = false};

TEST(FireWireDevices, lists_each_dv_tape_unit_under_a_name_that_can_be_chosen_or_says_why_none)
{
    const FakeNode unreadable{.guid = 0x11, .label = "Unreadable", .canReadRom = false};
    const FakeNode disk{.guid = 0x12, .label = "Disk", .isAvcUnit = false};
    const FakeNode tuner{.guid = 0x13, .label = "Tuner", .hasVcrSubunit = false};
    const FakeNode hdv{.guid = 0x14, .label = "Canon HV20", .outputSignalMode = 0x10};          // MPEG transport stream
    const FakeNode palDv{.guid = 0x15, .label = "Panasonic NV-GS400", .outputSignalMode = 0x80};  // SD 625-50
    const struct {
        const char* what;
        std::vector<FakeNode> nodes;
        std::vector<std::string> expected;
        std::vector<FireWireAccessProblem> accessProblems{};
    } cases[] = {
        {"one camcorder", {kCamcorder}, {"Sony DCR-TRV900E"}},
        {"two of one model",
         {kCamcorder, {.guid = kSecondGuid, .label = "Sony DCR-TRV900E"}},
         {"Sony DCR-TRV900E (GUID 0800460102030405)", "Sony DCR-TRV900E (GUID 080046010a0b0c0d)"}},
        {"no textual leaves", {{.guid = kCamcorderGuid}}, {"DV camcorder"}},
        {"unreadable ROM, not AV/C, no tape subunit are skipped", {unreadable, disk, tuner, kCamcorder}, {"Sony DCR-TRV900E"}},
        {"HDV marked, DV of either field rate not", {hdv, palDv}, {"Canon HV20 (HDV: not supported)", "Panasonic NV-GS400"}},
        {"nothing on the bus", {}, {"thrown: No video device found"}},
        {"a device file without permission",
         {},
         {"thrown: No video device found: no permission to open /dev/fw1 (Permission denied): add your user to the "
          "group that owns it (usually video) and log in again, or install a udev rule for IEEE 1394 AV/C devices"},
         {{"/dev/fw1", EACCES}}},
    };
    for (const auto& test : cases) {
        auto bus = busWith(test.nodes);
        bus->script([&](FakeBusState& state) { state.accessProblems = test.accessProblems; });
        std::vector<std::string> names;
        try {
            ScopedVideoDeviceBackends backends({makeFireWireBackend(bus, kQuickTimeouts)});
            ListVideoDevices(names);
        } catch (const CDShowException& error) {  // its kind: the device lookup table
            names = {"thrown: " + error.message()};
        }
        EXPECT_EQ(names, test.expected) << test.what;
        EXPECT_EQ(bus->state().openHandles, 0) << "every handle closed after listing";
    }
}

// --- transport

// The control commands a deck received, without the status queries.
std::vector<std::uint32_t> controlCommands(const FakeFireWireBus& bus, std::uint64_t guid = kCamcorderGuid)
{
    std::vector<std::uint32_t> commands;
    for (std::uint32_t command : bus.commandsTo(guid))
        if ((command & 0x0F000000u) == avc::kControl)
            commands.push_back(command);
    return commands;
}

// Each mode's own VCR command, sent twice (the second from the state the first left: a second Play
// stays play), and what the deck's reply means to the caller.
TEST(FireWireTransport, each_mode_sends_its_own_vcr_command_and_a_refusal_reaches_the_caller_with_what_it_means)
{
    const struct {
        void (CDeviceControl::*command)();
        std::uint32_t expected;  // control, tape subunit 0, opcode, operand
        AvcReply reply;
        const char* refusal;  // part of the text; empty when the deck took it
    } cases[] = {
        {&CDeviceControl::Stop, 0x0020C460, AvcReply::Accepted, ""},
        {&CDeviceControl::Play, 0x0020C375, AvcReply::Accepted, ""},
        {&CDeviceControl::Rewind, 0x0020C465, AvcReply::Rejected, "refused Rewind"},
        {&CDeviceControl::FastForward, 0x0020C475, AvcReply::NoAnswer, "did not answer"},
        {&CDeviceControl::StepForward, 0x0020C330, AvcReply::Accepted, ""},
        {&CDeviceControl::StepBackward, 0x0020C340, AvcReply::NotImplemented, "not implemented"},
        {&CDeviceControl::Record, 0x0020C275, AvcReply::Rejected, "write-protected"},
        {&CDeviceControl::RecordPause, 0x0020C27D, AvcReply::Interim, ""},
    };
    auto bus = busWith({kCamcorder});
    for (const auto& test : cases)
        bus->setReply(kCamcorderGuid, avc::opcode(test.expected), avc::operand(test.expected), test.reply);
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openListed(bus, kCamcorder.label)));
    for (const auto& test : cases) {
        SCOPED_TRACE(test.refusal);
        for (int time = 0; time < 2; ++time) {
            const std::size_t before = controlCommands(*bus).size();
            (control.*test.command)();
            const auto sent = controlCommands(*bus);
            ASSERT_EQ(sent.size(), before + 1) << std::hex << test.expected;
            EXPECT_EQ(sent.back(), test.expected) << std::hex << sent.back();
            const std::string& refusal = control.LastRefusal();
            EXPECT_TRUE(*test.refusal == '\0' ? refusal.empty() : refusal.find(test.refusal) != std::string::npos)
                << refusal;
        }
    }
}

// Pause on a deck that threads the tape first: play, status queries until it plays, then freeze;
// later commands follow the camcorder by GUID across a reset that moves its node number.
TEST(FireWireTransport, pause_waits_for_the_deck_to_play_and_commands_follow_the_camcorder_across_bus_resets)
{
    FakeNode threading = kCamcorder;
    threading.playQueriesBeforePlaying = 5;
    auto bus = busWith({threading});
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openListed(bus, kCamcorder.label)));
    control.Pause();
    EXPECT_EQ(control.LastRefusal(), "");
    const auto all = bus->commandsTo(kCamcorderGuid);
    EXPECT_GE(std::count(all.begin(), all.end(), 0x0120D07Fu), 5) << "the deck was asked until it played";
    bus->busReset(FakeNode{.guid = kSecondGuid, .label = "Another deck"});  // the camcorder moves from node 0 to 1
    control.Stop();
    EXPECT_EQ(controlCommands(*bus), (std::vector<std::uint32_t>{0x0020C375u, 0x0020C37Du, 0x0020C460u}))
        << "play, freeze, stop";
    EXPECT_TRUE(bus->commandsTo(kSecondGuid).empty()) << "nothing went to the node that took its number";
    bus->unplug(kCamcorderGuid);
    control.Record();
    EXPECT_NE(control.LastRefusal().find("not on the IEEE 1394 bus"), std::string::npos) << control.LastRefusal();

    auto device = openListed(busWith({kCamcorder}), kCamcorder.label);  // stopped, and only told to freeze
    const std::string refusal = device->Transport()->SendMode(ED_MODE_FREEZE);
    EXPECT_NE(refusal.find("did not start playing"), std::string::npos) << refusal;
}

// --- DV out

bool isAllReleased(const FakeFireWireBus& bus)
{
    const FakeBusState state = bus.state();
    return state.connections.empty() && state.freeBandwidth == FakeBusState::kTotalBandwidth && state.openHandles == 0;
}

bool isTransmitting(const FakeBusState& state) { return state.transmitters > 0; }

std::size_t framesReceived(const FakeBusState& state)
{
    const auto found = state.received.find(kCamcorderGuid);
    return found == state.received.end() ? 0 : found->second.size();
}

enum class Stream { Capture, DvOut };

// A running graph on the camcorder: appsrc → its DV-out element with the frames queued (then the
// end of the stream when isLast), or its capture element → an appsink the test pulls from.
class Round : public CDShowGraph {
public:
    Round(IVideoDevice& device, Stream stream, const std::vector<Frame>& frames = {}, bool isLast = true)
    {
        if (stream == Stream::Capture) {
            m_end = AddElement("appsink", nullptr);
            g_object_set(m_end, "sync", FALSE, nullptr);
            Link(AddElement(device.MakeCaptureSource()), m_end);
        } else {
            m_end = AddElement("appsrc", nullptr);
            GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string("video/x-dv, systemstream=(boolean)true"));
            g_object_set(m_end, "caps", caps.get(), "format", GST_FORMAT_TIME, "max-bytes", guint64{0}, nullptr);
            Link(m_end, AddElement(device.MakeDvOutSink()));
            push(frames, isLast);
        }
        Run();
    }
    void push(const std::vector<Frame>& frames, bool isLast)
    {
        for (const auto& frame : frames)
            gst_app_src_push_buffer(GST_APP_SRC(m_end), gst_buffer_new_memdup(frame.data(), frame.size()));
        if (isLast)
            gst_app_src_end_of_stream(GST_APP_SRC(m_end));
    }
    // The next captured buffer's duration; nothing when none came in time.
    std::optional<GstClockTime> nextDuration()
    {
        GstMiniOwned<GstSample> sample = adoptMini(gst_app_sink_try_pull_sample(GST_APP_SINK(m_end), GST_SECOND * 10));
        if (!sample)
            return std::nullopt;
        return GST_BUFFER_DURATION(gst_sample_get_buffer(sample.get()));
    }
    std::string error() const { return FirstError() ? FirstError()->message() : ""; }

private:
    GstElement* m_end;  // the appsrc or appsink
};

TEST(FireWireDvOut, failures_of_the_bus_end_the_graph_with_an_error_instead_of_a_wait)
{
    const struct {
        const char* what;
        std::function<void(FakeFireWireBus&)> script;
        const char* expected;
    } cases[] = {
        {"transmission cannot start", [](auto& bus) { bus.script([](auto& s) { s.doesTransmitStartFail = true; }); },
         "Cannot start DV output"},
        {"the event loop fails", [](auto& bus) { bus.script([](auto& s) { s.iterationErrors = {EIO}; }); },
         "DV output stopped"},
        {"the port stops asking for packets", [](auto& bus) { bus.script([](auto& s) { s.isTransmitStalled = true; }); },
         "took no frame"},
        {"the camcorder was unplugged", [](auto& bus) { bus.unplug(kCamcorderGuid); }, "not on the IEEE 1394 bus"},
    };
    for (const auto& test : cases) {
        auto bus = busWith({kCamcorder});
        auto device = openListed(bus, kCamcorder.label);
        test.script(*bus);
        {
            Round round(*device, Stream::DvOut, numberedFrames(VideoSystem::Pal625_50, 6));
            EXPECT_EQ(round.WaitForCompletion(kLongEnough), Completion::Failed) << test.what;
            EXPECT_NE(round.error().find(test.expected), std::string::npos) << test.what << ": " << round.error();
        }  // stopped
        EXPECT_TRUE(isAllReleased(*bus)) << test.what;
    }
}

// A camcorder that takes nothing: pausing and stopping do not wait for it, and the waiting frame is
// kept over the pause and sent when it takes frames again.
TEST(FireWireDvOut, pausing_and_stopping_do_not_wait_for_the_camcorder_and_playing_again_sends_the_waiting_frame)
{
    auto bus = busWith({kCamcorder});
    bus->script([](FakeBusState& state) { state.isTransmitStalled = true; });
    FireWireTimeouts patient = kQuickTimeouts;
    patient.frameTaken = std::chrono::hours(1);  // no deadline for taking a frame
    auto device = openListed(bus, kCamcorder.label, patient);
    const auto frames = numberedFrames(VideoSystem::Pal625_50, 4);
    Round round(*device, Stream::DvOut, frames, false);
    ASSERT_TRUE(bus->waitUntil(isTransmitting, kLongEnough));
    auto paused = std::async(std::launch::async, [&round] { round.Pause(); });
    ASSERT_EQ(paused.wait_for(kLongEnough), std::future_status::ready) << "pause blocked behind the frame wait";
    paused.wait();
    bus->script([](FakeBusState& state) { state.isTransmitStalled = false; });
    round.Run();
    ASSERT_TRUE(bus->waitUntil([](const auto& s) { return framesReceived(s) >= 4; }, kLongEnough));
    EXPECT_EQ(bus->received(kCamcorderGuid), frames) << "no frame lost or repeated out of order";
    bus->script([](FakeBusState& state) { state.isTransmitStalled = true; });
    round.push(numberedFrames(VideoSystem::Pal625_50, 4, 1), false);
    auto stopped = std::async(std::launch::async, [&round] { round.Stop(); });
    EXPECT_EQ(stopped.wait_for(kLongEnough), std::future_status::ready) << "stop blocked behind the frame wait";
    stopped.wait();
    EXPECT_TRUE(isAllReleased(*bus));
}

// --- capture

TEST(FireWireCapture, counts_gaps_in_the_frame_numbers_and_stamps_each_frame_duration)
{
    const struct {
        const char* name;  // the broadcaster has no plugs: it is heard on the broadcast channel
        std::uint64_t guid;
        VideoSystem system;
        std::vector<std::uint64_t> sequence;
        std::int32_t dropped;
        GstClockTime duration;  // 1/25 s; 1001/30000 s
    } cases[] = {
        {kCamcorder.label.c_str(), kCamcorderGuid, VideoSystem::Pal625_50, {0, 1, 4, 5}, 2, 40'000'000},
        {kCamcorder.label.c_str(), kCamcorderGuid, VideoSystem::Ntsc525_60, {7, 8, 12}, 3, 33'366'667},
        {"Broadcaster", kBroadcasterGuid, VideoSystem::Pal625_50, {5, 9, 10, 20}, 12, 40'000'000},
    };
    for (const auto& test : cases) {
        auto bus = busWith({kCamcorder, kBroadcaster});
        auto device = openListed(bus, test.name);
        Round round(*device, Stream::Capture);
        const Frame frame = numberedFrames(test.system, 1).front();
        for (std::uint64_t number : test.sequence) {
            ASSERT_EQ(bus->sendFromCamcorder(test.guid, frame, number), 1) << test.name << ": " << round.error();
            EXPECT_EQ(round.nextDuration(), std::optional<GstClockTime>(test.duration));
        }
        EXPECT_EQ(device->DroppedFrames(), test.dropped);
    }
}

TEST(FireWireCapture, no_frame_in_time_after_the_tape_was_told_to_play_is_an_error)
{
    const struct {
        const char* what;
        bool isPlayingAtStart;
        std::vector<long> afterStart;
        bool sendsFrame;
        bool fails;
    } cases[] = {
        {"the tape stays stopped (preview, winding)", false, {}, false, false},
        {"told to play, nothing comes", false, {ED_MODE_PLAY}, false, true},
        {"already playing when the capture starts", true, {}, false, true},
        {"told to play, a frame comes", false, {ED_MODE_PLAY}, true, false},
        {"told to play, then stopped", false, {ED_MODE_PLAY, ED_MODE_STOP}, false, false},
    };
    for (const auto& test : cases) {
        auto bus = busWith({kCamcorder});
        auto device = openListed(bus, kCamcorder.label);
        if (test.isPlayingAtStart)
            device->Transport()->SendMode(ED_MODE_PLAY);
        Round round(*device, Stream::Capture);
        for (long mode : test.afterStart)
            EXPECT_EQ(device->Transport()->SendMode(mode), "") << test.what;
        if (test.sendsFrame) {
            bus->sendFromCamcorder(kCamcorderGuid, numberedFrames(VideoSystem::Pal625_50, 1).front(), 0);
            EXPECT_TRUE(round.nextDuration().has_value()) << test.what;
        }
        const auto wait = test.fails ? kLongEnough : kQuickTimeouts.firstFrame * 3;
        EXPECT_EQ(round.WaitForCompletion(wait), test.fails ? Completion::Failed : Completion::TimedOut)
            << test.what << ": " << round.error();
        EXPECT_TRUE(!test.fails || round.error().starts_with("No frames from the camcorder")) << round.error();
    }
}

// A camcorder that both sends and records: a connection each, on its own channel with bandwidth. A
// reset that moves its node number up restores each on its channel, the transmission restarts at a
// change of system and ends with the stream, and everything is released under the new node at stop.
TEST(FireWireStreams, connections_are_restored_on_their_channels_after_a_bus_reset_and_released_at_stop)
{
    auto bus = busWith({kCamcorder});
    bus->script([](FakeBusState& state) { state.iterationErrors = {EINTR, EINTR, EINTR}; });  // retried
    auto device = openListed(bus, kCamcorder.label);
    auto frames = numberedFrames(VideoSystem::Pal625_50, 3);
    const auto after = numberedFrames(VideoSystem::Ntsc525_60, 2);
    {
        Round capture(*device, Stream::Capture);
        Round out(*device, Stream::DvOut, frames, false);
        ASSERT_TRUE(bus->waitUntil([](const auto& s) { return framesReceived(s) >= 3; }, kLongEnough));
        const std::vector<FakeConnection> held = {
            {kCamcorderGuid, FakeFireWireBus::kLocalGuid, 0, FakeFireWireBus::kDvBandwidth},
            {FakeFireWireBus::kLocalGuid, kCamcorderGuid, 1, FakeFireWireBus::kDvBandwidth}};
        bus->busReset(kBroadcaster);
        ASSERT_TRUE(bus->waitUntil([&](const auto& s) { return s.connections == held; }, kLongEnough))
            << "reconnected on the same channels within the restore time";
        out.push(after, true);
        ASSERT_EQ(out.WaitForCompletion(kLongEnough), Completion::Finished) << out.error();
        ASSERT_TRUE(bus->waitUntil(std::not_fn(isTransmitting), kLongEnough)) << "the stream's end ends the transmission";
        frames.insert(frames.end(), after.begin(), after.end());
        EXPECT_EQ(bus->received(kCamcorderGuid), frames);
        EXPECT_EQ(bus->sendFromCamcorder(kBroadcasterGuid, frames.front(), 0), 0) << "the other camcorder is not heard";
        EXPECT_EQ(bus->sendFromCamcorder(kCamcorderGuid, frames.front(), 0), 1);
        EXPECT_TRUE(capture.nextDuration().has_value());
    }  // both stopped
    EXPECT_TRUE(isAllReleased(*bus)) << "connections, channels and bandwidth released at stop";
}

}  // namespace
}  // namespace vantrel::mediagraph
