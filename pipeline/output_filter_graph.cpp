// SPDX-License-Identifier: GPL-3.0-or-later
// The writing side of the bridge: an appsrc named "OutputFilter" fed from a pool of frame buffers.
#include "pipeline/output_filter_graph.h"

#include <algorithm>

namespace vantrel::pipeline {

namespace {

constexpr GstClockTime kNanosecondsPer100ns = 100;
constexpr guint kDownstreamHeldBuffers = 2;  // a sink's last sample and a preroll buffer

mediagraph::GstOwned<GstBufferPool> makeFramePool(GstCaps* caps, std::uint32_t bufferBytes, guint bufferCount)
{
    mediagraph::GstOwned<GstBufferPool> pool = mediagraph::adopt(gst_buffer_pool_new());
    GstStructure* config = gst_buffer_pool_get_config(pool.get());
    gst_buffer_pool_config_set_params(config, caps, bufferBytes, bufferCount, bufferCount);
    if (!gst_buffer_pool_set_config(pool.get(), config) || !gst_buffer_pool_set_active(pool.get(), TRUE))
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kError);
    return pool;
}

}  // namespace

COutputFilterGraph::COutputFilterGraph(const CMediaType& type, long bufferCount)
    : m_mediaType(type), m_bufferCount(bufferCount)
{
    m_bufferBytes = type.sampleSize > 0 ? type.sampleSize : kMinimumFrameBufferBytes;
    const guint poolBuffers = static_cast<guint>(std::max(bufferCount, 1L)) + kDownstreamHeldBuffers;
    m_poolBuffers = poolBuffers;

    mediagraph::GstMiniOwned<GstCaps> caps = mediagraph::adoptMini(gst_caps_from_string(type.caps.c_str()));
    if (!caps)
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kError);
    m_pool = makeFramePool(caps.get(), m_bufferBytes, poolBuffers);

    m_outputFilter = AddElement("appsrc", "OutputFilter");
    g_object_set(m_outputFilter, "caps", caps.get(), "format", GST_FORMAT_TIME, "block", TRUE, "max-bytes",
                 static_cast<guint64>(poolBuffers) * m_bufferBytes, "emit-signals", FALSE, nullptr);
    if (bufferCount > 0) {
        m_queue = AddElement("queue", nullptr);
        g_object_set(m_queue, "max-size-buffers", static_cast<guint>(bufferCount), "max-size-bytes", 0u,
                     "max-size-time", static_cast<guint64>(0), nullptr);
        Link(m_outputFilter, m_queue);
    }
    mediagraph::GstOwned<GstPad> source = mediagraph::adopt(gst_element_get_static_pad(OutputElement(), "src"));
    if (!source)
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kError);
    gst_pad_add_probe(source.get(), GST_PAD_PROBE_TYPE_BUFFER, &COutputFilterGraph::countPassed, this, nullptr);
}

GstPadProbeReturn COutputFilterGraph::countPassed(GstPad*, GstPadProbeInfo*, gpointer self)
{
    auto& graph = *static_cast<COutputFilterGraph*>(self);
    {
        std::lock_guard lock(graph.m_passedMutex);
        ++graph.m_passed;
    }
    graph.m_passedChanged.notify_all();
    return GST_PAD_PROBE_OK;
}

bool COutputFilterGraph::WaitUntilPassed(std::uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_passedMutex);
    return m_passedChanged.wait_for(lock, timeout, [&] { return m_passed >= count; });
}

COutputFilterGraph::~COutputFilterGraph()
{
    CDShowGraph::Stop();  // every buffer returns to the pool before it goes
    gst_buffer_pool_set_active(m_pool.get(), FALSE);
}

void COutputFilterGraph::Deliver(REFERENCE_TIME duration, const std::byte* data, long length)
{
    if (data == nullptr)
        return;  // end of stream travels by DeliverEndOfStream only
    GstBuffer* buffer = nullptr;
    if (gst_buffer_pool_acquire_buffer(m_pool.get(), &buffer, nullptr) != GST_FLOW_OK || buffer == nullptr) {
        if (auto failure = FirstError())
            throw *failure;
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kError);
    }

    const gsize copyBytes = std::min<gsize>(static_cast<gsize>(std::max(length, 0L)), m_bufferBytes);
    gst_buffer_fill(buffer, 0, data, copyBytes);
    gst_buffer_set_size(buffer, static_cast<gssize>(copyBytes));

    // A frame of unknown (0) duration goes out unstamped and leaves the clock where it is.
    if (duration > 0) {
        const REFERENCE_TIME start = m_currentTime.load(std::memory_order_relaxed);
        GST_BUFFER_PTS(buffer) = static_cast<GstClockTime>(start) * kNanosecondsPer100ns;
        GST_BUFFER_DURATION(buffer) = static_cast<GstClockTime>(duration) * kNanosecondsPer100ns;
        m_currentTime.store(start + duration, std::memory_order_relaxed);
    }
    GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);  // every DV frame is a sync point

    gst_app_src_push_buffer(GST_APP_SRC(m_outputFilter), buffer);  // transfer full; a stopped graph drops it
    m_delivered.fetch_add(1, std::memory_order_acq_rel);
}

void COutputFilterGraph::OnFirstError() noexcept
{
    // Downstream has stopped taking buffers: a caller waiting for one would wait for ever.
    gst_buffer_pool_set_flushing(m_pool.get(), TRUE);
}

void COutputFilterGraph::DeliverEndOfStream()
{
    gst_app_src_end_of_stream(GST_APP_SRC(m_outputFilter));
}

}  // namespace vantrel::pipeline
