// SPDX-License-Identifier: GPL-3.0-or-later
// The IEEE 1394 bus through libraw1394, librom1394, libavc1394, libiec61883 and dv1394src.
#include "mediagraph/firewire_bus.h"

#include <libavc1394/avc1394.h>
#include <libavc1394/rom1394.h>
#include <libiec61883/iec61883.h>
#include <libraw1394/raw1394.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

namespace vantrel::mediagraph {

namespace {

constexpr int kAvcRetries = 2;                        // libavc1394 retries a lost response this often
constexpr std::uint32_t kNoAvcResponse = 0xffffffffu;  // what avc1394_transaction returns on failure

struct RawHandleClose {
    void operator()(raw1394handle_t handle) const noexcept { raw1394_destroy_handle(handle); }
};
using RawHandle = std::unique_ptr<std::remove_pointer_t<raw1394handle_t>, RawHandleClose>;

class LibRaw1394Handle;

// libiec61883 keeps its own data in the handle's user data, so the bus-reset trampoline finds its
// handle object through this table.
std::mutex g_handlesMutex;
std::map<raw1394handle_t, LibRaw1394Handle*> g_handles;

class LibRaw1394Handle : public IFireWireHandle {
public:
    explicit LibRaw1394Handle(RawHandle handle) : m_handle(std::move(handle))
    {
        std::lock_guard lock(g_handlesMutex);
        g_handles[m_handle.get()] = this;
    }
    ~LibRaw1394Handle() override
    {
        stopDvTransmit();
        std::lock_guard lock(g_handlesMutex);
        g_handles.erase(m_handle.get());
    }

    int nodeCount() override { return raw1394_get_nodecount(m_handle.get()); }
    FireWireNodeId localNodeId() override { return raw1394_get_local_id(m_handle.get()); }

    std::optional<FireWireRom> readRom(int node) override
    {
        rom1394_directory directory{};
        const bool isRead = rom1394_get_directory(m_handle.get(), static_cast<nodeid_t>(node), &directory) >= 0;
        std::optional<FireWireRom> rom;
        if (isRead) {
            rom.emplace();
            rom->guid = rom1394_get_guid(m_handle.get(), static_cast<nodeid_t>(node));
            rom->label = directory.label != nullptr ? directory.label : "";
            rom->isAvcUnit = rom1394_get_node_type(&directory) == ROM1394_NODE_TYPE_AVC;
        }
        rom1394_free_directory(&directory);  // a failed read may have filled part of it
        return rom;
    }

    std::optional<std::uint64_t> readGuid(int node) override
    {
        const std::uint64_t guid = rom1394_get_guid(m_handle.get(), static_cast<nodeid_t>(node));
        if (guid == 0)
            return std::nullopt;
        return guid;
    }

    bool hasVcrSubunit(int node) override
    {
        return avc1394_check_subunit_type(m_handle.get(), static_cast<nodeid_t>(node), AVC1394_SUBUNIT_TYPE_VCR) != 0;
    }

    std::optional<std::uint32_t> avcTransaction(int node, std::uint32_t command) override
    {
        const quadlet_t response = avc1394_transaction(m_handle.get(), static_cast<nodeid_t>(node), command, kAvcRetries);
        if (response == kNoAvcResponse)
            return std::nullopt;
        return response;
    }

    int cmpConnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        connection.channel = iec61883_cmp_connect(m_handle.get(), output, &connection.outputPlug, input,
                                                  &connection.inputPlug, &connection.bandwidth);
        return connection.channel;
    }

    int cmpReconnect(FireWireNodeId output, FireWireNodeId input, CmpConnection& connection) override
    {
        connection.channel = iec61883_cmp_reconnect(m_handle.get(), output, &connection.outputPlug, input,
                                                    &connection.inputPlug, &connection.bandwidth, connection.channel);
        return connection.channel;
    }

    int cmpDisconnect(FireWireNodeId output, FireWireNodeId input, const CmpConnection& connection) override
    {
        return iec61883_cmp_disconnect(m_handle.get(), output, connection.outputPlug, input, connection.inputPlug,
                                       static_cast<unsigned>(connection.channel),
                                       static_cast<unsigned>(connection.bandwidth));
    }

    void setBusResetHandler(BusResetHandler handler) override
    {
        m_busReset = std::move(handler);
        raw1394_set_bus_reset_handler(m_handle.get(), &LibRaw1394Handle::onBusReset);
    }

    void updateGeneration(unsigned generation) override { raw1394_update_generation(m_handle.get(), generation); }

    bool startDvTransmit(bool isPal, int channel, DvPayloadSource source) override
    {
        stopDvTransmit();
        m_source = std::move(source);
        m_dv = iec61883_dv_xmit_init(m_handle.get(), isPal ? 1 : 0, &LibRaw1394Handle::fillPacket, this);
        if (m_dv == nullptr)
            return false;
        if (iec61883_dv_xmit_start(m_dv, channel) != 0) {
            stopDvTransmit();
            return false;
        }
        return true;
    }

    void stopDvTransmit() override
    {
        if (m_dv != nullptr)
            iec61883_dv_close(m_dv);  // stops the transmission first
        m_dv = nullptr;
    }

    int eventFd() override { return raw1394_get_fd(m_handle.get()); }
    int iterate() override { return raw1394_loop_iterate(m_handle.get()); }

private:
    static int fillPacket(unsigned char* data, int payloadCount, unsigned int, void* self)
    {
        return fillDvPackets(data, payloadCount, static_cast<LibRaw1394Handle*>(self)->m_source);
    }

    static int onBusReset(raw1394handle_t raw, unsigned int generation)
    {
        LibRaw1394Handle* handle = nullptr;
        {
            std::lock_guard lock(g_handlesMutex);
            auto found = g_handles.find(raw);
            if (found != g_handles.end())
                handle = found->second;
        }
        if (handle == nullptr || !handle->m_busReset) {
            raw1394_update_generation(raw, generation);
            return 0;
        }
        handle->m_busReset(generation);
        return 0;
    }

    RawHandle m_handle;
    iec61883_dv_t m_dv = nullptr;
    DvPayloadSource m_source;
    BusResetHandler m_busReset;
};

std::string readSysfsText(const std::filesystem::path& path)
{
    std::ifstream file(path);
    std::string text;
    std::getline(file, text);
    return text;
}

// Whether a device file stands for a node worth opening: not this computer's own node (its file
// is root's only on most systems), and an AV/C unit when the system says what units it has.
bool isCamcorderCandidate(const std::string& name)
{
    const std::filesystem::path sysfs = std::filesystem::path("/sys/bus/firewire/devices") / name;
    if (readSysfsText(sysfs / "is_local") == "1")
        return false;
    const std::string units = readSysfsText(sysfs / "units");
    return units.empty() || units.find("0x00a02d") != std::string::npos;
}

class LibRaw1394Bus : public IFireWireBus {
public:
    int portCount() override
    {
        RawHandle handle{raw1394_new_handle()};
        if (!handle)
            return 0;
        constexpr int kMaxPorts = 16;
        std::array<raw1394_portinfo, kMaxPorts> ports{};
        const int count = raw1394_get_port_info(handle.get(), ports.data(), kMaxPorts);
        return count < 0 ? 0 : std::min(count, kMaxPorts);
    }

    std::unique_ptr<IFireWireHandle> open(int port) override
    {
        RawHandle handle{raw1394_new_handle()};
        if (!handle || raw1394_set_port(handle.get(), port) < 0)
            return nullptr;
        return std::make_unique<LibRaw1394Handle>(std::move(handle));
    }

    std::vector<FireWireAccessProblem> accessProblems() override
    {
        std::vector<FireWireAccessProblem> problems;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("fw", 0) != 0 || name.size() < 3 || !isCamcorderCandidate(name))
                continue;
            const int fd = ::open(entry.path().c_str(), O_RDWR | O_CLOEXEC);
            if (fd >= 0) {
                ::close(fd);
                continue;
            }
            if (errno == EACCES || errno == EPERM)
                problems.push_back({entry.path().string(), errno});
        }
        return problems;
    }

    GstOwned<GstElement> makeDvReceiver(int port, std::uint64_t guid) override
    {
        GstOwned<GstElement> source = makeElement("dv1394src", nullptr);
        if (source)  // use-avc off: the transport commands are ours
            g_object_set(source.get(), "guid", static_cast<guint64>(guid), "port", port, "use-avc", FALSE, nullptr);
        return source;
    }

    void setReceiverChannel(GstElement* receiver, int channel) override
    {
        g_object_set(receiver, "channel", channel, nullptr);
    }
};

}  // namespace

std::shared_ptr<IFireWireBus> makeSystemFireWireBus()
{
    return std::make_shared<LibRaw1394Bus>();
}

}  // namespace vantrel::mediagraph
