// SPDX-License-Identifier: GPL-3.0-or-later
// IEEE 1394 camcorders: AV/C tape units listed with libraw1394/librom1394, DV in through dv1394src,
// DV out through libiec61883, transport through libavc1394's VCR commands.
//
// Design note. A machine without FireWire ports, or without permission on /dev/fw*, cannot open a
// raw1394 handle: the backend then lists nothing and never fails. DV out runs a transmit thread
// that serves libiec61883's packet requests from the frame taken last from the appsink; when no new
// frame has arrived it sends the current one again, as a camcorder's DV input expects a steady
// stream. The appsink's streaming thread waits while a taken frame has not started going out,
// which paces the writing graph at the device's frame rate.
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"

#include <gst/app/gstappsink.h>
#include <libavc1394/avc1394.h>
#include <libavc1394/avc1394_vcr.h>
#include <libavc1394/rom1394.h>
#include <libiec61883/iec61883.h>
#include <libraw1394/raw1394.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace vantrel::mediagraph {

namespace {

constexpr nodeid_t kLocalBusNodeBase = 0xffc0;  // bus 1023 (local bus) in the upper ten bits
constexpr int kBroadcastChannel = 63;
constexpr std::size_t kMaxDvFrameBytes = 144000;  // a PAL frame: 12 sequences of 150 blocks
constexpr std::size_t kNtscFrameBytes = 120000;   // 10 sequences of 150 blocks
constexpr std::size_t kDifBlockBytes = 80;

struct RawHandleClose {
    void operator()(raw1394handle_t handle) const noexcept { raw1394_destroy_handle(handle); }
};
using RawHandle = std::unique_ptr<std::remove_pointer_t<raw1394handle_t>, RawHandleClose>;

RawHandle openPort(int port)
{
    RawHandle handle{raw1394_new_handle()};
    if (!handle || raw1394_set_port(handle.get(), port) < 0)
        return {};
    return handle;
}

struct FireWireAddress {
    std::uint64_t guid = 0;
    int port = -1;
    int node = -1;
    std::string label;
};

// Transport through AV/C VCR commands. Commands go out on the caller's thread.
class FireWireTransport : public ITransport {
public:
    explicit FireWireTransport(FireWireAddress address) : m_address(std::move(address)) {}

    void SetMode(long mode) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_handle)
            m_handle = openPort(m_address.port);
        if (!m_handle)
            return;
        raw1394handle_t h = m_handle.get();
        const nodeid_t node = static_cast<nodeid_t>(m_address.node);
        switch (mode) {
        case ED_MODE_STOP: avc1394_vcr_stop(h, node); break;
        case ED_MODE_PLAY: avc1394_vcr_play(h, node); break;
        case ED_MODE_FREEZE: sendVcr(AVC1394_VCR_COMMAND_PLAY, AVC1394_VCR_OPERAND_PLAY_FORWARD_PAUSE); break;
        case ED_MODE_FF: avc1394_vcr_forward(h, node); break;
        case ED_MODE_REW: avc1394_vcr_rewind(h, node); break;
        case ED_MODE_RECORD: avc1394_vcr_record(h, node); break;
        case ED_MODE_STEP_FWD: avc1394_vcr_next(h, node); break;
        case ED_MODE_STEP_REV: avc1394_vcr_previous(h, node); break;
        case ED_MODE_RECORD_FREEZE: sendVcr(AVC1394_VCR_COMMAND_RECORD, AVC1394_VCR_OPERAND_RECORD_PAUSE); break;
        default: break;
        }
    }

private:
    void sendVcr(quadlet_t command, quadlet_t operand)
    {
        avc1394_send_command(m_handle.get(), static_cast<nodeid_t>(m_address.node),
                             AVC1394_CTYPE_CONTROL | AVC1394_SUBUNIT_TYPE_VCR | AVC1394_SUBUNIT_ID_0 | command | operand);
    }

    FireWireAddress m_address;
    std::mutex m_mutex;
    RawHandle m_handle;  // opened on the first command
};

// Sends DV frames taken from an appsink to the camcorder's input plug.
class DvTransmitter {
public:
    explicit DvTransmitter(FireWireAddress address) : m_address(std::move(address)) {}
    ~DvTransmitter() { stopTransmitting(); }

    // Streaming thread of the appsink: copies the frame in, waits while the previous one is pending.
    GstFlowReturn takeSample(GstAppSink* sink)
    {
        GstSample* sample = gst_app_sink_pull_sample(sink);  // transfer full
        if (sample == nullptr)
            return GST_FLOW_EOS;
        GstMiniOwned<GstSample> owned = adoptMini(sample);
        MappedBuffer map{gst_sample_get_buffer(sample), GST_MAP_READ};
        if (!map || (map.size() != kMaxDvFrameBytes && map.size() != kNtscFrameBytes))
            return GST_FLOW_OK;  // not a whole DV frame: nothing the camcorder could record
        std::unique_lock lock(m_frameMutex);
        m_frameTaken.wait(lock, [this] { return !m_hasPendingFrame || m_isStopping; });
        if (m_isStopping)
            return GST_FLOW_FLUSHING;
        std::memcpy(m_pending.data(), map.data(), map.size());
        m_pendingBytes = map.size();
        m_hasPendingFrame = true;
        lock.unlock();
        if (!m_thread.joinable())
            startTransmitting(m_pendingBytes == kMaxDvFrameBytes);
        return GST_FLOW_OK;
    }

    void stopTransmitting()
    {
        {
            std::lock_guard lock(m_frameMutex);
            m_isStopping = true;
        }
        m_frameTaken.notify_all();
        if (m_wakeFd >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto written = write(m_wakeFd, &one, sizeof one);
        }
        if (m_thread.joinable())
            m_thread.join();
        if (m_dv != nullptr)
            iec61883_dv_close(m_dv);
        m_dv = nullptr;
        if (m_wakeFd >= 0)
            close(m_wakeFd);
        m_wakeFd = -1;
    }

private:
    void startTransmitting(bool isPal)
    {
        m_handle = openPort(m_address.port);
        if (!m_handle)
            return;
        int outputPlug = -1;
        int inputPlug = -1;
        int bandwidth = 0;
        const nodeid_t local = raw1394_get_local_id(m_handle.get());
        const nodeid_t device = static_cast<nodeid_t>(kLocalBusNodeBase | m_address.node);
        int channel = iec61883_cmp_connect(m_handle.get(), local, &outputPlug, device, &inputPlug, &bandwidth);
        if (channel < 0)
            channel = kBroadcastChannel;
        m_dv = iec61883_dv_xmit_init(m_handle.get(), isPal ? 1 : 0, &DvTransmitter::fillPacket, this);
        if (m_dv == nullptr || iec61883_dv_xmit_start(m_dv, channel) != 0)
            return;
        m_wakeFd = eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { serviceBus(); });
    }

    // The transmit thread: services the bus until told to stop through the wake-up descriptor.
    void serviceBus()
    {
        std::array<pollfd, 2> fds{pollfd{raw1394_get_fd(m_handle.get()), POLLIN, 0}, pollfd{m_wakeFd, POLLIN, 0}};
        for (;;) {
            if (poll(fds.data(), fds.size(), 100) < 0)
                break;
            if (fds[1].revents != 0)
                break;
            if (fds[0].revents != 0 && raw1394_loop_iterate(m_handle.get()) != 0)
                break;
        }
        iec61883_dv_xmit_stop(m_dv);
    }

    // libiec61883 asks for the next n DIF blocks of the stream.
    static int fillPacket(unsigned char* data, int difBlockCount, unsigned int, void* self)
    {
        auto* transmitter = static_cast<DvTransmitter*>(self);
        const std::size_t wanted = static_cast<std::size_t>(difBlockCount) * kDifBlockBytes;
        std::lock_guard lock(transmitter->m_frameMutex);
        if (transmitter->m_sentBytes >= transmitter->m_currentBytes) {
            if (transmitter->m_hasPendingFrame) {
                std::swap(transmitter->m_current, transmitter->m_pending);
                transmitter->m_currentBytes = transmitter->m_pendingBytes;
                transmitter->m_hasPendingFrame = false;
                transmitter->m_frameTaken.notify_all();
            }
            transmitter->m_sentBytes = 0;  // repeat the current frame when nothing new came
        }
        if (transmitter->m_currentBytes == 0 || transmitter->m_sentBytes + wanted > transmitter->m_currentBytes)
            return -1;
        std::memcpy(data, transmitter->m_current.data() + transmitter->m_sentBytes, wanted);
        transmitter->m_sentBytes += wanted;
        return 0;
    }

    FireWireAddress m_address;
    RawHandle m_handle;
    iec61883_dv_t m_dv = nullptr;
    int m_wakeFd = -1;
    std::thread m_thread;

    std::mutex m_frameMutex;  // guards the frames and flags below
    std::condition_variable m_frameTaken;
    std::array<unsigned char, kMaxDvFrameBytes> m_current{};
    std::array<unsigned char, kMaxDvFrameBytes> m_pending{};
    std::size_t m_currentBytes = 0;
    std::size_t m_pendingBytes = 0;
    std::size_t m_sentBytes = 0;
    bool m_hasPendingFrame = false;
    bool m_isStopping = false;
};

class FireWireDevice : public IVideoDevice {
public:
    explicit FireWireDevice(FireWireAddress address)
        : m_address(address), m_transport(address), m_droppedFrames(std::make_shared<std::atomic<std::int32_t>>(0))
    {
    }

    std::string FriendlyName() const override { return m_address.label; }

    GstOwned<GstElement> MakeCaptureSource() override
    {
        GstOwned<GstElement> source = makeElement("dv1394src", nullptr);
        if (!source)
            return {};
        g_object_set(source.get(), "guid", static_cast<guint64>(m_address.guid), "port", m_address.port,
                     "use-avc", FALSE, nullptr);
        auto* counter = new std::shared_ptr<std::atomic<std::int32_t>>(m_droppedFrames);
        g_signal_connect_data(source.get(), "frame-dropped", G_CALLBACK(&FireWireDevice::onFrameDropped), counter,
                              [](gpointer data, GClosure*) {
                                  delete static_cast<std::shared_ptr<std::atomic<std::int32_t>>*>(data);
                              },
                              GConnectFlags{});
        return source;
    }

    GstOwned<GstElement> MakeDvOutSink() override
    {
        GstOwned<GstElement> sink = makeElement("appsink", nullptr);
        if (!sink)
            return {};
        GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string("video/x-dv, systemstream=(boolean)true"));
        g_object_set(sink.get(), "caps", caps.get(), "sync", FALSE, nullptr);
        auto* transmitter = new DvTransmitter(m_address);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* appSink, gpointer self) {
            return static_cast<DvTransmitter*>(self)->takeSample(appSink);
        };
        gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, transmitter,
                                   [](gpointer self) { delete static_cast<DvTransmitter*>(self); });
        return sink;
    }

    ITransport* Transport() override { return &m_transport; }
    std::int32_t DroppedFrames() const override { return m_droppedFrames->load(); }

private:
    static void onFrameDropped(GstElement*, gpointer counter)
    {
        ++**static_cast<std::shared_ptr<std::atomic<std::int32_t>>*>(counter);
    }

    FireWireAddress m_address;
    FireWireTransport m_transport;
    std::shared_ptr<std::atomic<std::int32_t>> m_droppedFrames;  // dv1394src's streaming thread counts
};

class FireWireEntry : public IVideoDeviceEntry {
public:
    explicit FireWireEntry(FireWireAddress address) : m_address(std::move(address)) {}
    Expected<std::string, std::string> ReadFriendlyName() const override { return m_address.label; }
    std::shared_ptr<IVideoDevice> Open() override { return std::make_shared<FireWireDevice>(m_address); }

private:
    FireWireAddress m_address;
};

std::string labelFor(const rom1394_directory& directory, std::uint64_t guid)
{
    if (directory.label != nullptr && directory.label[0] != '\0')
        return directory.label;
    char text[64];
    std::snprintf(text, sizeof text, "DV camcorder %016llx", static_cast<unsigned long long>(guid));
    return text;
}

// The AV/C tape units of one port.
void listPort(int port, std::vector<std::unique_ptr<IVideoDeviceEntry>>& entries)
{
    RawHandle handle = openPort(port);
    if (!handle)
        return;
    const int nodeCount = raw1394_get_nodecount(handle.get());
    for (int node = 0; node < nodeCount; ++node) {
        rom1394_directory directory{};
        if (rom1394_get_directory(handle.get(), static_cast<nodeid_t>(node), &directory) < 0)
            continue;
        const bool isTapeUnit = rom1394_get_node_type(&directory) == ROM1394_NODE_TYPE_AVC &&
                                avc1394_check_subunit_type(handle.get(), static_cast<nodeid_t>(node),
                                                           AVC1394_SUBUNIT_TYPE_VCR) != 0;
        if (isTapeUnit) {
            FireWireAddress address;
            address.guid = rom1394_get_guid(handle.get(), static_cast<nodeid_t>(node));
            address.port = port;
            address.node = node;
            address.label = labelFor(directory, address.guid);
            entries.push_back(std::make_unique<FireWireEntry>(std::move(address)));
        }
        rom1394_free_directory(&directory);
    }
}

class FireWireBackend : public IVideoDeviceBackend {
public:
    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
        RawHandle handle{raw1394_new_handle()};
        if (!handle)
            return entries;  // no FireWire here, or no permission: no camcorders
        constexpr int kMaxPorts = 16;
        std::array<raw1394_portinfo, kMaxPorts> ports{};
        const int portCount = raw1394_get_port_info(handle.get(), ports.data(), kMaxPorts);
        for (int port = 0; port < portCount && port < kMaxPorts; ++port)
            listPort(port, entries);
        return entries;
    }
};

}  // namespace

std::shared_ptr<IVideoDeviceBackend> makeFireWireBackend()
{
    return std::make_shared<FireWireBackend>();
}

}  // namespace vantrel::mediagraph
