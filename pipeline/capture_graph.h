// SPDX-License-Identifier: GPL-3.0-or-later
// The reading graph of a capture: the camcorder's DV source linked into "InputFilter".
#pragma once

#include "mediagraph/device_control.h"
#include "mediagraph/video_devices.h"
#include "pipeline/input_filter_graph.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vantrel::pipeline {

class CCaptureGraph : public CInputFilterGraph {
public:
    // Finds the device by its friendly name (kind 1 "Device not found", ...), adds its capture
    // source as "DVin" and links it to the InputFilter ("Error" when it cannot).
    explicit CCaptureGraph(const std::string& deviceName);
    ~CCaptureGraph() override;

    // Transport commands to the camcorder; empty for a device without transport.
    mediagraph::CDeviceControl& DeviceControl() noexcept { return m_deviceControl; }
    // Frames the device lost so far, -1 when it does not count them. Any thread.
    std::int32_t GetDroppedCount() const;

private:
    std::shared_ptr<mediagraph::IVideoDevice> m_device;
    mediagraph::CDeviceControl m_deviceControl;
};

}  // namespace vantrel::pipeline
