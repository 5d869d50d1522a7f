// SPDX-License-Identifier: GPL-3.0-or-later
// Video input devices: one interface for every kind of camcorder, a registry of backends, lookup by name.
//
// The registry walks its backends in order (IEEE 1394 AV/C camcorders first, then the virtual
// camcorders named by VANTREL_VIRTUAL_CAMCORDER); each backend lists its entries, and an entry is
// opened into a device handle only when its name is the one asked for.
#pragma once

#include "mediagraph/gst_handles.h"
#include "dv/expected.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::mediagraph {

class CVirtualCamcorder;

// Transport commands of a camcorder; mode is one of the ED_MODE_* values.
class ITransport {
public:
    virtual ~ITransport() = default;
    virtual void SetMode(long mode) = 0;
    // Sends the mode and says whether the camcorder took it: empty, or why it did not (the text
    // for "Error: %s"). A device that cannot tell takes every mode.
    virtual std::string SendMode(long mode)
    {
        SetMode(mode);
        return {};
    }
};

// An opened camcorder. Its source and sink elements are new each time they are made.
class IVideoDevice {
public:
    virtual ~IVideoDevice() = default;
    virtual std::string FriendlyName() const = 0;
    // The element that delivers the camcorder's DV (video/x-dv, systemstream=true) into a reading
    // graph; empty when it cannot be made.
    virtual GstOwned<GstElement> MakeCaptureSource() = 0;
    // The element that takes DV frames and sends them to the camcorder for recording on tape;
    // empty when it cannot be made.
    virtual GstOwned<GstElement> MakeDvOutSink() = 0;
    // Null for a device without transport control.
    virtual ITransport* Transport() = 0;
    // Frames lost by the device so far; -1 when it does not count them.
    virtual std::int32_t DroppedFrames() const = 0;
};

// One device as a backend lists it, before it is opened.
class IVideoDeviceEntry {
public:
    virtual ~IVideoDeviceEntry() = default;
    // The friendly name, or a reason why it cannot be read.
    virtual Expected<std::string, std::string> ReadFriendlyName() const = 0;
    // Opens the device; null when it cannot be opened.
    virtual std::shared_ptr<IVideoDevice> Open() = 0;
};

class IVideoDeviceBackend {
public:
    virtual ~IVideoDeviceBackend() = default;
    // The devices of this kind, in their order. An error means the backend cannot list at all
    // (a backend that finds no hardware returns an empty list).
    virtual Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() = 0;
    // Why devices of this kind may be present but cannot be listed (no permission on their device
    // files), with how to allow them; empty when nothing is in the way.
    virtual std::string DescribeAccessProblem() { return {}; }
};

// The backends of this build, in listing order: IEEE 1394 camcorders, then virtual camcorders.
std::vector<std::shared_ptr<IVideoDeviceBackend>> defaultVideoDeviceBackends();
std::shared_ptr<IVideoDeviceBackend> makeFireWireBackend();
std::shared_ptr<IVideoDeviceBackend> makeVirtualCamcorderBackend();  // reads VANTREL_VIRTUAL_CAMCORDER

// The camcorder behind a virtual camcorder's handle (its tape, position, drop injection); null for
// any other device.
CVirtualCamcorder* VirtualCamcorderOf(IVideoDevice& device);

// Replaces the registry's backends for its lifetime (tests install fakes with it), then restores them.
class ScopedVideoDeviceBackends {
public:
    explicit ScopedVideoDeviceBackends(std::vector<std::shared_ptr<IVideoDeviceBackend>> backends);
    ~ScopedVideoDeviceBackends();
    ScopedVideoDeviceBackends(const ScopedVideoDeviceBackends&) = delete;
    ScopedVideoDeviceBackends& operator=(const ScopedVideoDeviceBackends&) = delete;

private:
    std::vector<std::shared_ptr<IVideoDeviceBackend>> m_previous;
};

// Appends the friendly name of every video input device, in order. Throws kind 2 "Cannot create
// capture device !" when a backend cannot list, kind 1 "No video device found" when there is no
// device at all (followed by ": " and the reason when a backend knows of devices it may not open),
// "Error" when a device's name cannot be read.
void ListVideoDevices(std::vector<std::string>& names);

// What keeps devices from being listed, one text per backend that knows (for a device listing to
// show beside the devices it found).
std::vector<std::string> VideoDeviceAccessProblems();

// The same walk: appends every name, and opens into device the first device whose friendly name
// equals name exactly (case-sensitive). Throws kind 1 "Device not found" when none does, "Error"
// when the matching device cannot be opened.
void FindVideoDevice(const std::string& name, std::vector<std::string>& names,
                     std::shared_ptr<IVideoDevice>& device);

}  // namespace vantrel::mediagraph
