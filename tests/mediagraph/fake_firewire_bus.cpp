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

namespace {

constexpr int kPacketsPerIteration = 25;  // one DIF sequence of a frame per event
constexpr int kBroadcastChannel = 63;

// The header block of DIF sequence 0 starts every frame: section type 0, sequence 0, block 0.
bool startsFrame(std::span<const unsigned char> payload)
{
    return (payload[0] & 0xE0u) == 0 && (payload[1] >> 4) == 0 && payload[2] == 0;
}

}  // namespace

class FakeFireWireBus::Handle : public IFireWireHandle {
public:
    explicit Handle(FakeFireWireBus& bus) : m_bus(bus), m_eventFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        std::lock_guard lock(m_bus.m_mutex);
        m_generation = m_bus.m_generation;
        m_bus.m_handles.insert(this);
        m_bus.m_changed.notify_all();
    }
    ~Handle() override
    {
        stopDvTransmit();
        std::lock_guard lock(m_bus.m_mutex);
        m_bus.m_handles.erase(this);
        m_bus.m_changed.notify_all();
        close(m_eventFd);
    }

    void queueReset()  // bus mutex held
    {
        ++m_pendingResets;
        signal();
    }
    bool isTransmitting() const { return m_isTransmitting; }  // bus mutex held
    void wake()                                                 // bus mutex held
    {
        if (m_isTransmitting)
            signal();
    }

    int nodeCount() override
    {
        std::lock_guard lock(m_bus.m_mutex);
        return static_cast<int>(m_bus.m_nodes.size());
    }
    FireWireNodeId localNodeId() override
    {
        std::lock_guard lock(m_bus.m_mutex);
        return static_cast<FireWireNodeId>(kLocalBusNodeBase | (m_bus.m_nodes.size() - 1));
    }
    std::optional<FireWireRom> readRom(int node) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        const FakeNode* found = nodeAt(node);
        if (found == nullptr || !found->canReadRom)
            return std::nullopt;
        return FireWireRom{found->guid, found->label, found->isAvcUnit};
    }
    std::optional<std::uint64_t> readGuid(int node) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        const FakeNode* found = nodeAt(node);
        return found != nullptr ? std::optional(found->guid) : std::nullopt;
    }
    bool hasVcrSubunit(int node) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        const FakeNode* found = nodeAt(node);
        return found != nullptr && found->hasVcrSubunit;
    }

    std::optional<std::uint32_t> avcTransaction(int node, std::uint32_t command) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        const FakeNode* found = nodeAt(node);
        if (found == nullptr)
            return std::nullopt;
        m_bus.m_commands[found->guid].push_back(command);
        m_bus.m_changed.notify_all();
        const bool isStatus = (command & 0x0F000000u) == avc::kStatus;
        return isStatus ? status(*found, command) : control(*found, command);
    }

    int cmpConnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        return connect(output, input, connection, 0);
    }
    int cmpReconnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        auto held = find(output, input, connection.channel);
        if (held == m_bus.m_connections.end())
            return connect(output, input, connection, connection.channel);
        held->isAwaitingRestore = false;
        m_bus.m_changed.notify_all();
        return held->channel;
    }
    int cmpDisconnect(FireWireNodeId output, FireWireNodeId input, const CmpConnection& connection) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        auto held = find(output, input, connection.channel);
        if (held == m_bus.m_connections.end())
            return -1;
        m_bus.m_freeBandwidth += held->bandwidth;
        m_bus.m_connections.erase(held);
        m_bus.m_changed.notify_all();
        return 0;
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
        if (m_bus.m_faults.doesTransmitStartFail)
            return false;
        m_channel = channel;
        m_source = std::move(source);
        m_isTransmitting = true;
        signal();
        m_bus.m_changed.notify_all();
        return true;
    }
    void stopDvTransmit() override
    {
        std::lock_guard lock(m_bus.m_mutex);
        m_isTransmitting = false;
        m_bus.m_changed.notify_all();
    }

    int eventFd() override { return m_eventFd; }

    int iterate() override
    {
        std::unique_lock lock(m_bus.m_mutex);
        if (auto& errors = m_bus.m_faults.iterationErrors; !errors.empty()) {
            errno = errors.front();
            errors.pop_front();
            return -1;
        }
        if (m_pendingResets > 0) {
            --m_pendingResets;
            const unsigned generation = m_bus.m_generation;
            lock.unlock();
            if (m_resetHandler)
                m_resetHandler(generation);
            else
                updateGeneration(generation);
            return 0;
        }
        if (!m_isTransmitting || m_bus.m_faults.isTransmitStalled) {
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

private:
    const FakeNode* nodeAt(int node) const  // bus mutex held; nothing for a stale handle
    {
        if (m_generation != m_bus.m_generation || node < 0 || node >= static_cast<int>(m_bus.m_nodes.size()))
            return nullptr;
        return &m_bus.m_nodes[static_cast<std::size_t>(node)];
    }

    void signal()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_eventFd, &one, sizeof one);
    }

    // Status: the output signal mode as the node declares it, and the deck's transport state.
    std::uint32_t status(const FakeNode& node, std::uint32_t command)  // bus mutex held
    {
        const std::uint32_t echo = command & 0x00FFFFFFu;
        if (avc::opcode(command) == avc::kOpOutputSignalMode && node.outputSignalMode)
            return avc::kStable | (echo & 0xFFFFFF00u) | *node.outputSignalMode;
        if (avc::opcode(command) != avc::kOpTransportState)
            return avc::kNotImplemented | echo;
        DeckState& deck = m_bus.m_decks[node.guid];
        if (deck.threadingQueriesLeft > 0 && --deck.threadingQueriesLeft == 0)
            deck = DeckState{avc::kOpPlay, 0x75, 0};
        return avc::kStable | avc::kVcrSubunit | (std::uint32_t{deck.opcode} << 8) | deck.operand;
    }

    // Control: the scripted reply, else accepted; a deck freezes only while it plays, and takes
    // its time to thread the tape when told to play.
    std::optional<std::uint32_t> control(const FakeNode& node, std::uint32_t command)  // bus mutex held
    {
        const std::uint32_t echo = command & 0x00FFFFFFu;
        const std::uint8_t opcode = avc::opcode(command);
        const std::uint8_t operand = avc::operand(command);
        DeckState& deck = m_bus.m_decks[node.guid];
        AvcReply reply = opcode == avc::kOpPlay && operand == 0x7D && deck.opcode != avc::kOpPlay ? AvcReply::Rejected
                                                                                                   : AvcReply::Accepted;
        if (auto scripted = m_bus.m_replies.find({node.guid, static_cast<std::uint16_t>(opcode << 8 | operand)});
            scripted != m_bus.m_replies.end())
            reply = scripted->second;
        switch (reply) {
        case AvcReply::NoAnswer: return std::nullopt;
        case AvcReply::Rejected: return avc::kRejected | echo;
        case AvcReply::NotImplemented: return avc::kNotImplemented | echo;
        default: break;
        }
        const bool isThreading = opcode == avc::kOpPlay && operand == 0x75 && deck.opcode != avc::kOpPlay;
        if (isThreading && node.playQueriesBeforePlaying > 0)
            deck = DeckState{avc::kOpWind, 0x60, node.playQueriesBeforePlaying};
        else
            deck = DeckState{opcode, operand, 0};
        return (reply == AvcReply::Interim ? avc::kInterim : avc::kAccepted) | echo;
    }

    // The connection between the two nodes on the channel; none through a stale handle.
    std::vector<FakeConnection>::iterator find(FireWireNodeId output, FireWireNodeId input, int channel)
    {
        auto& held = m_bus.m_connections;
        if (m_generation != m_bus.m_generation)
            return held.end();
        const auto outputGuid = m_bus.guidAt(output);
        const auto inputGuid = m_bus.guidAt(input);
        return std::find_if(held.begin(), held.end(), [&](const FakeConnection& c) {
            return outputGuid == c.outputGuid && inputGuid == c.inputGuid && c.channel == channel;
        });
    }

    // A new connection on the first free channel from `channel`, with DV bandwidth when asked for.
    int connect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection, int channel)
    {
        const auto outputGuid = m_bus.guidAt(output);
        const auto inputGuid = m_bus.guidAt(input);
        if (m_generation != m_bus.m_generation || !outputGuid || !inputGuid)
            return -1;
        const std::uint64_t camcorder = *outputGuid == kLocalGuid ? *inputGuid : *outputGuid;
        auto& nodes = m_bus.m_nodes;
        auto node = std::find_if(nodes.begin(), nodes.end(), [&](const FakeNode& n) { return n.guid == camcorder; });
        const int bandwidth = connection.bandwidth != 0 ? kDvBandwidth : 0;
        if (node == nodes.end() || !node->hasPlugs || bandwidth > m_bus.m_freeBandwidth)
            return -1;
        auto& held = m_bus.m_connections;
        while (std::any_of(held.begin(), held.end(), [&](const FakeConnection& c) { return c.channel == channel; }))
            ++channel;
        m_bus.m_freeBandwidth -= bandwidth;
        held.push_back({*outputGuid, *inputGuid, channel, bandwidth, false});
        connection = CmpConnection{0, 0, channel, bandwidth};
        m_bus.m_changed.notify_all();
        return channel;
    }

    FakeFireWireBus& m_bus;
    int m_eventFd;
    unsigned m_generation = 0;
    int m_pendingResets = 0;
    BusResetHandler m_resetHandler;
    DvPayloadSource m_source;
    bool m_isTransmitting = false;
    int m_channel = -1;
};

FakeFireWireBus::FakeFireWireBus()
{
    m_nodes.push_back(FakeNode{.guid = kLocalGuid, .label = "this computer", .isAvcUnit = false, .hasVcrSubunit = false});
}

FakeFireWireBus::~FakeFireWireBus()
{
    for (auto& receiver : m_receivers)
        gst_object_unref(receiver.element);
}

void FakeFireWireBus::script(const std::function<void(FakeBusFaults&)>& change)
{
    std::lock_guard lock(m_mutex);
    change(m_faults);
    for (Handle* handle : m_handles)
        handle->wake();
}

void FakeFireWireBus::busReset(std::optional<FakeNode> newFirstNode)
{
    std::lock_guard lock(m_mutex);
    if (newFirstNode)
        m_nodes.insert(m_nodes.begin(), std::move(*newFirstNode));
    ++m_generation;
    for (auto& connection : m_connections)
        connection.isAwaitingRestore = true;
    for (Handle* handle : m_handles)
        handle->queueReset();
    m_changed.notify_all();
}

void FakeFireWireBus::unplug(std::uint64_t guid)
{
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_nodes, [guid](const FakeNode& node) { return node.guid == guid; });
    }
    busReset();
}

std::optional<std::uint64_t> FakeFireWireBus::guidAt(FireWireNodeId id) const
{
    const std::size_t node = id & 0x3fu;
    if ((id & 0xffc0u) != kLocalBusNodeBase || node >= m_nodes.size())
        return std::nullopt;
    return m_nodes[node].guid;
}

void FakeFireWireBus::deliverPacket(int channel, std::span<const unsigned char> payload)
{
    for (const auto& connection : m_connections) {
        if (connection.channel != channel || connection.outputGuid != kLocalGuid)
            continue;
        Assembly& assembly = m_assemblies[connection.inputGuid];
        if (startsFrame(payload) && !assembly.frame.empty()) {
            ReceivedStream& stream = m_received[connection.inputGuid];
            const bool isWhole = assembly.frame.size() == dv::kPalFrameBytes || assembly.frame.size() == dv::kNtscFrameBytes;
            if (isWhole && (stream.distinctFrames.empty() || stream.distinctFrames.back() != assembly.frame)) {
                stream.distinctFrames.push_back(assembly.frame);
                stream.packetsPerFrame.push_back(assembly.packets);
            }
            assembly = Assembly{};
            m_changed.notify_all();
        }
        const auto* bytes = reinterpret_cast<const std::byte*>(payload.data());
        assembly.frame.insert(assembly.frame.end(), bytes, bytes + payload.size());
        ++assembly.packets;
    }
}

int FakeFireWireBus::sendFromCamcorder(std::uint64_t guid, std::span<const std::byte> frame, std::uint64_t sequence)
{
    std::vector<GstOwned<GstElement>> targets;
    {
        std::lock_guard lock(m_mutex);
        int channel = kBroadcastChannel;
        for (const auto& connection : m_connections)
            if (connection.outputGuid == guid)
                channel = connection.channel;
        for (const auto& receiver : m_receivers)
            if (receiver.channel == channel)
                targets.push_back(retain(receiver.element));
    }
    for (const auto& target : targets) {
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GST_BUFFER_OFFSET(buffer) = sequence;
        gst_app_src_push_buffer(GST_APP_SRC(target.get()), buffer);  // transfer full
    }
    return static_cast<int>(targets.size());
}

bool FakeFireWireBus::isTransmitting() const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_handles.begin(), m_handles.end(), [](const Handle* h) { return h->isTransmitting(); });
}

bool FakeFireWireBus::waitUntil(const std::function<bool(const FakeFireWireBus&)>& condition,
                                std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    for (;;) {
        lock.unlock();
        if (condition(*this))
            return true;
        lock.lock();
        if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            lock.unlock();
            return condition(*this);
        }
    }
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
    std::lock_guard lock(m_mutex);
    m_receivers.push_back({GST_ELEMENT(gst_object_ref(source.get())), kBroadcastChannel});
    return source;
}

std::shared_ptr<FakeFireWireBus> busWith(const std::vector<FakeNode>& nodes)
{
    auto bus = std::make_shared<FakeFireWireBus>();
    for (const auto& node : nodes)
        bus->addNode(node);
    return bus;
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
