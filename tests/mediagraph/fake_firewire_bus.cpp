// SPDX-License-Identifier: GPL-3.0-or-later
// The scripted IEEE 1394 bus: node numbering, CMP resources, AV/C decks, packets and receivers.
#include "fake_firewire_bus.h"

#include <gst/app/gstappsrc.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace vantrel::mediagraph::testing {

namespace {

constexpr int kPacketsPerIteration = 25;     // one DIF sequence of a frame per event
constexpr std::size_t kLibraryPayloadBytes = 480;  // libiec61883's DV packets carry six DIF blocks
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
        m_bus.notifyChanged();
    }
    ~Handle() override
    {
        stopDvTransmit();
        std::lock_guard lock(m_bus.m_mutex);
        m_bus.m_handles.erase(this);
        m_bus.notifyChanged();
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
        return static_cast<FireWireNodeId>(kLocalBusNodeBase | m_bus.localIndex());
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
        if (found == nullptr)
            return std::nullopt;
        return found->guid;
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
        m_bus.notifyChanged();
        DeckState& deck = m_bus.m_decks[found->guid];
        const std::uint32_t echo = command & 0x00FFFFFFu;
        const std::uint8_t opcode = avc::opcode(command);
        if ((command & 0x0F000000u) == avc::kStatus) {
            if (opcode == avc::kOpOutputSignalMode) {
                if (!found->outputSignalMode)
                    return avc::kNotImplemented | echo;
                return avc::kStable | (echo & 0xFFFFFF00u) | *found->outputSignalMode;
            }
            if (opcode == avc::kOpTransportState) {
                if (deck.threadingQueriesLeft > 0 && --deck.threadingQueriesLeft == 0)
                    deck = DeckState{avc::kOpPlay, 0x75, 0};
                return avc::kStable | avc::kVcrSubunit | (std::uint32_t{deck.opcode} << 8) | deck.operand;
            }
            return avc::kNotImplemented | echo;
        }
        const std::uint8_t operand = avc::operand(command);
        AvcReply reply = AvcReply::Accepted;
        if (auto scripted = m_bus.m_replies.find({found->guid, static_cast<std::uint16_t>(opcode << 8 | operand)});
            scripted != m_bus.m_replies.end())
            reply = scripted->second;
        else if (opcode == avc::kOpPlay && operand == 0x7D && deck.opcode != avc::kOpPlay)
            reply = AvcReply::Rejected;  // a deck freezes only while it plays
        switch (reply) {
        case AvcReply::NoAnswer: return std::nullopt;
        case AvcReply::Rejected: return avc::kRejected | echo;
        case AvcReply::NotImplemented: return avc::kNotImplemented | echo;
        default: break;
        }
        if (opcode == avc::kOpPlay && operand == 0x75 && deck.opcode != avc::kOpPlay)
            deck = DeckState{avc::kOpWind, 0x60, std::max(found->playQueriesBeforePlaying, 0) + 1};
        else
            deck = DeckState{opcode, operand, 0};
        if (deck.threadingQueriesLeft == 1)
            deck = DeckState{avc::kOpPlay, 0x75, 0};
        return (reply == AvcReply::Interim ? avc::kInterim : avc::kAccepted) | echo;
    }

    int cmpConnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        return connect(output, input, connection, std::nullopt);
    }

    int cmpReconnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        if (!isCurrent())
            return -1;
        const auto outputGuid = m_bus.guidAt(output);
        const auto inputGuid = m_bus.guidAt(input);
        for (auto& held : m_bus.m_connections) {
            if (held.isAwaitingRestore && outputGuid == normalised(held.outputGuid) &&
                inputGuid == normalised(held.inputGuid) && held.channel == connection.channel) {
                held.isAwaitingRestore = false;
                m_bus.notifyChanged();
                return held.channel;
            }
        }
        return connect(output, input, connection, connection.channel);
    }

    int cmpDisconnect(FireWireNodeId output, FireWireNodeId input, const CmpConnection& connection) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        if (!isCurrent())
            return -1;
        const auto outputGuid = m_bus.guidAt(output);
        const auto inputGuid = m_bus.guidAt(input);
        auto& held = m_bus.m_connections;
        auto found = std::find_if(held.begin(), held.end(), [&](const FakeConnection& c) {
            return outputGuid == normalised(c.outputGuid) && inputGuid == normalised(c.inputGuid) &&
                   c.channel == connection.channel;
        });
        if (found == held.end())
            return -1;
        m_bus.m_freeBandwidth += found->bandwidth;
        m_bus.m_channelsInUse.erase(found->channel);
        held.erase(found);
        m_bus.notifyChanged();
        return 0;
    }

    void setBusResetHandler(BusResetHandler handler) override { m_resetHandler = std::move(handler); }
    void updateGeneration(unsigned generation) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        m_generation = generation;
    }

    bool startDvTransmit(bool isPal, int channel, DvPayloadSource source) override
    {
        std::lock_guard lock(m_bus.m_mutex);
        if (m_bus.m_transmitStartFails)
            return false;
        m_isPal = isPal;
        m_channel = channel;
        m_source = std::move(source);
        m_isTransmitting = true;
        signal();
        m_bus.notifyChanged();
        return true;
    }

    void stopDvTransmit() override
    {
        std::lock_guard lock(m_bus.m_mutex);
        m_isTransmitting = false;
        m_bus.notifyChanged();
    }

    int eventFd() override { return m_eventFd; }

    int iterate() override
    {
        std::unique_lock lock(m_bus.m_mutex);
        if (!m_bus.m_iterationErrors.empty()) {
            errno = m_bus.m_iterationErrors.front();
            m_bus.m_iterationErrors.pop_front();
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
        if (!m_isTransmitting || m_bus.m_isTransmitStalled) {
            std::uint64_t value = 0;
            [[maybe_unused]] const auto got = read(m_eventFd, &value, sizeof value);  // nothing to do: not readable
            return 0;
        }
        const int channel = m_channel;
        lock.unlock();
        // A packet as libiec61883 builds it: an 8-byte CIP header, then the payload that the
        // callback fills, one payload per data packet, with an empty packet now and then.
        std::array<unsigned char, 8 + kLibraryPayloadBytes> packet{};
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
            m_bus.deliverPacket(channel, std::span<const unsigned char>(packet).subspan(8));
        }
        return 0;
    }

private:
    const FakeNode* nodeAt(int node) const  // bus mutex held; nothing for a stale handle
    {
        if (!isCurrent() || node < 0 || node >= static_cast<int>(m_bus.m_nodes.size()))
            return nullptr;
        return &m_bus.m_nodes[static_cast<std::size_t>(node)];
    }
    bool isCurrent() const { return m_generation == m_bus.m_generation; }
    static std::optional<std::uint64_t> normalised(std::uint64_t guid) { return guid == 0 ? kLocalGuid : guid; }

    void signal()
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_eventFd, &one, sizeof one);
    }

    int connect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection, std::optional<int> channel)
    {
        if (!isCurrent())
            return -1;
        const auto outputGuid = m_bus.guidAt(output);
        const auto inputGuid = m_bus.guidAt(input);
        if (!outputGuid || !inputGuid)
            return -1;
        const std::uint64_t camcorder = *outputGuid == kLocalGuid ? *inputGuid : *outputGuid;
        auto node = std::find_if(m_bus.m_nodes.begin(), m_bus.m_nodes.end(),
                                 [&](const FakeNode& n) { return n.guid == camcorder; });
        if (node == m_bus.m_nodes.end() || !node->hasPlugs)
            return -1;
        int chosen = channel.value_or(0);
        while (m_bus.m_channelsInUse.contains(chosen))
            ++chosen;
        const int bandwidth = connection.bandwidth != 0 ? kDvBandwidth : 0;
        if (bandwidth > m_bus.m_freeBandwidth)
            return -1;
        m_bus.m_freeBandwidth -= bandwidth;
        m_bus.m_channelsInUse.insert(chosen);
        m_bus.m_connections.push_back({*outputGuid, *inputGuid, chosen, bandwidth, false});
        connection.outputPlug = 0;
        connection.inputPlug = 0;
        connection.channel = chosen;
        connection.bandwidth = bandwidth;
        m_bus.notifyChanged();
        return chosen;
    }

    FakeFireWireBus& m_bus;
    int m_eventFd;
    unsigned m_generation = 0;
    int m_pendingResets = 0;
    BusResetHandler m_resetHandler;
    DvPayloadSource m_source;
    bool m_isTransmitting = false;
    bool m_isPal = true;
    int m_channel = -1;
};

FakeFireWireBus::FakeFireWireBus()
{
    m_nodes.push_back(FakeNode{kLocalGuid, "this computer", false, false, true, false, std::nullopt, 0});
}

FakeFireWireBus::~FakeFireWireBus()
{
    std::lock_guard lock(m_mutex);
    for (auto& receiver : m_receivers)
        gst_object_unref(receiver.element);
}

void FakeFireWireBus::addNode(FakeNode node)
{
    std::lock_guard lock(m_mutex);
    m_nodes.insert(m_nodes.end() - 1, std::move(node));
}

void FakeFireWireBus::setAccessProblems(std::vector<FireWireAccessProblem> problems)
{
    std::lock_guard lock(m_mutex);
    m_accessProblems = std::move(problems);
}

void FakeFireWireBus::setReply(std::uint64_t guid, std::uint8_t opcode, std::uint8_t operand, AvcReply reply)
{
    std::lock_guard lock(m_mutex);
    m_replies[{guid, static_cast<std::uint16_t>(opcode << 8 | operand)}] = reply;
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
    notifyChanged();
}

void FakeFireWireBus::unplug(std::uint64_t guid)
{
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_nodes, [guid](const FakeNode& node) { return node.guid == guid; });
    }
    busReset();
}

void FakeFireWireBus::expireUnrestoredConnections()
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_connections, [this](const FakeConnection& connection) {
        if (!connection.isAwaitingRestore)
            return false;
        m_freeBandwidth += connection.bandwidth;
        m_channelsInUse.erase(connection.channel);
        return true;
    });
    notifyChanged();
}

void FakeFireWireBus::failIterations(int errorNumber, int count)
{
    std::lock_guard lock(m_mutex);
    m_iterationErrors.insert(m_iterationErrors.end(), static_cast<std::size_t>(count), errorNumber);
}

void FakeFireWireBus::setTransmitStartFails(bool fails)
{
    std::lock_guard lock(m_mutex);
    m_transmitStartFails = fails;
}

void FakeFireWireBus::setTransmitStalled(bool isStalled)
{
    std::lock_guard lock(m_mutex);
    m_isTransmitStalled = isStalled;
    for (Handle* handle : m_handles)
        handle->wake();
}

std::optional<std::uint64_t> FakeFireWireBus::guidAt(FireWireNodeId id) const
{
    if ((id & 0xffc0u) != kLocalBusNodeBase)
        return std::nullopt;
    const std::size_t node = id & 0x3fu;
    if (node >= m_nodes.size())
        return std::nullopt;
    return m_nodes[node].guid;
}

void FakeFireWireBus::deliverPacket(int channel, std::span<const unsigned char> payload)
{
    for (const auto& connection : m_connections) {
        if (connection.channel != channel || connection.outputGuid != kLocalGuid)
            continue;
        const std::uint64_t camcorder = connection.inputGuid;
        auto& assembling = m_assembling[camcorder];
        auto& packets = m_assemblingPackets[camcorder];
        if (startsFrame(payload) && !assembling.empty()) {
            ReceivedStream& stream = m_received[camcorder];
            const bool isWhole = assembling.size() == 144000 || assembling.size() == 120000;
            ++(isWhole ? stream.frameCount : stream.incompleteFrames);
            if (isWhole && (stream.distinctFrames.empty() || stream.distinctFrames.back() != assembling)) {
                stream.distinctFrames.push_back(assembling);
                stream.packetsPerFrame.push_back(packets);
            }
            assembling.clear();
            packets = 0;
            notifyChanged();
        }
        const auto* bytes = reinterpret_cast<const std::byte*>(payload.data());
        assembling.insert(assembling.end(), bytes, bytes + payload.size());
        ++packets;
    }
}

int FakeFireWireBus::sendFromCamcorder(std::uint64_t guid, std::span<const std::byte> frame, std::uint64_t sequence)
{
    std::vector<GstElement*> targets;
    {
        std::lock_guard lock(m_mutex);
        int channel = kBroadcastChannel;
        for (const auto& connection : m_connections)
            if (connection.outputGuid == guid)
                channel = connection.channel;
        for (const auto& receiver : m_receivers)
            if (receiver.channel == channel)
                targets.push_back(GST_ELEMENT(gst_object_ref(receiver.element)));
    }
    for (GstElement* target : targets) {
        GstBuffer* buffer = gst_buffer_new_memdup(frame.data(), frame.size());
        GST_BUFFER_OFFSET(buffer) = sequence;
        gst_app_src_push_buffer(GST_APP_SRC(target), buffer);  // transfer full
        gst_object_unref(target);
    }
    return static_cast<int>(targets.size());
}

std::vector<FakeConnection> FakeFireWireBus::connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

int FakeFireWireBus::freeBandwidth() const
{
    std::lock_guard lock(m_mutex);
    return m_freeBandwidth;
}

std::vector<std::uint32_t> FakeFireWireBus::commandsTo(std::uint64_t guid) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_commands.find(guid);
    return found == m_commands.end() ? std::vector<std::uint32_t>{} : found->second;
}

ReceivedStream FakeFireWireBus::received(std::uint64_t guid) const
{
    std::lock_guard lock(m_mutex);
    auto found = m_received.find(guid);
    return found == m_received.end() ? ReceivedStream{} : found->second;
}

std::vector<int> FakeFireWireBus::receiverChannels() const
{
    std::lock_guard lock(m_mutex);
    std::vector<int> channels;
    for (const auto& receiver : m_receivers)
        channels.push_back(receiver.channel);
    return channels;
}

bool FakeFireWireBus::isTransmitting() const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_handles.begin(), m_handles.end(), [](const Handle* h) { return h->isTransmitting(); });
}

int FakeFireWireBus::openHandles() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_handles.size());
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
    if (port != 0)
        return nullptr;
    return std::make_unique<Handle>(*this);
}

std::vector<FireWireAccessProblem> FakeFireWireBus::accessProblems()
{
    std::lock_guard lock(m_mutex);
    return m_accessProblems;
}

GstOwned<GstElement> FakeFireWireBus::makeDvReceiver(int, std::uint64_t guid)
{
    GstOwned<GstElement> source = makeElement("appsrc", nullptr);
    GstCaps* caps = gst_caps_from_string("video/x-dv, systemstream=(boolean)true");
    g_object_set(source.get(), "caps", caps, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", TRUE, nullptr);
    gst_caps_unref(caps);
    std::lock_guard lock(m_mutex);
    m_receivers.push_back({GST_ELEMENT(gst_object_ref(source.get())), guid, kBroadcastChannel});
    return source;
}

void FakeFireWireBus::setReceiverChannel(GstElement* receiver, int channel)
{
    std::lock_guard lock(m_mutex);
    for (auto& known : m_receivers)
        if (known.element == receiver)
            known.channel = channel;
    notifyChanged();
}

}  // namespace vantrel::mediagraph::testing
