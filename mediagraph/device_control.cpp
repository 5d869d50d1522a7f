// SPDX-License-Identifier: GPL-3.0-or-later
// Transport commands of a camcorder, as mode changes.
#include "mediagraph/device_control.h"

#include "mediagraph/graph_errors.h"
#include "mediagraph/virtual_camcorder.h"

namespace vantrel::mediagraph {

bool CDeviceControl::Attach(std::shared_ptr<IVideoDevice> device)
{
    m_transport = nullptr;
    m_device = std::move(device);
    if (m_device)
        m_transport = m_device->Transport();
    return m_transport != nullptr;
}

void CDeviceControl::send(long mode)
{
    m_lastRefusal.clear();
    if (m_transport != nullptr)
        m_lastRefusal = m_transport->SendMode(mode);
}

void CDeviceControl::ThrowIfRefused() const
{
    if (!m_lastRefusal.empty())
        ThrowGraphError(m_lastRefusal);
}

void CDeviceControl::Stop() { send(ED_MODE_STOP); }
void CDeviceControl::Play() { send(ED_MODE_PLAY); }
void CDeviceControl::Rewind() { send(ED_MODE_REW); }
void CDeviceControl::FastForward() { send(ED_MODE_FF); }
void CDeviceControl::StepForward() { send(ED_MODE_STEP_FWD); }
void CDeviceControl::StepBackward() { send(ED_MODE_STEP_REV); }
void CDeviceControl::Record() { send(ED_MODE_RECORD); }
void CDeviceControl::RecordPause() { send(ED_MODE_RECORD_FREEZE); }

void CDeviceControl::Pause()
{
    send(ED_MODE_PLAY);
    if (!m_lastRefusal.empty())
        return;  // a deck that refuses to play cannot freeze: report the first refusal
    send(ED_MODE_FREEZE);
}

}  // namespace vantrel::mediagraph
