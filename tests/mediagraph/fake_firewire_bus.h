// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted IEEE 1394 bus for tests: nodes with GUIDs, plugs, channels and bandwidth, AV/C
// replies, bus resets at chosen moments, a receiver that reassembles transmitted packets into
// frames, and DV receivers that get what a camcorder sends on the channel they listen to; and the
// scenario the tests share, a bus with camcorders opened through the FireWire backend.
#pragma once

#include "mediagraph/firewire_bus.h"
#include "mediagraph/video_devices.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrel::mediagraph::testing {

enum class AvcReply { Accepted, Rejected, Interim, NotImplemented, NoAnswer };  // to a control command

struct FakeNode {
    std::uint64_t guid = 0;
    std::string label{};
    bool isAvcUnit = true;
    bool hasVcrSubunit = true;
    bool canReadRom = true;
    bool hasPlugs = true;                            // plug control registers for CMP
    std::optional<std::uint8_t> outputSignalMode{};  // nothing: the status is not implemented
    int playQueriesBeforePlaying = 0;                // transport-state queries a deck threads the tape for
};

// One CMP connection as the bus holds it.
struct FakeConnection {
    std::uint64_t outputGuid = 0;
    std::uint64_t inputGuid = 0;
    int channel = -1;
    int bandwidth = 0;
    bool isAwaitingRestore = false;  // a bus reset happened and it was not reconnected yet
    bool operator==(const FakeConnection&) const = default;
};

// What the bus holds: set by a test through script(), read through state() and waitUntil().
struct FakeBusState {
    static constexpr int kTotalBandwidth = 4915;  // allocation units of one bus

    std::vector<FakeNode> nodes;                                          // by node number; this computer last
    std::map<std::pair<std::uint64_t, std::uint16_t>, AvcReply> replies;  // GUID, opcode << 8 | operand
    std::vector<FireWireAccessProblem> accessProblems;
    std::deque<int> iterationErrors;  // errno of each failing iterate(), in turn
    bool doesTransmitStartFail = false;
    bool isTransmitStalled = false;  // the port stops asking for packets

    std::map<std::uint64_t, std::vector<std::uint32_t>> commands;  // AV/C commands each node received
    std::vector<FakeConnection> connections;
    int freeBandwidth = kTotalBandwidth;
    // What each camcorder's input reassembled from the packets on its channel: whole frames,
    // consecutive repeats kept once.
    std::map<std::uint64_t, std::vector<std::vector<std::byte>>> received;
    int openHandles = 0;
    int transmitters = 0;
};

class FakeFireWireBus : public IFireWireBus {
public:
    static constexpr std::uint64_t kLocalGuid = 0x0000'0000'c0ff'ee00;
    static constexpr int kDvBandwidth = 1200;

    explicit FakeFireWireBus(std::vector<FakeNode> nodes = {});  // besides this computer's node

    // --- scripting and observing
    void script(const std::function<void(FakeBusState&)>& change);
    FakeBusState state() const;
    // Waits until the condition over the bus holds; false at the deadline.
    bool waitUntil(const std::function<bool(const FakeBusState&)>& condition, std::chrono::milliseconds timeout) const;
    void addNode(FakeNode node)  // before this computer's node
    {
        script([&](FakeBusState& bus) { bus.nodes.insert(bus.nodes.end() - 1, std::move(node)); });
    }
    void setReply(std::uint64_t guid, std::uint8_t opcode, std::uint8_t operand, AvcReply reply)
    {
        script([&](FakeBusState& bus) { bus.replies[{guid, static_cast<std::uint16_t>(opcode << 8 | operand)}] = reply; });
    }
    std::vector<std::vector<std::byte>> received(std::uint64_t guid) const { return state().received[guid]; }
    std::vector<std::uint32_t> commandsTo(std::uint64_t guid) const { return state().commands[guid]; }
    // Resets the bus; with a new node, it comes first and every other node number moves up.
    void busReset(std::optional<FakeNode> newFirstNode = std::nullopt);
    // The node leaves the bus, which resets.
    void unplug(std::uint64_t guid);
    // Pushes a frame as the camcorder sends it; returns how many receivers got it.
    int sendFromCamcorder(std::uint64_t guid, std::span<const std::byte> frame, std::uint64_t sequence);

    // --- the interface
    int portCount() override { return 1; }
    std::unique_ptr<IFireWireHandle> open(int port) override;
    std::vector<FireWireAccessProblem> accessProblems() override { return state().accessProblems; }
    GstOwned<GstElement> makeDvReceiver(int port, std::uint64_t guid) override;
    void setReceiverChannel(GstElement* receiver, int channel) override;

private:
    class Handle;

    void deliverPacket(int channel, std::span<const unsigned char> payload);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // notified on every change a test may wait for
    FakeBusState m_state;
    unsigned m_generation = 1;
    std::vector<Handle*> m_handles;
    std::map<std::uint64_t, std::vector<std::byte>> m_assemblies;  // the frame each input is receiving
    std::map<std::uint64_t, std::pair<std::uint8_t, std::uint8_t>> m_decks;  // transport state: opcode, operand
    std::map<std::uint64_t, int> m_threadingQueries;                         // left before a deck plays
    std::vector<std::pair<GstOwned<GstElement>, int>> m_receivers;  // the DV receivers and their channels
};

inline constexpr std::uint64_t kCamcorderGuid = 0x0800'4601'0203'0405;
// Deadlines short enough for tests: first frame, frame taken, play before freeze, status poll.
inline constexpr FireWireTimeouts kQuickTimeouts{std::chrono::milliseconds(300), std::chrono::milliseconds(500),
                                                 std::chrono::milliseconds(1000), std::chrono::milliseconds(1)};

inline std::shared_ptr<FakeFireWireBus> busWith(std::vector<FakeNode> nodes)
{
    return std::make_shared<FakeFireWireBus>(std::move(nodes));
}
// The device that the FireWire backend lists under this name on the bus, opened; null when none is.
std::shared_ptr<IVideoDevice> openListed(const std::shared_ptr<FakeFireWireBus>& bus, const std::string& name,
                                         FireWireTimeouts timeouts = kQuickTimeouts);

}  // namespace vantrel::mediagraph::testing
