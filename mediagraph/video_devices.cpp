// SPDX-License-Identifier: GPL-3.0-or-later
// The device registry and the walk that lists video input devices and finds one by name.
#include "mediagraph/video_devices.h"

#include "mediagraph/graph_errors.h"

#include <mutex>
#include <optional>

namespace vantrel::mediagraph {

namespace {

std::mutex g_registryMutex;
std::optional<std::vector<std::shared_ptr<IVideoDeviceBackend>>> g_backends;  // empty until first use

std::vector<std::shared_ptr<IVideoDeviceBackend>> currentBackends()
{
    std::lock_guard lock(g_registryMutex);
    if (!g_backends)
        g_backends = defaultVideoDeviceBackends();
    return *g_backends;
}

// The walk shared by ListVideoDevices and FindVideoDevice; name and device are null for a listing.
void walkVideoDevices(const std::string* name, std::vector<std::string>& names,
                      std::shared_ptr<IVideoDevice>* device)
{
    if (device != nullptr)
        device->reset();
    std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
    for (const auto& backend : currentBackends()) {
        auto listed = backend->Enumerate();
        if (!listed)
            ThrowGraphError(GraphErrorKind::NoDeviceEnumerator, graph_messages::kCannotCreateCaptureDevice);
        for (auto& entry : listed.value())
            entries.push_back(std::move(entry));
    }
    if (entries.empty()) {
        for (const auto& backend : currentBackends()) {
            if (const std::string problem = backend->DescribeAccessProblem(); !problem.empty())
                ThrowGraphError(GraphErrorKind::NoSuchDevice, std::string(graph_messages::kNoVideoDevice) + ": " + problem);
        }
        ThrowGraphError(GraphErrorKind::NoSuchDevice, graph_messages::kNoVideoDevice);
    }

    for (auto& entry : entries) {
        auto friendlyName = entry->ReadFriendlyName();
        if (!friendlyName)
            ThrowGraphError(graph_messages::kError);
        names.push_back(friendlyName.value());
        if (name != nullptr && device != nullptr && !*device && friendlyName.value() == *name) {
            *device = entry->Open();
            if (!*device)
                ThrowGraphError(graph_messages::kError);
        }
    }
    if (device != nullptr && !*device)
        ThrowGraphError(GraphErrorKind::NoSuchDevice, graph_messages::kDeviceNotFound);
}

}  // namespace

std::vector<std::shared_ptr<IVideoDeviceBackend>> defaultVideoDeviceBackends()
{
    return {makeFireWireBackend(), makeVirtualCamcorderBackend()};
}

ScopedVideoDeviceBackends::ScopedVideoDeviceBackends(std::vector<std::shared_ptr<IVideoDeviceBackend>> backends)
{
    std::lock_guard lock(g_registryMutex);
    if (!g_backends)
        g_backends = defaultVideoDeviceBackends();
    m_previous = std::exchange(*g_backends, std::move(backends));
}

ScopedVideoDeviceBackends::~ScopedVideoDeviceBackends()
{
    std::lock_guard lock(g_registryMutex);
    *g_backends = std::move(m_previous);
}

void ListVideoDevices(std::vector<std::string>& names)
{
    walkVideoDevices(nullptr, names, nullptr);
}

std::vector<std::string> VideoDeviceAccessProblems()
{
    std::vector<std::string> problems;
    for (const auto& backend : currentBackends()) {
        if (std::string problem = backend->DescribeAccessProblem(); !problem.empty())
            problems.push_back(std::move(problem));
    }
    return problems;
}

void FindVideoDevice(const std::string& name, std::vector<std::string>& names,
                     std::shared_ptr<IVideoDevice>& device)
{
    walkVideoDevices(&name, names, &device);
}

}  // namespace vantrel::mediagraph
