// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of the IEEE 1394 backend: finding a camcorder by GUID, keeping a CMP connection
// across bus resets, servicing a handle on a thread, transport commands, and the capture and
// DV-out elements.
#pragma once

#include "mediagraph/firewire_bus.h"
#include "mediagraph/video_devices.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::mediagraph {

// Where a camcorder is: the GUID stays, the node number changes with every bus reset.
struct FireWireAddress {
    std::uint64_t guid = 0;
    int port = -1;
    std::string label;
};

// The camcorder's node number on the handle's bus now; nothing when it is not on the bus.
std::optional<int> findNodeByGuid(IFireWireHandle& handle, std::uint64_t guid);

// Whether the deck reports itself playing forward (its transport state's mode is PLAY).
bool isDeckPlaying(IFireWireHandle& handle, int node);

enum class StreamDirection { Unknown, FromCamcorder, ToCamcorder };

// A CMP connection between the camcorder and this computer, made with bandwidth allocation and
// restored on the same channel after each bus reset. Not thread-safe: connect, the reset handler
// and disconnect run one after another (before the service thread starts, on it, after it ended).
class PlugConnection {
public:
    PlugConnection(IFireWireHandle& handle, std::uint64_t guid, StreamDirection direction);
    ~PlugConnection() { disconnect(); }
    PlugConnection(const PlugConnection&) = delete;
    PlugConnection& operator=(const PlugConnection&) = delete;

    // Finds the camcorder and connects. A camcorder without plug registers gets the broadcast
    // channel. An empty result means connected; otherwise the reason.
    std::string connect();
    // After a bus reset: the new generation, the camcorder's new node, the same channel if it can.
    // An empty result means restored.
    std::string restoreAfterReset(unsigned generation);
    void disconnect();
    int channel() const noexcept { return m_connection.channel; }

private:
    std::pair<FireWireNodeId, FireWireNodeId> outputAndInput(int camcorderNode);

    IFireWireHandle& m_handle;
    std::uint64_t m_guid;
    StreamDirection m_direction;
    CmpConnection m_connection;
    std::optional<int> m_node;  // the camcorder's node while connected
    bool m_isConnected = false;
};

// Serves one handle's events (bus resets, transmit requests) on its own thread until stopped or
// until the bus fails; a failure is handed to onFailure once, on that thread.
class BusServiceThread {
public:
    BusServiceThread(IFireWireHandle& handle, std::function<void(const std::string&)> onFailure);
    ~BusServiceThread();  // stops and joins
    BusServiceThread(const BusServiceThread&) = delete;
    BusServiceThread& operator=(const BusServiceThread&) = delete;

private:
    void run(std::stop_token stop);

    IFireWireHandle& m_handle;
    std::function<void(const std::string&)> m_onFailure;
    int m_wakeFd = -1;  // -1 when no eventfd: the thread then notices a stop within one poll period
    std::jthread m_thread;
};

class CaptureWatch;

// The captures of one camcorder. Its transport tells them when the tape was told to play, so that
// a capture that then gets no frame in time fails, and when it was stopped or wound. Any thread.
class CaptureWatchList {
public:
    void add(const std::shared_ptr<CaptureWatch>& watch);
    void tapeMoved(bool isPlaying);

private:
    std::mutex m_mutex;
    std::vector<std::weak_ptr<CaptureWatch>> m_watches;
};

// Transport commands as explicit AV/C VCR commands, each checked against its response.
class FireWireTransport : public ITransport {
public:
    FireWireTransport(std::shared_ptr<IFireWireBus> bus, FireWireAddress address, FireWireTimeouts timeouts,
                      std::shared_ptr<CaptureWatchList> captures);
    void SetMode(long mode) override { SendMode(mode); }
    std::string SendMode(long mode) override;

private:
    std::string sendOn(IFireWireHandle& handle, int node, long mode);
    std::string freeze(IFireWireHandle& handle, int node);

    std::shared_ptr<IFireWireBus> m_bus;
    FireWireAddress m_address;
    FireWireTimeouts m_timeouts;
    std::shared_ptr<CaptureWatchList> m_captures;
    std::mutex m_mutex;  // one command at a time
};

// The element that delivers the camcorder's DV: dv1394src in a bin that connects the camcorder
// to this computer before it starts, listens on the connection's channel, stamps each frame's
// duration, counts frames lost on the way, and fails when no frame comes in time once the tape
// plays (when it is told to play, or when the capture starts with it playing).
GstOwned<GstElement> makeFireWireCaptureSource(std::shared_ptr<IFireWireBus> bus, const FireWireAddress& address,
                                               FireWireTimeouts timeouts,
                                               std::shared_ptr<std::atomic<std::int32_t>> droppedFrames,
                                               CaptureWatchList& watches);

// The element that sends DV frames to the camcorder for recording.
GstOwned<GstElement> makeFireWireDvOutSink(std::shared_ptr<IFireWireBus> bus, const FireWireAddress& address,
                                           FireWireTimeouts timeouts);

}  // namespace vantrel::mediagraph
