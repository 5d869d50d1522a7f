// SPDX-License-Identifier: GPL-3.0-or-later
// IEEE 1394 camcorders as video input devices: the AV/C tape units of every port, each known by
// its GUID (node numbers change with every bus reset), with capture, DV out and transport.
//
// Design note. A machine without FireWire ports lists nothing and never fails. When device files
// exist but cannot be opened, the backend says which one and how to allow it, so that a
// permission problem does not look like a missing camcorder. Two camcorders of one model get the
// GUID after their name so that each can be chosen; a tape unit whose output is not DV (HDV) is
// listed with a mark, since the DV receiver gets nothing from it.
#include "mediagraph/firewire_session.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace vantrel::mediagraph {

namespace {

constexpr const char* kUnnamedCamcorder = "DV camcorder";
constexpr const char* kNotDvMark = " (HDV: not supported)";

class FireWireDevice : public IVideoDevice {
public:
    FireWireDevice(std::shared_ptr<IFireWireBus> bus, FireWireAddress address, FireWireTimeouts timeouts)
        : m_bus(bus), m_address(address), m_timeouts(timeouts), m_captures(std::make_shared<CaptureWatchList>()),
          m_transport(bus, address, timeouts, m_captures),
          m_droppedFrames(std::make_shared<std::atomic<std::int32_t>>(0))
    {
    }

    std::string FriendlyName() const override { return m_address.label; }

    GstOwned<GstElement> MakeCaptureSource() override
    {
        return makeFireWireCaptureSource(m_bus, m_address, m_timeouts, m_droppedFrames, *m_captures);
    }

    GstOwned<GstElement> MakeDvOutSink() override { return makeFireWireDvOutSink(m_bus, m_address, m_timeouts); }

    ITransport* Transport() override { return &m_transport; }
    std::int32_t DroppedFrames() const override { return m_droppedFrames->load(); }

private:
    std::shared_ptr<IFireWireBus> m_bus;
    FireWireAddress m_address;
    FireWireTimeouts m_timeouts;
    std::shared_ptr<CaptureWatchList> m_captures;  // the capture sources made; the transport tells them of play
    FireWireTransport m_transport;
    std::shared_ptr<std::atomic<std::int32_t>> m_droppedFrames;  // the capture sources' streaming threads count
};

class FireWireEntry : public IVideoDeviceEntry {
public:
    FireWireEntry(std::shared_ptr<IFireWireBus> bus, FireWireAddress address, FireWireTimeouts timeouts)
        : m_bus(std::move(bus)), m_address(std::move(address)), m_timeouts(timeouts)
    {
    }
    Expected<std::string, std::string> ReadFriendlyName() const override { return m_address.label; }
    std::shared_ptr<IVideoDevice> Open() override
    {
        return std::make_shared<FireWireDevice>(m_bus, m_address, m_timeouts);
    }

private:
    std::shared_ptr<IFireWireBus> m_bus;
    FireWireAddress m_address;
    FireWireTimeouts m_timeouts;
};

// Whether the tape unit's output signal is DV (SD or SDL, either field rate). A unit that does not
// say is taken for DV: many DV camcorders do not implement the status.
bool hasDvOutput(IFireWireHandle& handle, int node)
{
    const auto response = handle.avcTransaction(node, avc::vcrCommand(avc::kStatus, avc::kOpOutputSignalMode, 0xFF));
    if (!response || avc::responseCode(*response) != avc::kStable)
        return true;
    const unsigned mode = avc::operand(*response) & 0x7Fu;
    return mode == 0x00 || mode == 0x04;
}

struct ListedCamcorder {
    FireWireAddress address;
    bool isDv = true;
};

// The AV/C tape units of one port.
void listPort(IFireWireBus& bus, int port, std::vector<ListedCamcorder>& camcorders)
{
    std::unique_ptr<IFireWireHandle> handle = bus.open(port);
    if (!handle)
        return;
    const int local = handle->localNodeId() & 0x3f;
    const int nodeCount = handle->nodeCount();
    for (int node = 0; node < nodeCount; ++node) {
        if (node == local)
            continue;
        const std::optional<FireWireRom> rom = handle->readRom(node);
        if (!rom || !rom->isAvcUnit || !handle->hasVcrSubunit(node))
            continue;
        ListedCamcorder camcorder;
        camcorder.address.guid = rom->guid;
        camcorder.address.port = port;
        camcorder.address.label = rom->label.empty() ? kUnnamedCamcorder : rom->label;
        camcorder.isDv = hasDvOutput(*handle, node);
        camcorders.push_back(std::move(camcorder));
    }
}

// "NAME (GUID 0123456789abcdef)" for every camcorder whose name another one has too; then the mark
// of a camcorder whose output is not DV.
void makeNamesUnique(std::vector<ListedCamcorder>& camcorders)
{
    std::map<std::string, int> counts;
    for (const auto& camcorder : camcorders)
        ++counts[camcorder.address.label];
    for (auto& camcorder : camcorders) {
        if (counts[camcorder.address.label] > 1) {
            char guid[40];
            std::snprintf(guid, sizeof guid, " (GUID %016llx)", static_cast<unsigned long long>(camcorder.address.guid));
            camcorder.address.label += guid;
        }
        if (!camcorder.isDv)
            camcorder.address.label += kNotDvMark;
    }
}

class FireWireBackend : public IVideoDeviceBackend {
public:
    FireWireBackend(std::shared_ptr<IFireWireBus> bus, FireWireTimeouts timeouts)
        : m_bus(std::move(bus)), m_timeouts(timeouts)
    {
    }

    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        std::vector<ListedCamcorder> camcorders;
        const int portCount = m_bus->portCount();
        for (int port = 0; port < portCount; ++port)
            listPort(*m_bus, port, camcorders);
        makeNamesUnique(camcorders);
        std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
        for (auto& camcorder : camcorders)
            entries.push_back(std::make_unique<FireWireEntry>(m_bus, std::move(camcorder.address), m_timeouts));
        return entries;
    }

    std::string DescribeAccessProblem() override
    {
        const std::vector<FireWireAccessProblem> problems = m_bus->accessProblems();
        if (problems.empty())
            return {};
        std::string files;
        for (const auto& problem : problems)
            files += (files.empty() ? "" : ", ") + problem.deviceFile;
        return "no permission to open " + files + " (" + std::strerror(problems.front().errorNumber) +
               "): add your user to the group that owns it (usually video) and log in again, or install a udev rule "
               "for IEEE 1394 AV/C devices";
    }

private:
    std::shared_ptr<IFireWireBus> m_bus;
    FireWireTimeouts m_timeouts;
};

}  // namespace

std::shared_ptr<IVideoDeviceBackend> makeFireWireBackend(std::shared_ptr<IFireWireBus> bus, FireWireTimeouts timeouts)
{
    return std::make_shared<FireWireBackend>(std::move(bus), timeouts);
}

std::shared_ptr<IVideoDeviceBackend> makeFireWireBackend()
{
    return makeFireWireBackend(makeSystemFireWireBus());
}

}  // namespace vantrel::mediagraph
