// SPDX-License-Identifier: GPL-3.0-or-later
// The scripted IEEE 1394 bus: node numbering, CMP resources, AV/C decks, packets and receivers.
#include "fake_firewire_bus.h"

#include "dv/dif_layout.h"

#include <gst/app/gstappsrc.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace vantrel::mediagraph::testing {

constexpr int kPacketsPerIteration = 25;  // one DIF sequence of a frame per event
constexpr int kBroadcastChannel = 63;

class FakeFireWireBus::Handle : public IFireWireHandle {
public:
    explicit Handle(FakeFireWireBus& bus) : m_bus(bus), m_eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        m_bus.script([this](FakeBusState& state) {
            m_generation = m_announced = m_bus.m_generation;
            m_bus.m_handles.push_back(this);
            ++state.openHandles;
        });
    }
    ~Handle() override
    {
        stopDvTransmit();
        m_bus.script([this](FakeBusState& state) {
            std::erase(m_bus.m_handles, this);
            --state.openHandles;
        });
        close(m_eventFd);
    }

    int nodeCount() override
    {
        std::lock_guard lock(m_bus.m_mutex);
        return static_cast<int>(m_bus.m_state.nodes.size());
    }
    FireWireNodeId localNodeId() override { return static_cast<FireWireNodeId>(kLocalBusNodeBase | (nodeCount() - 1)); }
    std::optional<FireWireRom> readRom(int node) override
    {
        const auto found = nodeAt(node);
        return found && found->canReadRom ? std::optional(FireWireRom{found->guid, found->label, found->isAvcUnit})
                                          : std::nullopt;
    }
    std::optional<std::uint64_t> readGuid(int node) override
    {
        const auto found = nodeAt(node);
        return found ? std::optional(found->guid) : std::nullopt;
    }
    bool hasVcrSubunit(int node) override
    {
        const auto found = nodeAt(node);
        return found && found->hasVcrSubunit;
    }

    // Status: the output signal mode as the node declares it, and the deck's transport state, which
    // turns to play after the queries a deck takes to thread the tape. Control: the scripted reply,
    // else accepted, and the deck takes the command's mode.
    std::optional<std::uint32_t> avcTransaction(int node, std::uint32_t command) override
    {
        const auto found = nodeAt(node);
        std::lock_guard lock(m_bus.m_mutex);
        if (!found)
            return std::nullopt;
        m_bus.m_state.commands[found->guid].push_back(command);
        m_bus.m_changed.notify_all();
        const std::uint32_t echo = command & 0x00FFFFFFu;
        const std::uint8_t opcode = avc::opcode(command);
        const std::uint8_t operand = avc::operand(command);
        auto& deck = m_bus.m_decks.try_emplace(found->guid, avc::kOpWind, 0x60).first->second;
        int& threading = m_bus.m_threadingQueries[found->guid];
        if ((command & 0x0F000000u) == avc::kStatus) {
            if (opcode == avc::kOpOutputSignalMode && found->outputSignalMode)
                return avc::kStable | (echo & 0xFFFFFF00u) | *found->outputSignalMode;
            if (opcode != avc::kOpTransportState)
                return avc::kNotImplemented | echo;
            if (threading > 0 && --threading == 0)
                deck = {avc::kOpPlay, 0x75};
            return avc::kStable | avc::kVcrSubunit | (std::uint32_t{deck.first} << 8) | deck.second;
        }
        const auto scripted = m_bus.m_state.replies.find({found->guid, static_cast<std::uint16_t>(opcode << 8 | operand)});
        const AvcReply reply = scripted != m_bus.m_state.replies.end() ? scripted->second : AvcReply::Accepted;
        if (reply == AvcReply::NoAnswer)
            return std::nullopt;
        if (reply == AvcReply::Accepted || reply == AvcReply::Interim) {
            const bool isThreading = opcode == avc::kOpPlay && operand == 0x75 && deck.first != avc::kOpPlay;
            threading = isThreading ? found->playQueriesBeforePlaying : 0;
            deck = threading > 0 ? std::pair{avc::kOpWind, std::uint8_t{0x60}} : std::pair{opcode, operand};
        }
        constexpr std::uint32_t kCodes[] = {avc::kAccepted, avc::kRejected, avc::kInterim, avc::kNotImplemented};
        return kCodes[static_cast<int>(reply)] | echo;
    }

    // A new connection on the first free channel from 0, with DV bandwidth when asked for.
    int cmpConnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        const auto from = nodeAt(output & 0x3f);
        const auto to = nodeAt(input & 0x3f);
        if (!from || !to || !from->hasPlugs || !to->hasPlugs)
            return -1;
        std::lock_guard lock(m_bus.m_mutex);
        auto& held = m_bus.m_state.connections;
        int channel = 0;
        while (std::any_of(held.begin(), held.end(), [&](const FakeConnection& c) { return c.channel == channel; }))
            ++channel;
        const int bandwidth = connection.bandwidth != 0 ? kDvBandwidth : 0;
        m_bus.m_state.freeBandwidth -= bandwidth;
        held.push_back({from->guid, to->guid, channel, bandwidth});
        connection = CmpConnection{0, 0, channel, bandwidth};
        m_bus.m_changed.notify_all();
        return channel;
    }
    int cmpReconnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        return restoreOrEnd(output, input, connection.channel, false);
    }
    int cmpDisconnect(FireWireNodeId output, FireWireNodeId input, const CmpConnection& connection) override
    {
        return restoreOrEnd(output, input, connection.channel, true) < 0 ? -1 : 0;
    }

    void setBusResetHandler(BusResetHandler handler) override { m_resetHandler = std::move(handler); }
    void updateGeneration(unsigned generation) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        m_generation = generation;
    }

    bool startDvTransmit(bool, int channel, DvPayloadSource source) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        if (m_bus.m_state.doesTransmitStartFail)
            return false;
        m_channel = channel;
        m_source = std::move(source);
        m_bus.m_state.transmitters += m_isTransmitting ? 0 : 1;
        m_isTransmitting = true;
        signal();
        m_bus.m_changed.notify_all();
        return true;
    }
    void stopDvTransmit() override
    {
        m_bus.script([this](FakeBusState& state) {
            state.transmitters -= m_isTransmitting ? 1 : 0;
            m_isTransmitting = false;
        });
    }

    int eventFd() override { return m_eventFd; }

    int iterate() override
    {
        std::unique_lock lock(m_bus.m_mutex);
        if (auto& errors = m_bus.m_state.iterationErrors; !errors.empty()) {
            errno = errors.front();
            errors.pop_front();
            return -1;
        }
        if (m_announced != m_bus.m_generation) {  // a reset not yet handled (several: handled as one)
            const unsigned generation = m_announced = m_bus.m_generation;
            lock.unlock();
            m_resetHandler(generation);
            return 0;
        }
        if (!m_isTransmitting || m_bus.m_state.isTransmitStalled) {
            std::uint64_t value = 0;
            [[maybe_unused]] const auto got = read(m_eventFd, &value, sizeof value);  // nothing to do: not readable
            return 0;
        }
        lock.unlock();
        // A packet as libiec61883 builds it: an 8-byte CIP header, then the payload that the
        // callback fills, one payload per data packet, with an empty packet now and then.
        std::array<unsigned char, 8 + kDvPacketPayloadBytes> packet{};
        for (int index = 0; index < kPacketsPerIteration; ++index) {
            const int payloadCount = index % 8 == 7 ? 0 : 1;
            packet.fill(0xEE);  // stale bytes of an earlier packet
            if (fillDvPackets(packet.data() + 8, payloadCount, m_source) < 0) {
                errno = EIO;  // the library ends the transmission when its callback fails
                return -1;
            }
            if (payloadCount == 0)
                continue;
            std::lock_guard relock(m_bus.m_mutex);
            m_bus.deliverPacket(m_channel, std::span<const unsigned char>(packet).subspan(8));
        }
        return 0;
    }

    void signal()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_eventFd, &one, sizeof one);
    }

private:
    std::optional<FakeNode> nodeAt(int node) const  // nothing for a stale handle
    {
        std::lock_guard lock(m_bus.m_mutex);
        const auto& nodes = m_bus.m_state.nodes;
        if (m_generation != m_bus.m_generation || node < 0 || node >= static_cast<int>(nodes.size()))
            return std::nullopt;
        return nodes[static_cast<std::size_t>(node)];
    }

    // Restores the connection between the two nodes on the channel after a reset, or ends it and
    // frees its bandwidth; -1 when there is none (also through a stale handle).
    int restoreOrEnd(FireWireNodeId output, FireWireNodeId input, int channel, bool isEnding)
    {
        const auto from = nodeAt(output & 0x3f);
        const auto to = nodeAt(input & 0x3f);
        std::lock_guard lock(m_bus.m_mutex);
        auto& held = m_bus.m_state.connections;
        const auto found = std::find_if(held.begin(), held.end(), [&](const FakeConnection& c) {
            return from && to && from->guid == c.outputGuid && to->guid == c.inputGuid && c.channel == channel;
        });
        if (found == held.end())
            return -1;
        found->isAwaitingRestore = false;
        if (isEnding) {
            m_bus.m_state.freeBandwidth += found->bandwidth;
            held.erase(found);
        }
        m_bus.m_changed.notify_all();
        return channel;
    }

    FakeFireWireBus& m_bus;
    int m_eventFd;
    unsigned m_generation = 0;
    unsigned m_announced = 0;  // the generation of the last reset handed to the handler
    BusResetHandler m_resetHandler;
    DvPayloadSource m_source;
    bool m_isTransmitting = false;
    int m_channel = -1;
};

FakeFireWireBus::FakeFireWireBus(std::vector<FakeNode> nodes)
{
    m_state.nodes = std::move(nodes);
    m_state.nodes.push_back(
        FakeNode{.guid = kLocalGuid, .label = "this computer", .isAvcUnit = false, .hasVcrSubunit = false});
}

void FakeFireWireBus::script(const std::function<void(FakeBusState&)>& change)
{
    std::lock_guard lock(m_mutex);
    change(m_state);
    for (Handle* handle : m_handles)
        handle->signal();  // a transmitter looks at the faults again
    m_changed.notify_all();
}

FakeBusState FakeFireWireBus::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool FakeFireWireBus::waitUntil(const std::function<bool(const FakeBusState&)>& condition,
                                std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return condition(m_state); });
}

void FakeFireWireBus::busReset(std::optional<FakeNode> newFirstNode)
{
    std::lock_guard lock(m_mutex);
    if (newFirstNode)
        m_state.nodes.insert(m_state.nodes.begin(), std::move(*newFirstNode));
    ++m_generation;
    for (auto& connection : m_state.connections)
        connection.isAwaitingRestore = true;
    for (Handle* handle : m_handles)
        handle->signal();  // the handler is called from its next iterate()
    m_changed.notify_all();
}

void FakeFireWireBus::unplug(std::uint64_t guid)
{
    script([guid](FakeBusState& bus) { std::erase_if(bus.nodes, [guid](const FakeNode& n) { return n.guid == guid; }); });
    busReset();
}

void FakeFireWireBus::deliverPacket(int channel, std::span<const unsigned char> payload)
{
    for (const auto& connection : m_state.connections) {
        if (connection.channel != channel || connection.outputGuid != kLocalGuid)
            continue;
        std::vector<std::byte>& frame = m_assemblies[connection.inputGuid];
        // The header block of DIF sequence 0 starts every frame: section type 0, sequence 0, block 0.
        const bool startsFrame = (payload[0] & 0xE0u) == 0 && (payload[1] >> 4) == 0 && payload[2] == 0;
        if (startsFrame && !frame.empty()) {
            auto& frames = m_state.received[connection.inputGuid];
            const bool isWhole = frame.size() == dv::kPalFrameBytes || frame.size() == dv::kNtscFrameBytes;
            if (isWhole && (frames.empty() || frames.back() != frame))
                frames.push_back(frame);
            frame.clear();
            m_changed.notify_all();
        }
        const auto* bytes = reinterpret_cast<const std::byte*>(payload.data());
        frame.insert(frame.end(), bytes, bytes + payload.size());
    }
}

int FakeFireWireBus::sendFromCamcorder(std::uint64_t guid, std::span<const std::byte> frame, std::uint64_t sequence)
{
    std::vector<GstOwned<GstElement>> targets;
    {
        std::lock_guard lock(m_mutex);
        int channel = kBroadcastChannel;
        for (const auto& connection : m_state.connections)
            if (connection.outputGuid == guid)
                channel = connection.channel;
        for (const auto& [receiver, listening] : m_receivers)
            if (listening == channel)
                targets.push_back(retain(receiver.get()));
    }
    for (const auto& target : targets) {
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GST_BUFFER_OFFSET(buffer) = sequence;
        gst_app_src_push_buffer(GST_APP_SRC(target.get()), buffer);  // transfer full
    }
    return static_cast<int>(targets.size());
}

std::unique_ptr<IFireWireHandle> FakeFireWireBus::open(int port)
{
    return port == 0 ? std::make_unique<Handle>(*this) : nullptr;
}

GstOwned<GstElement> FakeFireWireBus::makeDvReceiver(int, std::uint64_t)
{
    GstOwned<GstElement> source = makeElement("appsrc", nullptr);
    GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string("video/x-dv, systemstream=(boolean)true"));
    g_object_set(source.get(), "caps", caps.get(), "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE,
                 nullptr);
    script([&](FakeBusState&) { m_receivers.emplace_back(retain(source.get()), kBroadcastChannel); });
    return source;
}

void FakeFireWireBus::setReceiverChannel(GstElement* receiver, int channel)
{
    std::lock_guard lock(m_mutex);
    for (auto& [known, listening] : m_receivers)
        listening = known.get() == receiver ? channel : listening;
}

std::shared_ptr<IVideoDevice> openListed(const std::shared_ptr<FakeFireWireBus>& bus, const std::string& name,
                                         FireWireTimeouts timeouts)
{
    auto listed = makeFireWireBackend(bus, timeouts)->Enumerate();  // kept while its entries are used
    for (auto& entry : listed.value())
        if (entry->ReadFriendlyName().value() == name)
            return entry->Open();
    return nullptr;
}

}  // namespace vantrel::mediagraph::testing
