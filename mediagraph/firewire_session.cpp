// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a camcorder by GUID, its CMP connection across bus resets, the service thread of a
// handle, and the transport commands.
#include "mediagraph/firewire_session.h"

#include "mediagraph/virtual_camcorder.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace vantrel::mediagraph {

namespace {

constexpr int kBroadcastChannel = 63;
constexpr int kServicePollMs = 100;  // a stop is noticed within this even without a wake-up descriptor

FireWireNodeId busNodeId(int node)
{
    return static_cast<FireWireNodeId>(kLocalBusNodeBase | static_cast<unsigned>(node));
}

}  // namespace

int fillDvPackets(unsigned char* data, int payloadCount, const DvPayloadSource& source)
{
    if (payloadCount <= 0)
        return 0;
    const std::span<unsigned char> payload(data, static_cast<std::size_t>(payloadCount) * kDvPacketPayloadBytes);
    return source(payload) ? 0 : -1;
}

std::optional<int> findNodeByGuid(IFireWireHandle& handle, std::uint64_t guid)
{
    const int local = handle.localNodeId() & 0x3f;
    const int count = handle.nodeCount();
    for (int node = 0; node < count; ++node) {
        if (node == local)
            continue;
        if (handle.readGuid(node) == guid)
            return node;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------

PlugConnection::PlugConnection(IFireWireHandle& handle, std::uint64_t guid, StreamDirection direction)
    : m_handle(handle), m_guid(guid), m_direction(direction)
{
}

std::pair<FireWireNodeId, FireWireNodeId> PlugConnection::outputAndInput(int camcorderNode)
{
    const FireWireNodeId camcorder = busNodeId(camcorderNode);
    const FireWireNodeId local = m_handle.localNodeId();
    if (m_direction == StreamDirection::FromCamcorder)
        return {camcorder, local};
    return {local, camcorder};
}

std::string PlugConnection::connect()
{
    m_node = findNodeByGuid(m_handle, m_guid);
    if (!m_node)
        return "the camcorder is not on the IEEE 1394 bus";
    m_connection = CmpConnection{};  // plugs found by the library, bandwidth allocated (-1)
    const auto [output, input] = outputAndInput(*m_node);
    if (m_handle.cmpConnect(output, input, m_connection) < 0) {
        m_connection.channel = kBroadcastChannel;  // no plug registers on either side: broadcast
        return {};
    }
    m_isConnected = true;
    return {};
}

std::string PlugConnection::restoreAfterReset(unsigned generation)
{
    m_handle.updateGeneration(generation);
    if (!m_isConnected)
        return {};
    const std::optional<int> node = findNodeByGuid(m_handle, m_guid);
    if (!node) {
        m_isConnected = false;  // gone with the reset: nothing left to disconnect
        return "the camcorder left the IEEE 1394 bus";
    }
    m_node = node;
    const auto [output, input] = outputAndInput(*m_node);
    if (m_handle.cmpReconnect(output, input, m_connection) < 0) {
        m_isConnected = false;
        return "the connection to the camcorder was lost at a bus reset";
    }
    return {};
}

void PlugConnection::disconnect()
{
    if (!m_isConnected)
        return;
    m_isConnected = false;
    // The node may have changed since the last reset was served: look it up again.
    const std::optional<int> node = findNodeByGuid(m_handle, m_guid);
    if (!node)
        return;
    const auto [output, input] = outputAndInput(*node);
    m_handle.cmpDisconnect(output, input, m_connection);
}

// ---------------------------------------------------------------------------------------------

BusServiceThread::BusServiceThread(IFireWireHandle& handle, std::function<void(const std::string&)> onFailure)
    : m_handle(handle), m_onFailure(std::move(onFailure)), m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

BusServiceThread::~BusServiceThread()
{
    m_thread.request_stop();
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_wakeFd, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void BusServiceThread::run(std::stop_token stop)
{
    std::array<pollfd, 2> fds{pollfd{m_handle.eventFd(), POLLIN, 0}, pollfd{m_wakeFd, POLLIN, 0}};
    const nfds_t count = m_wakeFd >= 0 ? 2 : 1;
    while (!stop.stop_requested()) {
        const int ready = poll(fds.data(), count, kServicePollMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            m_onFailure(std::string("waiting for the IEEE 1394 bus failed: ") + std::strerror(errno));
            return;
        }
        if (stop.stop_requested())
            return;
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            m_onFailure("the IEEE 1394 port went away");
            return;
        }
        if ((fds[0].revents & POLLIN) == 0)
            continue;
        if (m_handle.iterate() < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            m_onFailure(std::string("the IEEE 1394 bus failed: ") + std::strerror(errno));
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

struct VcrCommand {
    std::uint8_t opcode;
    std::uint8_t operand;
    const char* name;  // as the user knows the command
};

std::optional<VcrCommand> vcrCommandFor(long mode)
{
    switch (mode) {
    case ED_MODE_STOP: return VcrCommand{avc::kOpWind, 0x60, "Stop"};
    case ED_MODE_PLAY: return VcrCommand{avc::kOpPlay, 0x75, "Play"};
    case ED_MODE_FREEZE: return VcrCommand{avc::kOpPlay, 0x7D, "Pause"};
    case ED_MODE_FF: return VcrCommand{avc::kOpWind, 0x75, "Fast forward"};
    case ED_MODE_REW: return VcrCommand{avc::kOpWind, 0x65, "Rewind"};
    case ED_MODE_RECORD: return VcrCommand{avc::kOpRecord, 0x75, "Record"};
    case ED_MODE_RECORD_FREEZE: return VcrCommand{avc::kOpRecord, 0x7D, "Record pause"};
    case ED_MODE_STEP_FWD: return VcrCommand{avc::kOpPlay, 0x30, "Step forward"};
    case ED_MODE_STEP_REV: return VcrCommand{avc::kOpPlay, 0x40, "Step backward"};
    default: return std::nullopt;
    }
}

bool isTaken(std::uint32_t response)
{
    const std::uint32_t code = avc::responseCode(response);
    return code == avc::kAccepted || code == avc::kInterim;
}

// What to tell the user about a response that is not ACCEPTED or INTERIM.
std::string refusalText(const VcrCommand& command, std::optional<std::uint32_t> response)
{
    const std::string name = command.name;
    if (!response)
        return "The camcorder did not answer " + name;
    if (avc::responseCode(*response) == avc::kNotImplemented)
        return "The camcorder cannot " + name + " (not implemented)";
    if (command.opcode == avc::kOpRecord)
        return "The camcorder refused " + name + ": is the cassette write-protected, or the camcorder in Camera mode?";
    return "The camcorder refused " + name;
}

}  // namespace

bool isDeckPlaying(IFireWireHandle& handle, int node)
{
    const auto state = handle.avcTransaction(node, avc::vcrCommand(avc::kStatus, avc::kOpTransportState, 0x7F));
    return state && avc::responseCode(*state) == avc::kStable && avc::opcode(*state) == avc::kOpPlay;
}

FireWireTransport::FireWireTransport(std::shared_ptr<IFireWireBus> bus, FireWireAddress address,
                                     FireWireTimeouts timeouts, std::shared_ptr<CaptureWatchList> captures)
    : m_bus(std::move(bus)), m_address(std::move(address)), m_timeouts(timeouts), m_captures(std::move(captures))
{
}

std::string FireWireTransport::SendMode(long mode)
{
    std::lock_guard lock(m_mutex);
    if (!vcrCommandFor(mode))
        return {};
    // A new handle each time: it carries the current bus generation, and the node is looked up anew.
    std::unique_ptr<IFireWireHandle> handle = m_bus->open(m_address.port);
    if (!handle)
        return "The IEEE 1394 port of the camcorder cannot be opened";
    const std::optional<int> node = findNodeByGuid(*handle, m_address.guid);
    if (!node)
        return "The camcorder is not on the IEEE 1394 bus";
    if (mode == ED_MODE_FREEZE)
        return freeze(*handle, *node);
    std::string refusal = sendOn(*handle, *node, mode);
    if (refusal.empty() && m_captures) {
        if (mode == ED_MODE_PLAY)
            m_captures->tapeMoved(true);
        else if (mode == ED_MODE_STOP || mode == ED_MODE_FF || mode == ED_MODE_REW)
            m_captures->tapeMoved(false);
    }
    return refusal;
}

std::string FireWireTransport::sendOn(IFireWireHandle& handle, int node, long mode)
{
    const VcrCommand command = *vcrCommandFor(mode);
    const auto response = handle.avcTransaction(node, avc::vcrCommand(avc::kControl, command.opcode, command.operand));
    if (response && isTaken(*response))
        return {};
    return refusalText(command, response);
}

// A deck that has just been told to play threads the tape first and refuses to freeze until it
// plays: wait for it to report play, then freeze, retrying a refusal until the deadline.
std::string FireWireTransport::freeze(IFireWireHandle& handle, int node)
{
    const auto deadline = std::chrono::steady_clock::now() + m_timeouts.playBeforeFreeze;
    while (!isDeckPlaying(handle, node)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return "The camcorder did not start playing, so it cannot pause";
        std::this_thread::sleep_for(m_timeouts.statusPoll);  // the deck's own pace: nothing to wait on
    }
    for (;;) {
        std::string refusal = sendOn(handle, node, ED_MODE_FREEZE);
        if (refusal.empty() || std::chrono::steady_clock::now() >= deadline)
            return refusal;
        std::this_thread::sleep_for(m_timeouts.statusPoll);
    }
}

}  // namespace vantrel::mediagraph
