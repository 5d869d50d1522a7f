// SPDX-License-Identifier: GPL-3.0-or-later
// IEEE 1394 camcorders on a scripted bus: which nodes are listed and under which names, what a
// permission problem says, and the AV/C commands that each transport mode sends and how a
// refusal comes back.
#include "fake_firewire_bus.h"
#include "mediagraph/device_control.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vantrel::mediagraph {
namespace {

using namespace testing;  // the scripted bus

constexpr std::uint64_t kSecondGuid = 0x0800'4601'0a0b'0c0d;
const FakeNode kCamcorder{.guid = kCamcorderGuid, .label = "Sony DCR-TRV900E"};

// The names listed, or the message of the error the listing threw.
std::vector<std::string> listing(const std::vector<FakeNode>& nodes,
                                 std::vector<FireWireAccessProblem> accessProblems = {})
{
    auto bus = busWith(nodes);
    bus->script([&](testing::FakeBusState& state) { state.accessProblems = accessProblems; });
    std::vector<std::string> names;
    try {
        ScopedVideoDeviceBackends backends({makeFireWireBackend(bus, testing::kQuickTimeouts)});
        ListVideoDevices(names);
    } catch (const CDShowException& error) {
        EXPECT_EQ(error.kind(), GraphErrorKind::NoSuchDevice);
        names = {"thrown: " + error.message()};
    }
    EXPECT_EQ(bus->state().openHandles, 0) << "every handle closed after listing";
    return names;
}

TEST(FireWireDevices, lists_each_dv_tape_unit_under_a_name_that_can_be_chosen_or_says_why_none)
{
    const FakeNode second{.guid = kSecondGuid, .label = "Sony DCR-TRV900E"};
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
         {kCamcorder, second},
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
    for (const auto& test : cases)
        EXPECT_EQ(listing(test.nodes, test.accessProblems), test.expected) << test.what;
}

// --- transport

std::shared_ptr<IVideoDevice> openOnly(const std::shared_ptr<FakeFireWireBus>& bus)
{
    return testing::openListed(bus, "Sony DCR-TRV900E");
}

// The control commands a deck received, without the status queries.
std::vector<std::uint32_t> controlCommands(const FakeFireWireBus& bus, std::uint64_t guid = kCamcorderGuid)
{
    std::vector<std::uint32_t> commands;
    for (std::uint32_t command : bus.commandsTo(guid))
        if ((command & 0x0F000000u) == avc::kControl)
            commands.push_back(command);
    return commands;
}

TEST(FireWireTransport, each_mode_sends_its_own_vcr_command_whatever_the_deck_does)
{
    const struct {
        void (CDeviceControl::*command)();
        std::uint32_t expected;  // control, tape subunit 0, opcode, operand
    } cases[] = {
        {&CDeviceControl::Stop, 0x0020C460},        {&CDeviceControl::Play, 0x0020C375},
        {&CDeviceControl::Rewind, 0x0020C465},      {&CDeviceControl::FastForward, 0x0020C475},
        {&CDeviceControl::StepForward, 0x0020C330}, {&CDeviceControl::StepBackward, 0x0020C340},
        {&CDeviceControl::Record, 0x0020C275},      {&CDeviceControl::RecordPause, 0x0020C27D},
    };
    auto bus = busWith({kCamcorder});
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    for (const auto& test : cases) {
        // Twice each, the second from the state the first left: a second Play stays play, a wind
        // while playing stays a wind.
        for (int time = 0; time < 2; ++time) {
            const std::size_t before = controlCommands(*bus).size();
            (control.*test.command)();
            const auto sent = controlCommands(*bus);
            ASSERT_EQ(sent.size(), before + 1) << std::hex << test.expected;
            EXPECT_EQ(sent.back(), test.expected) << std::hex << sent.back();
            EXPECT_EQ(control.LastRefusal(), "");
        }
    }
}

TEST(FireWireTransport, a_refusal_reaches_the_caller_with_what_it_means)
{
    const struct {
        AvcReply reply;
        void (CDeviceControl::*command)();
        std::uint8_t opcode;
        std::uint8_t operand;
        const char* expected;  // part of the text; empty when the deck took it
    } cases[] = {
        {AvcReply::Rejected, &CDeviceControl::Record, avc::kOpRecord, 0x75, "write-protected"},
        {AvcReply::NotImplemented, &CDeviceControl::StepBackward, avc::kOpPlay, 0x40, "not implemented"},
        {AvcReply::NoAnswer, &CDeviceControl::FastForward, avc::kOpWind, 0x75, "did not answer"},
        {AvcReply::Rejected, &CDeviceControl::Rewind, avc::kOpWind, 0x65, "refused Rewind"},
        {AvcReply::Interim, &CDeviceControl::RecordPause, avc::kOpRecord, 0x7D, ""},
    };
    auto bus = busWith({kCamcorder});
    for (const auto& test : cases)
        bus->setReply(kCamcorderGuid, test.opcode, test.operand, test.reply);
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    for (const auto& test : cases) {
        (control.*test.command)();
        const std::string& refusal = control.LastRefusal();
        EXPECT_TRUE(*test.expected == '\0' ? refusal.empty() : refusal.find(test.expected) != std::string::npos)
            << test.expected << ": " << refusal;
    }
}

TEST(FireWireTransport, pause_waits_for_the_deck_to_play_before_freezing_and_gives_up_when_it_never_does)
{
    FakeNode threading = kCamcorder;
    threading.playQueriesBeforePlaying = 5;
    auto bus = busWith({threading});
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    control.Pause();
    EXPECT_EQ(control.LastRefusal(), "");
    EXPECT_EQ(controlCommands(*bus), (std::vector<std::uint32_t>{0x0020C375u, 0x0020C37Du})) << "play, then freeze";
    const auto all = bus->commandsTo(kCamcorderGuid);
    EXPECT_GE(std::count(all.begin(), all.end(), 0x0120D07Fu), 5) << "the deck was asked until it played";

    auto device = openOnly(busWith({kCamcorder}));  // stopped, and only told to freeze
    const std::string refusal = device->Transport()->SendMode(ED_MODE_FREEZE);
    EXPECT_NE(refusal.find("did not start playing"), std::string::npos) << refusal;
}

TEST(FireWireTransport, commands_follow_the_camcorder_by_guid_across_bus_resets)
{
    auto bus = busWith({kCamcorder});
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    control.Play();
    bus->busReset(FakeNode{.guid = kSecondGuid, .label = "Another deck"});  // the camcorder moves from node 0 to 1
    control.Stop();
    EXPECT_EQ(control.LastRefusal(), "");
    EXPECT_EQ(controlCommands(*bus), (std::vector<std::uint32_t>{0x0020C375u, 0x0020C460u}));
    EXPECT_TRUE(bus->commandsTo(kSecondGuid).empty()) << "nothing went to the node that took its number";

    bus->unplug(kCamcorderGuid);
    control.Record();
    EXPECT_NE(control.LastRefusal().find("not on the IEEE 1394 bus"), std::string::npos) << control.LastRefusal();
}

}  // namespace
}  // namespace vantrel::mediagraph
