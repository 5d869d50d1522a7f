// SPDX-License-Identifier: GPL-3.0-or-later
// Transport commands (play, stop, record, ...) sent to a camcorder; a device without transport ignores them.
#pragma once

#include "mediagraph/video_devices.h"

#include <memory>
#include <string>

namespace vantrel::mediagraph {

class CDeviceControl {
public:
    // Drops any device held, then takes this one's transport. True when it has one.
    bool Attach(std::shared_ptr<IVideoDevice> device);
    bool HasTransport() const noexcept { return m_transport != nullptr; }

    void Stop();
    void Play();
    void Pause();  // play, then freeze: a stopped camcorder must be playing before it can freeze
    void Rewind();
    void FastForward();
    void StepForward();
    void StepBackward();
    void Record();
    void RecordPause();

    // Why the camcorder refused the last command sent (the text for "Error: %s"); empty when it
    // took it. The commands themselves never throw: stopping a job must not fail half-way.
    const std::string& LastRefusal() const noexcept { return m_lastRefusal; }
    // Throws kind 3 with that text when the last command was refused.
    void ThrowIfRefused() const;

private:
    void send(long mode);

    std::shared_ptr<IVideoDevice> m_device;  // keeps the transport alive
    ITransport* m_transport = nullptr;       // owned by m_device; null without transport
    std::string m_lastRefusal;
};

}  // namespace vantrel::mediagraph
