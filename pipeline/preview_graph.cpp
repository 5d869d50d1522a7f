// SPDX-License-Identifier: GPL-3.0-or-later
// The live picture of a running job: offered frames decoded at half size when the preview is ready.
#include "pipeline/preview_graph.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace vantrel::pipeline {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kLongestRest = std::chrono::milliseconds(200);
constexpr auto kRestBeyondLastDelivery = std::chrono::milliseconds(10);
constexpr gint kHalfResolution = 1;  // avdec_dvvideo "lowres": 1/2 size

}  // namespace

PreviewRect PreviewLayout(std::uint32_t width, std::uint32_t height) noexcept
{
    const std::uint64_t w = std::min<std::uint64_t>(width, std::uint64_t{height} * 4 / 3);
    const std::uint64_t h = std::min<std::uint64_t>(height, std::uint64_t{width} * 3 / 4);
    return {static_cast<std::int32_t>((width - w) / 2), static_cast<std::int32_t>((height - h) / 2),
            static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)};
}

CPreviewGraph::CPreviewGraph(IPreviewOwner* owner, const CMediaType& type)
    : COutputFilterGraph(type, 0), m_owner(owner)
{
    // The demultiplexer takes the picture blocks out of the interleaved frames.
    GstElement* demultiplexer = AddElement("dvdemux", nullptr);
    GstElement* decoder = AddElement("avdec_dvvideo", "DV Video Decoder");
    g_object_set(decoder, "lowres", kHalfResolution, nullptr);
    GstElement* convert = AddElement("videoconvert", nullptr);
    m_pictureSink = AddElement("appsink", "PreviewPicture");
    mediagraph::GstMiniOwned<GstCaps> caps = mediagraph::adoptMini(gst_caps_from_string("video/x-raw,format=BGR"));
    g_object_set(m_pictureSink, "caps", caps.get(), "sync", FALSE, "qos", FALSE, "max-buffers", 1u, "drop", TRUE,
                 nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &CPreviewGraph::onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(m_pictureSink), &callbacks, this, nullptr);
    Link(OutputElement(), demultiplexer);
    g_signal_connect(demultiplexer, "pad-added", G_CALLBACK(&CPreviewGraph::onDemultiplexedPad), decoder);
    Link(decoder, convert);
    Link(convert, m_pictureSink);

    m_pending.resize(BufferBytes());
    Layout();
    Run();
    m_thread = std::jthread([this](std::stop_token stop) { runPreview(std::move(stop)); });
}

CPreviewGraph::~CPreviewGraph()
{
    m_thread.request_stop();  // wakes a thread resting or waiting for a frame
    if (m_thread.joinable())
        m_thread.join();
    CDShowGraph::Stop();
    GstAppSinkCallbacks none{};
    gst_app_sink_set_callbacks(GST_APP_SINK(m_pictureSink), &none, nullptr, nullptr);
}

void CPreviewGraph::Deliver(REFERENCE_TIME duration, const std::byte* data, long length)
{
    if (data == nullptr)
        return;
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock() || !m_isWaitingForFrame)
        return;
    const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0L)), m_pending.size());
    std::memcpy(m_pending.data(), data, bytes);
    m_pendingLength = static_cast<long>(bytes);
    m_pendingDuration = duration;
    m_isWaitingForFrame = false;
    m_isFilled = true;
    lock.unlock();
    m_sampleReady.notify_one();
}

void CPreviewGraph::Layout()
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    if (m_owner != nullptr)
        m_owner->GetClientSize(&width, &height);
    const PreviewRect rect = PreviewLayout(width, height);
    std::lock_guard lock(m_mutex);
    m_videoRect = rect;
}

PreviewRect CPreviewGraph::VideoRect() const
{
    std::lock_guard lock(m_mutex);
    return m_videoRect;
}

void CPreviewGraph::runPreview(std::stop_token stop)
{
    Clock::time_point lastDelivery{};
    bool hasDelivered = false;
    while (!stop.stop_requested()) {
        const auto elapsed = Clock::now() - lastDelivery;
        const auto rest = hasDelivered && elapsed < kLongestRest
                              ? std::chrono::duration_cast<std::chrono::milliseconds>(elapsed) + kRestBeyondLastDelivery
                              : kLongestRest;
        std::unique_lock lock(m_mutex);
        // Pacing, not synchronisation: only a stop ends the rest early.
        m_sampleReady.wait_for(lock, stop, rest, [] { return false; });
        m_isWaitingForFrame = true;
        if (!m_sampleReady.wait(lock, stop, [this] { return m_isFilled; }))
            break;
        m_isFilled = false;
        lock.unlock();
        lastDelivery = Clock::now();
        hasDelivered = true;
        m_framesTaken.fetch_add(1, std::memory_order_relaxed);
        try {
            COutputFilterGraph::Deliver(m_pendingDuration, m_pending.data(), m_pendingLength);
        } catch (const mediagraph::CDShowException&) {
            break;  // the decoding graph failed: the preview shows nothing more, the job goes on
        }
    }
    std::lock_guard lock(m_mutex);
    m_isWaitingForFrame = false;
}

void CPreviewGraph::onDemultiplexedPad(GstElement*, GstPad* pad, gpointer decoder)
{
    if (!g_str_has_prefix(GST_PAD_NAME(pad), "video"))
        return;  // the sound is not previewed
    mediagraph::GstOwned<GstPad> decoderPad =
        mediagraph::adopt(gst_element_get_static_pad(static_cast<GstElement*>(decoder), "sink"));
    if (!gst_pad_is_linked(decoderPad.get()))
        gst_pad_link(pad, decoderPad.get());
}

GstFlowReturn CPreviewGraph::onNewSample(GstAppSink* sink, gpointer self)
{
    auto* preview = static_cast<CPreviewGraph*>(self);
    mediagraph::GstMiniOwned<GstSample> sample = mediagraph::adoptMini(gst_app_sink_pull_sample(sink));
    if (!sample)
        return GST_FLOW_EOS;
    GstStructure* structure = gst_caps_get_structure(gst_sample_get_caps(sample.get()), 0);
    gint width = 0;
    gint height = 0;
    gst_structure_get_int(structure, "width", &width);
    gst_structure_get_int(structure, "height", &height);
    mediagraph::MappedBuffer map{gst_sample_get_buffer(sample.get()), GST_MAP_READ};
    if (!map || preview->m_owner == nullptr)
        return GST_FLOW_OK;
    const std::int32_t stride = static_cast<std::int32_t>((width * 3 + 3) & ~3);  // GStreamer rows are 4-byte aligned
    const PreviewPicture picture{width, height, stride, map.bytes()};
    preview->m_owner->ShowPreviewPicture(picture, preview->VideoRect());
    preview->m_picturesShown.fetch_add(1, std::memory_order_relaxed);
    return GST_FLOW_OK;
}

}  // namespace vantrel::pipeline
