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

using namespace std::chrono_literals;
using testing::AvcReply;
using testing::FakeFireWireBus;
using testing::FakeNode;

constexpr std::uint64_t kCamcorderGuid = 0x0800'4601'0203'0405;
constexpr std::uint64_t kSecondGuid = 0x0800'4601'0a0b'0c0d;
constexpr FireWireTimeouts kQuickTimeouts{300ms, 500ms, 1000ms, 1ms};

FakeNode camcorder(std::uint64_t guid, std::string label = "Sony DCR-TRV900E")
{
    FakeNode node;
    node.guid = guid;
    node.label = std::move(label);
    return node;
}

std::vector<std::string> listedNames(std::shared_ptr<FakeFireWireBus> bus)
{
    ScopedVideoDeviceBackends backends({makeFireWireBackend(bus, kQuickTimeouts)});
    std::vector<std::string> names;
    ListVideoDevices(names);
    return names;
}

struct ListingCase {
    const char* what;
    std::vector<FakeNode> nodes;
    std::vector<std::string> expected;
};

TEST(FireWireDevices, lists_each_dv_tape_unit_under_a_name_that_can_be_chosen)
{
    FakeNode unreadable = camcorder(0x11, "Unreadable");
    unreadable.canReadRom = false;
    FakeNode disk = camcorder(0x12, "Disk");
    disk.isAvcUnit = false;
    FakeNode tuner = camcorder(0x13, "Tuner");
    tuner.hasVcrSubunit = false;
    FakeNode hdv = camcorder(0x14, "Canon HV20");
    hdv.outputSignalMode = 0x10;  // MPEG transport stream
    FakeNode palDv = camcorder(0x15, "Panasonic NV-GS400");
    palDv.outputSignalMode = 0x80;  // SD 625-50
    const std::vector<ListingCase> cases = {
        {"one camcorder", {camcorder(kCamcorderGuid)}, {"Sony DCR-TRV900E"}},
        {"two of one model",
         {camcorder(kCamcorderGuid), camcorder(kSecondGuid)},
         {"Sony DCR-TRV900E (GUID 0800460102030405)", "Sony DCR-TRV900E (GUID 080046010a0b0c0d)"}},
        {"no textual leaves", {camcorder(kCamcorderGuid, "")}, {"DV camcorder"}},
        {"unreadable ROM, not AV/C, no tape subunit are skipped",
         {unreadable, disk, tuner, camcorder(kCamcorderGuid)},
         {"Sony DCR-TRV900E"}},
        {"HDV marked, DV of either field rate not", {hdv, palDv}, {"Canon HV20 (HDV: not supported)", "Panasonic NV-GS400"}},
    };
    for (const auto& test : cases) {
        auto bus = std::make_shared<FakeFireWireBus>();
        for (const auto& node : test.nodes)
            bus->addNode(node);
        EXPECT_EQ(listedNames(bus), test.expected) << test.what;
        EXPECT_EQ(bus->openHandles(), 0) << test.what;
    }
}

TEST(FireWireDevices, a_device_file_without_permission_is_named_with_the_fix)
{
    auto bus = std::make_shared<FakeFireWireBus>();
    bus->setAccessProblems({{"/dev/fw1", EACCES}});
    try {
        listedNames(bus);
        FAIL() << "a listing without devices throws";
    } catch (const CDShowException& error) {
        EXPECT_EQ(error.kind(), GraphErrorKind::NoSuchDevice);
        const std::string message = error.message();
        EXPECT_EQ(message.rfind("No video device found: ", 0), 0u) << message;
        EXPECT_NE(message.find("/dev/fw1"), std::string::npos) << message;
        EXPECT_NE(message.find("video"), std::string::npos) << message;
        EXPECT_NE(message.find("udev"), std::string::npos) << message;
    }

    auto quiet = std::make_shared<FakeFireWireBus>();
    try {
        listedNames(quiet);
        FAIL() << "a listing without devices throws";
    } catch (const CDShowException& error) {
        EXPECT_EQ(error.message(), "No video device found");
    }
}

// --- transport

std::shared_ptr<IVideoDevice> openOnly(const std::shared_ptr<FakeFireWireBus>& bus)
{
    auto listed = makeFireWireBackend(bus, kQuickTimeouts)->Enumerate();
    return listed.value().at(0)->Open();
}

// The control commands a deck received, without the status queries.
std::vector<std::uint32_t> controlCommands(const FakeFireWireBus& bus, std::uint64_t guid)
{
    std::vector<std::uint32_t> commands;
    for (std::uint32_t command : bus.commandsTo(guid))
        if ((command & 0x0F000000u) == avc::kControl)
            commands.push_back(command);
    return commands;
}

TEST(FireWireTransport, each_mode_sends_its_own_vcr_command_whatever_the_deck_does)
{
    struct Case {
        void (CDeviceControl::*command)();
        std::uint32_t expected;  // control, tape subunit 0, opcode, operand
    };
    const std::vector<Case> cases = {
        {&CDeviceControl::Stop, 0x0020C460},        {&CDeviceControl::Play, 0x0020C375},
        {&CDeviceControl::Rewind, 0x0020C465},      {&CDeviceControl::FastForward, 0x0020C475},
        {&CDeviceControl::StepForward, 0x0020C330}, {&CDeviceControl::StepBackward, 0x0020C340},
        {&CDeviceControl::Record, 0x0020C275},      {&CDeviceControl::RecordPause, 0x0020C27D},
    };
    auto bus = std::make_shared<FakeFireWireBus>();
    bus->addNode(camcorder(kCamcorderGuid));
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    for (const auto& test : cases) {
        // Twice each, the second from the state the first left: a second Play stays play, a wind
        // while playing stays a wind.
        for (int time = 0; time < 2; ++time) {
            const std::size_t before = controlCommands(*bus, kCamcorderGuid).size();
            (control.*test.command)();
            const auto sent = controlCommands(*bus, kCamcorderGuid);
            ASSERT_EQ(sent.size(), before + 1) << std::hex << test.expected;
            EXPECT_EQ(sent.back(), test.expected) << std::hex << sent.back();
            EXPECT_EQ(control.LastRefusal(), "");
        }
    }
}

TEST(FireWireTransport, a_refusal_reaches_the_caller_with_what_it_means)
{
    struct Case {
        AvcReply reply;
        void (CDeviceControl::*command)();
        std::uint8_t opcode;
        std::uint8_t operand;
        const char* expected;  // part of the text; empty when the deck took it
    };
    const std::vector<Case> cases = {
        {AvcReply::Rejected, &CDeviceControl::Record, avc::kOpRecord, 0x75, "write-protected"},
        {AvcReply::NotImplemented, &CDeviceControl::StepBackward, avc::kOpPlay, 0x40, "not implemented"},
        {AvcReply::NoAnswer, &CDeviceControl::FastForward, avc::kOpWind, 0x75, "did not answer"},
        {AvcReply::Rejected, &CDeviceControl::Rewind, avc::kOpWind, 0x65, "refused Rewind"},
        {AvcReply::Interim, &CDeviceControl::Record, avc::kOpRecord, 0x75, ""},
    };
    for (const auto& test : cases) {
        auto bus = std::make_shared<FakeFireWireBus>();
        bus->addNode(camcorder(kCamcorderGuid));
        bus->setReply(kCamcorderGuid, test.opcode, test.operand, test.reply);
        CDeviceControl control;
        ASSERT_TRUE(control.Attach(openOnly(bus)));
        (control.*test.command)();
        const std::string expected = test.expected;
        if (expected.empty()) {
            EXPECT_EQ(control.LastRefusal(), "");
            EXPECT_NO_THROW(control.ThrowIfRefused());
            continue;
        }
        EXPECT_NE(control.LastRefusal().find(expected), std::string::npos) << control.LastRefusal();
        try {
            control.ThrowIfRefused();
            ADD_FAILURE() << "a refusal throws";
        } catch (const CDShowException& error) {
            EXPECT_EQ(error.kind(), GraphErrorKind::Graph);
            EXPECT_EQ(error.message(), control.LastRefusal());
        }
        control.Stop();
        EXPECT_EQ(control.LastRefusal(), "") << "a later command that is taken clears the refusal";
    }
}

TEST(FireWireTransport, pause_waits_for_the_deck_to_play_before_freezing)
{
    auto bus = std::make_shared<FakeFireWireBus>();
    FakeNode deck = camcorder(kCamcorderGuid);
    deck.playQueriesBeforePlaying = 5;  // threading the tape
    bus->addNode(deck);
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    control.Pause();
    EXPECT_EQ(control.LastRefusal(), "");
    const auto sent = controlCommands(*bus, kCamcorderGuid);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent.front(), 0x0020C375u) << "play";
    EXPECT_EQ(sent.back(), 0x0020C37Du) << "then freeze";
    const auto all = bus->commandsTo(kCamcorderGuid);
    const auto statusQueries = std::count(all.begin(), all.end(), 0x0120D07Fu);
    EXPECT_GE(statusQueries, 5) << "the deck was asked until it played";
}

TEST(FireWireTransport, pause_gives_up_with_a_reason_when_the_deck_never_plays)
{
    auto bus = std::make_shared<FakeFireWireBus>();
    bus->addNode(camcorder(kCamcorderGuid));
    auto device = openOnly(bus);  // stopped, and only told to freeze
    const std::string refusal = device->Transport()->SendMode(ED_MODE_FREEZE);
    EXPECT_NE(refusal.find("did not start playing"), std::string::npos) << refusal;
}

TEST(FireWireTransport, commands_find_the_camcorder_after_its_node_number_changed)
{
    auto bus = std::make_shared<FakeFireWireBus>();
    bus->addNode(camcorder(kCamcorderGuid));
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    control.Play();
    bus->busReset(camcorder(kSecondGuid, "Another deck"));  // the camcorder moves from node 0 to 1
    control.Stop();
    EXPECT_EQ(control.LastRefusal(), "");
    EXPECT_EQ(controlCommands(*bus, kCamcorderGuid), (std::vector<std::uint32_t>{0x0020C375u, 0x0020C460u}));
    EXPECT_TRUE(bus->commandsTo(kSecondGuid).empty()) << "nothing went to the node that took its number";
}

TEST(FireWireTransport, a_camcorder_that_left_the_bus_is_reported)
{
    auto bus = std::make_shared<FakeFireWireBus>();
    bus->addNode(camcorder(kCamcorderGuid));
    CDeviceControl control;
    ASSERT_TRUE(control.Attach(openOnly(bus)));
    bus->unplug(kCamcorderGuid);
    control.Record();
    EXPECT_NE(control.LastRefusal().find("not on the IEEE 1394 bus"), std::string::npos) << control.LastRefusal();
}

}  // namespace
}  // namespace vantrel::mediagraph
