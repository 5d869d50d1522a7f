// SPDX-License-Identifier: GPL-3.0-or-later
// The reading graph of a capture: the camcorder's DV source linked into "InputFilter".
#include "pipeline/capture_graph.h"

#include <vector>

namespace vantrel::pipeline {

CCaptureGraph::CCaptureGraph(const std::string& deviceName)
{
    std::vector<std::string> names;
    mediagraph::FindVideoDevice(deviceName, names, m_device);
    m_deviceControl.Attach(m_device);  // a device without transport gets an empty control
    mediagraph::GstOwned<GstElement> source = m_device->MakeCaptureSource();
    if (!source)
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kError);
    gst_object_set_name(GST_OBJECT(source.get()), "DVin");
    GstElement* added = AddElement(std::move(source));
    Link(added, InputFilter());
}

CCaptureGraph::~CCaptureGraph()
{
    Stop();  // no streaming thread calls into the device after this
}

std::int32_t CCaptureGraph::GetDroppedCount() const
{
    return m_device->DroppedFrames();
}

}  // namespace vantrel::pipeline
