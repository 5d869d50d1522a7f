// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual camcorders named by VANTREL_VIRTUAL_CAMCORDER, as video input devices.
//
// Design note. One camcorder object per tape path is shared by every handle opened on it (a
// capture graph and a DV-out graph on the same camcorder drive one tape). Capture: an appsrc that
// the camcorder's sender thread feeds from a pool of frame buffers, stamped on the feeder's own
// clock from 0; a full pool makes the sender wait, as a busy capture card would. DV out: an appsink
// whose samples the camcorder records, at the tape's frame rate unless VANTREL_VIRTUAL_SPEED=max.
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>

namespace vantrel::mediagraph {

namespace {

constexpr const char* kDvCaps = "video/x-dv, systemstream=(boolean)true";
constexpr guint kFeederBuffers = 8;
constexpr guint kFrameBufferBytes = 144000;

bool isMaxSpeed()
{
    const char* speed = std::getenv("VANTREL_VIRTUAL_SPEED");
    return speed != nullptr && std::string_view(speed) == "max";
}

// Records one frame printed to the camcorder. A frame that cannot go on the tape stops the
// writing graph with an error whose text says why (the graph holder keeps it for the caller).
GstFlowReturn recordOrReport(CVirtualCamcorder& camcorder, GstElement* sink, std::span<const std::byte> frame)
{
    const RecordOutcome outcome = camcorder.receiveFrame(frame);
    if (outcome != RecordOutcome::WrongFormat && outcome != RecordOutcome::WriteFailed)
        return GST_FLOW_OK;
    postElementError(sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE,
                     outcome == RecordOutcome::WrongFormat
                         ? "The virtual camcorder takes only whole DV frames of its tape's standard"
                         : "The virtual camcorder cannot write its tape: " + camcorder.lastError());
    return GST_FLOW_ERROR;
}

// Receives the camcorder's played frames and pushes them into an appsrc.
class AppSrcFeeder : public IDvFrameReceiver {
public:
    explicit AppSrcFeeder(GstOwned<GstElement> appSrc) : m_appSrc(std::move(appSrc))
    {
        GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string(kDvCaps));
        m_pool = adopt(gst_buffer_pool_new());
        GstStructure* config = gst_buffer_pool_get_config(m_pool.get());
        gst_buffer_pool_config_set_params(config, caps.get(), kFrameBufferBytes, kFeederBuffers, kFeederBuffers);
        m_isPoolReady = gst_buffer_pool_set_config(m_pool.get(), config) && gst_buffer_pool_set_active(m_pool.get(), TRUE);
    }
    ~AppSrcFeeder() override { gst_buffer_pool_set_active(m_pool.get(), FALSE); }

    void receiveDvFrame(std::int64_t durationHns, std::span<const std::byte> frame) override
    {
        GstBuffer* buffer = nullptr;
        if (!m_isPoolReady || frame.size() > kFrameBufferBytes ||
            gst_buffer_pool_acquire_buffer(m_pool.get(), &buffer, nullptr) != GST_FLOW_OK)
            return;
        gst_buffer_fill(buffer, 0, frame.data(), frame.size());
        gst_buffer_set_size(buffer, static_cast<gssize>(frame.size()));
        GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(m_clockHns) * 100;
        GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(durationHns) * 100;
        m_clockHns += durationHns;
        gst_app_src_push_buffer(GST_APP_SRC(m_appSrc.get()), buffer);  // transfer full
    }

    void endOfTape() override { gst_app_src_end_of_stream(GST_APP_SRC(m_appSrc.get())); }

private:
    GstOwned<GstElement> m_appSrc;
    GstOwned<GstBufferPool> m_pool;
    bool m_isPoolReady = false;
    std::int64_t m_clockHns = 0;  // sender thread only
};

class VirtualTransport : public ITransport {
public:
    explicit VirtualTransport(CVirtualCamcorder& camcorder) : m_camcorder(camcorder) {}
    void SetMode(long mode) override { m_camcorder.setMode(mode); }

private:
    CVirtualCamcorder& m_camcorder;
};

class VirtualCamcorderDevice : public IVideoDevice {
public:
    explicit VirtualCamcorderDevice(std::unique_ptr<CVirtualCamcorder> camcorder)
        : m_camcorder(std::move(camcorder)), m_transport(*m_camcorder)
    {
    }
    ~VirtualCamcorderDevice() override { m_camcorder->attachReceiver(nullptr); }

    std::string FriendlyName() const override { return m_camcorder->friendlyName(); }

    GstOwned<GstElement> MakeCaptureSource() override
    {
        GstOwned<GstElement> source = makeElement("appsrc", nullptr);
        if (!source)
            return {};
        GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string(kDvCaps));
        g_object_set(source.get(), "caps", caps.get(), "format", GST_FORMAT_TIME, "is-live", TRUE, "block", TRUE,
                     "max-bytes", static_cast<guint64>(kFeederBuffers) * kFrameBufferBytes, nullptr);
        auto feeder = std::make_unique<AppSrcFeeder>(retain(source.get()));
        m_camcorder->attachReceiver(feeder.get());  // the previous feeder is no longer called after this
        m_feeder = std::move(feeder);
        return source;
    }

    GstOwned<GstElement> MakeDvOutSink() override
    {
        GstOwned<GstElement> sink = makeElement("appsink", nullptr);
        if (!sink)
            return {};
        GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string(kDvCaps));
        g_object_set(sink.get(), "caps", caps.get(), "sync", isMaxSpeed() ? FALSE : TRUE, "qos", FALSE, nullptr);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = [](GstAppSink* appSink, gpointer camcorder) {
            const MappedSample sample(appSink);
            if (!sample)
                return sample.failure();
            CVirtualCamcorder& recorder = **static_cast<std::shared_ptr<CVirtualCamcorder>*>(camcorder);
            return recordOrReport(recorder, GST_ELEMENT(appSink), sample.bytes());
        };
        // The sink keeps the camcorder alive: it may outlive this handle inside a stopping graph.
        gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, new std::shared_ptr<CVirtualCamcorder>(m_camcorder),
                                   [](gpointer camcorder) { delete static_cast<std::shared_ptr<CVirtualCamcorder>*>(camcorder); });
        return sink;
    }

    ITransport* Transport() override { return &m_transport; }
    std::int32_t DroppedFrames() const override { return static_cast<std::int32_t>(m_camcorder->droppedFrames()); }

    CVirtualCamcorder& camcorder() noexcept { return *m_camcorder; }

private:
    std::shared_ptr<CVirtualCamcorder> m_camcorder;
    VirtualTransport m_transport;
    std::unique_ptr<AppSrcFeeder> m_feeder;
};

// Opened camcorders by tape path, shared while any handle holds them.
std::mutex g_openMutex;
std::map<std::filesystem::path, std::weak_ptr<VirtualCamcorderDevice>> g_openCamcorders;

class VirtualCamcorderEntry : public IVideoDeviceEntry {
public:
    explicit VirtualCamcorderEntry(std::filesystem::path tapePath) : m_tapePath(std::move(tapePath)) {}

    Expected<std::string, std::string> ReadFriendlyName() const override
    {
        return CVirtualCamcorder::friendlyNameFor(m_tapePath);
    }

    std::shared_ptr<IVideoDevice> Open() override
    {
        std::lock_guard lock(g_openMutex);
        if (auto shared = g_openCamcorders[m_tapePath].lock())
            return shared;
        auto opened = CVirtualCamcorder::open(m_tapePath);
        if (!opened)
            return nullptr;
        auto device = std::make_shared<VirtualCamcorderDevice>(std::move(opened.value()));
        g_openCamcorders[m_tapePath] = device;
        return device;
    }

private:
    std::filesystem::path m_tapePath;
};

class VirtualCamcorderBackend : public IVideoDeviceBackend {
public:
    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
        const char* list = std::getenv("VANTREL_VIRTUAL_CAMCORDER");
        if (list == nullptr)
            return entries;
        std::string_view rest(list);
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            const std::string_view path = rest.substr(0, colon);
            if (!path.empty())
                entries.push_back(std::make_unique<VirtualCamcorderEntry>(std::filesystem::path(path)));
            rest = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        }
        return entries;
    }
};

}  // namespace

CVirtualCamcorder* VirtualCamcorderOf(IVideoDevice& device)
{
    auto* virtualDevice = dynamic_cast<VirtualCamcorderDevice*>(&device);
    return virtualDevice != nullptr ? &virtualDevice->camcorder() : nullptr;
}

std::shared_ptr<IVideoDeviceBackend> makeVirtualCamcorderBackend()
{
    return std::make_shared<VirtualCamcorderBackend>();
}

}  // namespace vantrel::mediagraph
