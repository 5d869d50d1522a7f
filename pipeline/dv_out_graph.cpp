// SPDX-License-Identifier: GPL-3.0-or-later
// The writing graph of print to tape: "OutputFilter", a queue of 10 frames, and the camcorder's DV input.
#include "pipeline/dv_out_graph.h"

#include <chrono>
#include <vector>

namespace vantrel::pipeline {
namespace {

constexpr auto kStartTimeout = std::chrono::milliseconds(1000);
constexpr auto kDrainTimeout = std::chrono::milliseconds(5000);

}  // namespace

CDVOutGraph::CDVOutGraph(const std::string& deviceName, const CMediaType& type)
    : COutputFilterGraph(type, kQueuedFrames)
{
    std::vector<std::string> names;
    mediagraph::FindVideoDevice(deviceName, names, m_device);
    m_deviceControl.Attach(m_device);
    mediagraph::GstOwned<GstElement> sink = m_device->MakeDvOutSink();
    if (!sink)
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kError);
    gst_object_set_name(GST_OBJECT(sink.get()), "DVout");
    // The camcorder's input takes frames as they come: it need not wait for a first one to start.
    if (g_object_class_find_property(G_OBJECT_GET_CLASS(sink.get()), "async") != nullptr)
        g_object_set(sink.get(), "async", FALSE, nullptr);
    GstElement* added = AddElement(std::move(sink));
    Link(OutputElement(), added);

    if (Run() == mediagraph::StateChangeResult::Success)
        return;
    mediagraph::GraphState state = mediagraph::GraphState::Invalid;
    if (GetState(kStartTimeout, &state) == mediagraph::StateChangeResult::Failure)
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kCannotStartDvOutput);
    if (state != mediagraph::GraphState::Running)
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kDvOutputNotRunning);
}

CDVOutGraph::~CDVOutGraph()
{
    DeliverEndOfStream();
    WaitForCompletion(kDrainTimeout);
}

}  // namespace vantrel::pipeline
