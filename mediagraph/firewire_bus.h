// SPDX-License-Identifier: GPL-3.0-or-later
// The calls the IEEE 1394 backend makes into the bus libraries, behind one narrow interface.
//
// Design note. The real implementation forwards to libraw1394 (handles, ports, bus resets, the
// event loop), librom1394 (configuration ROMs), libavc1394 (AV/C transactions), libiec61883 (CMP
// connections and the DV transmitter) and GStreamer's dv1394src (DV reception); a scripted
// camcorder bus stands in for it in tests. Node ids carry the bus number in the upper ten bits;
// a node number alone is only valid until the next bus reset, so callers look a node up by its
// GUID each time they use it. The DV transmitter asks for one packet payload at a time: six DIF
// blocks, 480 bytes, so a PAL frame goes out in 300 packets and an NTSC frame in 250.
#pragma once

#include "mediagraph/gst_handles.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrel::mediagraph {

using FireWireNodeId = std::uint16_t;
inline constexpr FireWireNodeId kLocalBusNodeBase = 0xffc0;  // bus 1023, "this bus", in the upper ten bits
inline constexpr std::size_t kDvPacketPayloadBytes = 480;    // six DIF blocks per isochronous packet

// AV/C frames as quadlets: response code (or command type), subunit, opcode, first operand.
namespace avc {
inline constexpr std::uint32_t kControl = 0x00000000;
inline constexpr std::uint32_t kStatus = 0x01000000;
inline constexpr std::uint32_t kNotImplemented = 0x08000000;
inline constexpr std::uint32_t kAccepted = 0x09000000;
inline constexpr std::uint32_t kRejected = 0x0A000000;
inline constexpr std::uint32_t kInTransition = 0x0B000000;
inline constexpr std::uint32_t kStable = 0x0C000000;
inline constexpr std::uint32_t kInterim = 0x0F000000;
inline constexpr std::uint32_t kVcrSubunit = 4u << 19;  // tape recorder/player, id 0
inline constexpr std::uint8_t kOpRecord = 0xC2;
inline constexpr std::uint8_t kOpPlay = 0xC3;
inline constexpr std::uint8_t kOpWind = 0xC4;
inline constexpr std::uint8_t kOpTransportState = 0xD0;
inline constexpr std::uint8_t kOpOutputSignalMode = 0x78;

constexpr std::uint32_t responseCode(std::uint32_t quadlet) noexcept { return quadlet & 0x0F000000u; }
constexpr std::uint8_t opcode(std::uint32_t quadlet) noexcept { return static_cast<std::uint8_t>(quadlet >> 8); }
constexpr std::uint8_t operand(std::uint32_t quadlet) noexcept { return static_cast<std::uint8_t>(quadlet); }
constexpr std::uint32_t vcrCommand(std::uint32_t type, std::uint8_t op, std::uint8_t operand0) noexcept
{
    return type | kVcrSubunit | (std::uint32_t{op} << 8) | operand0;
}
}  // namespace avc

// What a node's configuration ROM says about it.
struct FireWireRom {
    std::uint64_t guid = 0;
    std::string label;       // the vendor's and model's textual leaves; may be empty
    bool isAvcUnit = false;  // an AV/C unit directory (camcorders, decks)
};

// One CMP connection: the plugs, channel and bandwidth that connecting returned, which
// reconnecting and disconnecting need again.
struct CmpConnection {
    int outputPlug = -1;
    int inputPlug = -1;
    int channel = -1;
    int bandwidth = -1;  // allocation units held; -1 before connecting asks for allocation
};

// Fills one packet payload with the next bytes of the stream; false ends the transmission.
using DvPayloadSource = std::function<bool(std::span<unsigned char> payload)>;
// libiec61883's transmit callback convention: fills payloadCount payloads (0 for an empty packet,
// else 1) of 480 bytes at data from the source; 0 when filled, -1 to end the transmission.
int fillDvPackets(unsigned char* data, int payloadCount, const DvPayloadSource& source);
// Runs inside iterate() when the bus has been reset, with the new generation.
using BusResetHandler = std::function<void(unsigned generation)>;

// A handle bound to one port (a raw1394 handle). Calls block until the bus answers; none of them
// waits for ever (the libraries retry a bounded number of times).
class IFireWireHandle {
public:
    virtual ~IFireWireHandle() = default;

    virtual int nodeCount() = 0;
    virtual FireWireNodeId localNodeId() = 0;
    // The ROM of a node on this bus (0..nodeCount-1); nothing when it cannot be read.
    virtual std::optional<FireWireRom> readRom(int node) = 0;
    virtual std::optional<std::uint64_t> readGuid(int node) = 0;
    virtual bool hasVcrSubunit(int node) = 0;
    // One AV/C command quadlet and the response quadlet; nothing when no response came.
    virtual std::optional<std::uint32_t> avcTransaction(int node, std::uint32_t command) = 0;

    // Returns the channel, or -1. connection.bandwidth -1 asks for allocation; 0 skips it.
    virtual int cmpConnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) = 0;
    virtual int cmpReconnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) = 0;
    virtual int cmpDisconnect(FireWireNodeId output, FireWireNodeId input, const CmpConnection& connection) = 0;

    virtual void setBusResetHandler(BusResetHandler handler) = 0;
    virtual void updateGeneration(unsigned generation) = 0;

    // Starts sending DV on the channel; the source is called from iterate(). False on failure.
    virtual bool startDvTransmit(bool isPal, int channel, DvPayloadSource source) = 0;
    virtual void stopDvTransmit() = 0;  // idempotent; the source is not called after it returns

    // The descriptor to poll for events, and the processing of one event (-1 with errno set).
    virtual int eventFd() = 0;
    virtual int iterate() = 0;
};

// Why no handle could be opened.
struct FireWireAccessProblem {
    std::string deviceFile;  // "/dev/fw1"
    int errorNumber = 0;     // EACCES, EPERM
};

class IFireWireBus {
public:
    virtual ~IFireWireBus() = default;
    // The ports (IEEE 1394 cards) the system has; 0 also when it cannot tell.
    virtual int portCount() = 0;
    // A handle on that port; null when it cannot be opened.
    virtual std::unique_ptr<IFireWireHandle> open(int port) = 0;
    // Device files that exist but cannot be opened; the local node's own file is not listed.
    virtual std::vector<FireWireAccessProblem> accessProblems() = 0;

    // The element that receives DV from a camcorder on that port, listening on the channel given
    // before it starts.
    virtual GstOwned<GstElement> makeDvReceiver(int port, std::uint64_t guid) = 0;
    virtual void setReceiverChannel(GstElement* receiver, int channel) = 0;
};

// The bus of this system: the libraries above, or nothing in a build without them.
std::shared_ptr<IFireWireBus> makeSystemFireWireBus();

// How long the backend waits for things a camcorder should do quickly.
struct FireWireTimeouts {
    std::chrono::milliseconds firstFrame{5000};      // capture: no frame by then is an error
    std::chrono::milliseconds frameTaken{2000};      // DV out: a frame not taken by then is an error
    std::chrono::milliseconds playBeforeFreeze{4000};  // pause: the deck threads the tape, then freezes
    std::chrono::milliseconds statusPoll{100};       // between transport-state queries
};

class IVideoDeviceBackend;
std::shared_ptr<IVideoDeviceBackend> makeFireWireBackend(std::shared_ptr<IFireWireBus> bus,
                                                         FireWireTimeouts timeouts = {});

}  // namespace vantrel::mediagraph
