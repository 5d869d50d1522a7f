// SPDX-License-Identifier: GPL-3.0-or-later
// The writing graph of print to tape: "OutputFilter", a queue of 10 frames, and the camcorder's DV input.
#pragma once

#include "mediagraph/device_control.h"
#include "mediagraph/video_devices.h"
#include "pipeline/output_filter_graph.h"

#include <memory>
#include <string>

namespace vantrel::pipeline {

class CDVOutGraph : public COutputFilterGraph {
public:
    static constexpr long kQueuedFrames = 10;

    // Finds the camcorder by name, links the OutputFilter's queue to its DV input and runs the
    // graph: "Can't start DV output" when the graph does not report its state, "DV output not
    // running" when it is not running after 1000 ms, "Error" when it cannot be built.
    CDVOutGraph(const std::string& deviceName, const CMediaType& type);
    ~CDVOutGraph() override;  // sends end of stream and lets the queued frames reach the camcorder (5 s at most)

    mediagraph::CDeviceControl& DeviceControl() noexcept { return m_deviceControl; }

private:
    std::shared_ptr<mediagraph::IVideoDevice> m_device;
    mediagraph::CDeviceControl m_deviceControl;
};

}  // namespace vantrel::pipeline
