// SPDX-License-Identifier: GPL-3.0-or-later
// A device backend for tests: devices with chosen names, unreadable names, failing opens, and a
// transport that records the modes it is sent.
#pragma once

#include "mediagraph/video_devices.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel::mediagraph::testing {

class RecordingTransport : public ITransport {
public:
    void SetMode(long mode) override { modes.push_back(mode); }
    std::vector<long> modes;
};

class FakeVideoDevice : public IVideoDevice {
public:
    FakeVideoDevice(std::string name, int serial, bool hasTransport)
        : serial(serial), m_name(std::move(name)), m_hasTransport(hasTransport)
    {
    }
    std::string FriendlyName() const override { return m_name; }
    GstOwned<GstElement> MakeCaptureSource() override { return {}; }
    GstOwned<GstElement> MakeDvOutSink() override { return {}; }
    ITransport* Transport() override { return m_hasTransport ? &transport : nullptr; }
    std::int32_t DroppedFrames() const override { return -1; }

    RecordingTransport transport;
    const int serial;  // tells devices of equal names apart

private:
    const std::string m_name;
    bool m_hasTransport;
};

struct FakeDeviceSpec {
    std::optional<std::string> name;  // nullopt: the name cannot be read
    int serial = 0;
    bool canOpen = true;
    bool hasTransport = true;
};

class FakeVideoDeviceBackend : public IVideoDeviceBackend {
public:
    explicit FakeVideoDeviceBackend(std::vector<FakeDeviceSpec> devices, bool canEnumerate = true)
        : m_devices(std::move(devices)), m_canEnumerate(canEnumerate)
    {
    }

    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        if (!m_canEnumerate)
            return unexpected(std::string("no enumerator"));
        std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
        for (const FakeDeviceSpec& spec : m_devices)
            entries.push_back(std::make_unique<Entry>(spec, openCount));
        return entries;
    }

    int openCount = 0;

private:
    class Entry : public IVideoDeviceEntry {
    public:
        Entry(FakeDeviceSpec spec, int& openCount) : m_spec(std::move(spec)), m_openCount(openCount) {}
        Expected<std::string, std::string> ReadFriendlyName() const override
        {
            if (!m_spec.name)
                return unexpected(std::string("no FriendlyName"));
            return *m_spec.name;
        }
        std::shared_ptr<IVideoDevice> Open() override
        {
            ++m_openCount;
            if (!m_spec.canOpen)
                return nullptr;
            return std::make_shared<FakeVideoDevice>(*m_spec.name, m_spec.serial, m_spec.hasTransport);
        }

    private:
        FakeDeviceSpec m_spec;
        int& m_openCount;
    };

    std::vector<FakeDeviceSpec> m_devices;
    bool m_canEnumerate;
};

}  // namespace vantrel::mediagraph::testing
