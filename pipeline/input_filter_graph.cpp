// SPDX-License-Identifier: GPL-3.0-or-later
// The reading side of the bridge: an appsink named "InputFilter" that hands frames to a sink.
#include "pipeline/input_filter_graph.h"

#include <exception>

namespace vantrel::pipeline {

using mediagraph::CDShowException;
using mediagraph::GraphErrorKind;

void applyMinimumSampleSize(CMediaType& type)
{
    if (type.sampleSize < kMinimumFrameBufferBytes)
        type.sampleSize = kMinimumFrameBufferBytes;
}

CInputFilterGraph::CInputFilterGraph()
{
    m_inputFilter = AddElement("appsink", "InputFilter");
    mediagraph::GstMiniOwned<GstCaps> caps = mediagraph::adoptMini(gst_caps_from_string(kInterleavedDvCaps));
    g_object_set(m_inputFilter, "caps", caps.get(), "sync", FALSE, "qos", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &CInputFilterGraph::onNewSample;
    callbacks.eos = &CInputFilterGraph::onEndOfStream;
    gst_app_sink_set_callbacks(GST_APP_SINK(m_inputFilter), &callbacks, this, nullptr);
}

CInputFilterGraph::~CInputFilterGraph()
{
    Stop();
    GstAppSinkCallbacks none{};
    gst_app_sink_set_callbacks(GST_APP_SINK(m_inputFilter), &none, nullptr, nullptr);
}

void CInputFilterGraph::GetMediaType(CMediaType* type)
{
    GstPad* pad = gst_element_get_static_pad(m_inputFilter, "sink");  // transfer full
    mediagraph::GstOwned<GstPad> sinkPad = mediagraph::adopt(pad);
    mediagraph::GstMiniOwned<GstCaps> caps = mediagraph::adoptMini(gst_pad_get_current_caps(sinkPad.get()));
    CMediaType connected;
    if (caps) {
        gchar* text = gst_caps_to_string(caps.get());
        connected.caps = text;
        g_free(text);
    } else {
        connected.caps = kInterleavedDvCaps;
    }
    connected.sampleSize = 0;  // DV caps carry no fixed size
    applyMinimumSampleSize(connected);
    *type = connected;
}

mediagraph::StateChangeResult CInputFilterGraph::Start(IFrameSink* sink)
{
    m_sink.store(sink, std::memory_order_release);
    return Run();
}

void CInputFilterGraph::Stop()
{
    CDShowGraph::Stop();
    m_sink.store(nullptr, std::memory_order_release);
}

template <class Delivery>
bool CInputFilterGraph::deliverGuarded(Delivery&& delivery) noexcept
{
    try {
        delivery();
        return true;
    } catch (const CDShowException& error) {
        RecordError(error);
    } catch (const std::exception& error) {
        RecordError(CDShowException(GraphErrorKind::Graph, error.what()));
    } catch (...) {
        RecordError(CDShowException(GraphErrorKind::Graph, mediagraph::graph_messages::kError));
    }
    return false;
}

GstFlowReturn CInputFilterGraph::onNewSample(GstAppSink* sink, gpointer self)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);  // transfer full
    if (sample == nullptr)
        return GST_FLOW_EOS;
    mediagraph::GstMiniOwned<GstSample> owned = mediagraph::adoptMini(sample);
    return static_cast<CInputFilterGraph*>(self)->deliverSample(sample);
}

GstFlowReturn CInputFilterGraph::deliverSample(GstSample* sample)
{
    IFrameSink* sink = m_sink.load(std::memory_order_acquire);
    if (sink == nullptr)
        return GST_FLOW_OK;  // a graph run without Start: nobody to hand frames to
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    mediagraph::MappedBuffer map{buffer, GST_MAP_READ};
    if (!map) {
        RecordError(CDShowException(GraphErrorKind::Graph, mediagraph::graph_messages::kError));
        return GST_FLOW_ERROR;
    }
    const GstClockTime bufferDuration = GST_BUFFER_DURATION(buffer);
    const REFERENCE_TIME duration =
        GST_CLOCK_TIME_IS_VALID(bufferDuration) ? static_cast<REFERENCE_TIME>(bufferDuration / 100) : 0;
    const bool didDeliver = deliverGuarded(
        [&] { sink->Deliver(duration, map.data(), static_cast<long>(map.size())); });
    return didDeliver ? GST_FLOW_OK : GST_FLOW_ERROR;
}

void CInputFilterGraph::onEndOfStream(GstAppSink*, gpointer self)
{
    auto* graph = static_cast<CInputFilterGraph*>(self);
    IFrameSink* sink = graph->m_sink.load(std::memory_order_acquire);
    if (sink != nullptr)
        graph->deliverGuarded([&] { sink->Deliver(-1, nullptr, 0); });
}

}  // namespace vantrel::pipeline
