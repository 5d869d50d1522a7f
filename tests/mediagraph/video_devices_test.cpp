// SPDX-License-Identifier: GPL-3.0-or-later
// Listing video devices and finding one by friendly name through fake backends, and transport
// control of a device with and without transport.
#include "mediagraph/device_control.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"

#include <gtest/gtest.h>

#include <optional>

namespace vantrel::mediagraph {
namespace {

// A device whose transport, when it has one, records the modes it is sent.
class FakeDevice : public IVideoDevice, public ITransport {
public:
    FakeDevice(std::string name, int serial, bool hasTransport = true)
        : serial(serial), m_name(std::move(name)), m_hasTransport(hasTransport)
    {
    }
    std::string FriendlyName() const override { return m_name; }
    GstOwned<GstElement> MakeCaptureSource() override { return {}; }
    GstOwned<GstElement> MakeDvOutSink() override { return {}; }
    ITransport* Transport() override { return m_hasTransport ? this : nullptr; }
    std::int32_t DroppedFrames() const override { return -1; }
    void SetMode(long mode) override { modes.push_back(mode); }

    const int serial;  // tells devices of equal names apart
    std::vector<long> modes;

private:
    std::string m_name;
    bool m_hasTransport;
};

struct FakeEntrySpec {
    std::optional<std::string> name;  // nothing: the name cannot be read
    int serial = 0;
    bool canOpen = true;
};

// Lists its entries (or cannot list at all) and counts the opens.
class FakeBackend : public IVideoDeviceBackend {
public:
    explicit FakeBackend(std::vector<FakeEntrySpec> entries, bool canEnumerate = true)
        : m_entries(std::move(entries)), m_canEnumerate(canEnumerate)
    {
    }
    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        if (!m_canEnumerate)
            return unexpected(std::string("no enumerator"));
        std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
        for (const FakeEntrySpec& spec : m_entries)
            entries.push_back(std::make_unique<Entry>(spec, openCount));
        return entries;
    }
    int openCount = 0;

private:
    class Entry : public IVideoDeviceEntry {
    public:
        Entry(FakeEntrySpec spec, int& openCount) : m_spec(std::move(spec)), m_openCount(openCount) {}
        Expected<std::string, std::string> ReadFriendlyName() const override
        {
            if (!m_spec.name)
                return unexpected(std::string("no FriendlyName"));
            return *m_spec.name;
        }
        std::shared_ptr<IVideoDevice> Open() override
        {
            ++m_openCount;
            return m_spec.canOpen ? std::make_shared<FakeDevice>(*m_spec.name, m_spec.serial) : nullptr;
        }

    private:
        FakeEntrySpec m_spec;
        int& m_openCount;
    };

    std::vector<FakeEntrySpec> m_entries;
    bool m_canEnumerate;
};

std::shared_ptr<FakeBackend> fakeBackend(std::vector<FakeEntrySpec> entries)
{
    return std::make_shared<FakeBackend>(std::move(entries));
}

// Each way a lookup fails: the error's kind and fixed message, the names listed up to the
// failure, and the output device cleared first.
TEST(VideoDeviceLookup, failures_throw_the_fixed_errors_and_keep_the_names_listed_so_far)
{
    const auto unlisting = std::make_shared<FakeBackend>(std::vector<FakeEntrySpec>{}, false);
    const std::vector<FakeEntrySpec> withUnreadable = {{"Sony DCR", 1}, {std::nullopt, 2}, {"Canon MV", 3}};
    const struct {
        const char* what;
        std::vector<std::shared_ptr<IVideoDeviceBackend>> backends;
        const char* wanted;  // nullptr: list only
        GraphErrorKind kind;
        const char* message;
        std::vector<std::string> names;
    } cases[] = {
        {"no device, list", {fakeBackend({}), fakeBackend({})}, nullptr, GraphErrorKind::NoSuchDevice,
         "No video device found", {}},
        {"no device, find", {fakeBackend({}), fakeBackend({})}, "DV cam", GraphErrorKind::NoSuchDevice,
         "No video device found", {}},
        {"a backend cannot list", {fakeBackend({{"Sony DCR", 1}}), unlisting}, nullptr,
         GraphErrorKind::NoDeviceEnumerator, "Cannot create capture device !", {}},  // before any walk
        {"other case", {fakeBackend({{"Sony DCR", 1}})}, "sony dcr", GraphErrorKind::NoSuchDevice, "Device not found",
         {"Sony DCR"}},
        {"trailing blank", {fakeBackend({{"Sony DCR", 1}})}, "Sony DCR ", GraphErrorKind::NoSuchDevice,
         "Device not found", {"Sony DCR"}},
        {"prefix", {fakeBackend({{"Sony DCR", 1}})}, "Sony", GraphErrorKind::NoSuchDevice, "Device not found",
         {"Sony DCR"}},
        {"unreadable name, list", {fakeBackend(withUnreadable)}, nullptr, GraphErrorKind::Graph, "Error", {"Sony DCR"}},
        {"unreadable name, find", {fakeBackend(withUnreadable)}, "Canon MV", GraphErrorKind::Graph, "Error",
         {"Sony DCR"}},
        {"device that cannot be opened", {fakeBackend({{"Sony DCR", 1, false}})}, "Sony DCR", GraphErrorKind::Graph,
         "Error", {"Sony DCR"}},
    };
    for (const auto& c : cases) {
        ScopedVideoDeviceBackends backends(c.backends);
        std::vector<std::string> names;
        std::shared_ptr<IVideoDevice> device = std::make_shared<FakeDevice>("stale", 0);
        try {
            if (c.wanted != nullptr)
                FindVideoDevice(c.wanted, names, device);
            else
                ListVideoDevices(names);
            ADD_FAILURE() << c.what << ": nothing thrown";
        } catch (const CDShowException& error) {
            EXPECT_EQ(error.kind(), c.kind) << c.what;
            EXPECT_EQ(error.message(), c.message) << c.what;
        }
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_TRUE(c.wanted == nullptr || device == nullptr) << c.what << ": the output is cleared first";
    }
}

// The first device of the wanted name, over all backends, is the one opened; every name is listed.
TEST(VideoDeviceLookup, finds_the_first_of_the_exact_name_and_still_lists_every_device)
{
    auto first = fakeBackend({{"Sony DCR", 1}, {"DV camcorder", 2}, {"DV camcorder", 3}});
    auto second = fakeBackend({{"Sony DCR", 4}, {"Panasonic", 5}});
    ScopedVideoDeviceBackends backends({first, second});
    const struct {
        const char* wanted;
        int serial;
    } cases[] = {{"Sony DCR", 1}, {"DV camcorder", 2}, {"Panasonic", 5}};
    for (const auto& c : cases) {
        std::vector<std::string> names{"(kept)"};
        std::shared_ptr<IVideoDevice> device;
        first->openCount = second->openCount = 0;
        FindVideoDevice(c.wanted, names, device);
        ASSERT_NE(device, nullptr) << c.wanted;
        EXPECT_EQ(static_cast<FakeDevice&>(*device).serial, c.serial);
        EXPECT_EQ(names, (std::vector<std::string>{"(kept)", "Sony DCR", "DV camcorder", "DV camcorder", "Sony DCR",
                                                   "Panasonic"}));
        EXPECT_EQ(first->openCount + second->openCount, 1) << "only the matching device is opened";
    }
}

TEST(DeviceControl, a_device_without_transport_ignores_every_command)
{
    auto withTransport = std::make_shared<FakeDevice>("Sony DCR", 1);
    CDeviceControl control;
    control.Play();  // nothing attached yet
    EXPECT_TRUE(control.Attach(withTransport));
    control.Play();
    EXPECT_FALSE(control.Attach(std::make_shared<FakeDevice>("Webcam", 2, false)));
    EXPECT_FALSE(control.HasTransport());
    control.Stop();
    control.Pause();
    EXPECT_EQ(withTransport->modes, std::vector<long>{ED_MODE_PLAY}) << "re-attaching drops the old device";
    EXPECT_FALSE(control.Attach(nullptr));
    control.Rewind();
    EXPECT_EQ(control.LastRefusal(), "");
}

}  // namespace
}  // namespace vantrel::mediagraph
