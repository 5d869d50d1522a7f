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
#include <set>
#include <span>
#include <string>
#include <vector>

namespace vantrel::mediagraph::testing {

enum class AvcReply { Unknown, Accepted, Rejected, Interim, NotImplemented, NoAnswer };

struct FakeNode {
    std::uint64_t guid = 0;
    std::string label{};
    bool isAvcUnit = true;
    bool hasVcrSubunit = true;
    bool canReadRom = true;
    bool hasPlugs = true;                          // plug control registers for CMP
    std::optional<std::uint8_t> outputSignalMode{};  // nothing: the status is not implemented
    int playQueriesBeforePlaying = 0;              // transport-state queries a deck threads the tape for
};

// One CMP connection as the bus holds it.
struct FakeConnection {
    std::uint64_t outputGuid = 0;
    std::uint64_t inputGuid = 0;
    int channel = -1;
    int bandwidth = 0;
    bool isAwaitingRestore = false;  // a bus reset happened and it was not reconnected yet
};

// What one camcorder's input reassembled from the packets on its channel.
struct ReceivedStream {
    std::vector<std::vector<std::byte>> distinctFrames;  // whole frames, consecutive repeats kept once
    std::vector<std::size_t> packetsPerFrame;            // of each distinct frame
};

// What the bus does wrong, set by a test under the bus lock (see script).
struct FakeBusFaults {
    std::vector<FireWireAccessProblem> accessProblems;
    std::deque<int> iterationErrors;  // errno of each failing iterate(), in turn
    bool doesTransmitStartFail = false;
    bool isTransmitStalled = false;   // the port stops asking for packets
};

class FakeFireWireBus : public IFireWireBus {
public:
    static constexpr std::uint64_t kLocalGuid = 0x0000'0000'c0ff'ee00;
    static constexpr int kTotalBandwidth = 4915;  // allocation units of one bus
    static constexpr int kDvBandwidth = 1200;

    FakeFireWireBus();
    ~FakeFireWireBus() override;

    // --- scripting
    void addNode(FakeNode node)  // before this computer's node
    {
        std::lock_guard lock(m_mutex);
        m_nodes.insert(m_nodes.end() - 1, std::move(node));
    }
    void setReply(std::uint64_t guid, std::uint8_t opcode, std::uint8_t operand, AvcReply reply)
    {
        std::lock_guard lock(m_mutex);
        m_replies[{guid, static_cast<std::uint16_t>(opcode << 8 | operand)}] = reply;
    }
    void script(const std::function<void(FakeBusFaults&)>& change);
    // Resets the bus; with a new node, it comes first and every other node number moves up.
    void busReset(std::optional<FakeNode> newFirstNode = std::nullopt);
    // The node leaves the bus, which resets.
    void unplug(std::uint64_t guid);
    // Pushes a frame as the camcorder sends it; returns how many receivers got it.
    int sendFromCamcorder(std::uint64_t guid, std::span<const std::byte> frame, std::uint64_t sequence);

    // --- observing
    std::vector<FakeConnection> connections() const
    {
        std::lock_guard lock(m_mutex);
        return m_connections;
    }
    int freeBandwidth() const
    {
        std::lock_guard lock(m_mutex);
        return m_freeBandwidth;
    }
    std::vector<std::uint32_t> commandsTo(std::uint64_t guid) const
    {
        std::lock_guard lock(m_mutex);
        return m_commands.contains(guid) ? m_commands.at(guid) : std::vector<std::uint32_t>{};
    }
    ReceivedStream received(std::uint64_t guid) const
    {
        std::lock_guard lock(m_mutex);
        return m_received.contains(guid) ? m_received.at(guid) : ReceivedStream{};
    }
    int lastReceiverChannel() const
    {
        std::lock_guard lock(m_mutex);
        return m_receivers.empty() ? -1 : m_receivers.back().channel;
    }
    int openHandles() const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_handles.size());
    }
    bool isTransmitting() const;
    // Waits until the predicate over the bus holds; false at the deadline.
    bool waitUntil(const std::function<bool(const FakeFireWireBus&)>& condition, std::chrono::milliseconds timeout) const;

    // --- the interface
    int portCount() override { return 1; }
    std::unique_ptr<IFireWireHandle> open(int port) override;
    std::vector<FireWireAccessProblem> accessProblems() override
    {
        std::lock_guard lock(m_mutex);
        return m_faults.accessProblems;
    }
    GstOwned<GstElement> makeDvReceiver(int port, std::uint64_t guid) override;
    void setReceiverChannel(GstElement* receiver, int channel) override
    {
        std::lock_guard lock(m_mutex);
        for (auto& known : m_receivers)
            if (known.element == receiver)
                known.channel = channel;
        m_changed.notify_all();
    }

private:
    class Handle;
    friend class Handle;

    struct DeckState {
        std::uint8_t opcode = avc::kOpWind;
        std::uint8_t operand = 0x60;  // stopped
        int threadingQueriesLeft = 0;
    };
    struct Receiver {
        GstElement* element;  // a reference held
        int channel;
    };
    struct Assembly {
        std::vector<std::byte> frame;
        std::size_t packets = 0;
    };

    std::optional<std::uint64_t> guidAt(FireWireNodeId id) const;
    void deliverPacket(int channel, std::span<const unsigned char> payload);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;  // notified on every change a test may wait for
    std::vector<FakeNode> m_nodes;              // by node number; this computer last
    unsigned m_generation = 1;
    FakeBusFaults m_faults;
    std::map<std::pair<std::uint64_t, std::uint16_t>, AvcReply> m_replies;
    std::map<std::uint64_t, std::vector<std::uint32_t>> m_commands;
    std::map<std::uint64_t, DeckState> m_decks;
    std::vector<FakeConnection> m_connections;
    int m_freeBandwidth = kTotalBandwidth;
    std::set<Handle*> m_handles;
    std::map<std::uint64_t, ReceivedStream> m_received;
    std::map<std::uint64_t, Assembly> m_assemblies;
    std::vector<Receiver> m_receivers;
};

inline constexpr std::uint64_t kCamcorderGuid = 0x0800'4601'0203'0405;
// Deadlines short enough for tests: first frame, frame taken, play before freeze, status poll.
inline constexpr FireWireTimeouts kQuickTimeouts{std::chrono::milliseconds(300), std::chrono::milliseconds(500),
                                                 std::chrono::milliseconds(1000), std::chrono::milliseconds(1)};

// A bus with these nodes besides this computer's.
std::shared_ptr<FakeFireWireBus> busWith(const std::vector<FakeNode>& nodes);
// The device that the FireWire backend lists under this name on the bus, opened; null when none is.
std::shared_ptr<IVideoDevice> openListed(const std::shared_ptr<FakeFireWireBus>& bus, const std::string& name,
                                         FireWireTimeouts timeouts = kQuickTimeouts);

}  // namespace vantrel::mediagraph::testing
