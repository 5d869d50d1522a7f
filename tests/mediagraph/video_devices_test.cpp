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
struct FakeDevice : IVideoDevice, ITransport {
    FakeDevice(std::string name, int serial, bool hasTransport = true)
        : name(std::move(name)), serial(serial), hasTransport(hasTransport)
    {
    }
    std::string FriendlyName() const override { return name; }
    GstOwned<GstElement> MakeCaptureSource() override { return {}; }
    GstOwned<GstElement> MakeDvOutSink() override { return {}; }
    ITransport* Transport() override { return hasTransport ? this : nullptr; }
    std::int32_t DroppedFrames() const override { return -1; }
    void SetMode(long mode) override { modes.push_back(mode); }

    std::string name;
    int serial;  // tells devices of equal names apart
    bool hasTransport;
    std::vector<long> modes;
};

// An entry by name and serial: an empty name cannot be read, a negative serial cannot be opened.
using Listing = std::vector<std::pair<std::string, int>>;

// Lists its entries (nothing: cannot list at all) and counts the opens.
struct FakeBackend : IVideoDeviceBackend {
    struct Entry : IVideoDeviceEntry {
        Entry(std::pair<std::string, int> spec, int& opens) : spec(std::move(spec)), opens(opens) {}
        Expected<std::string, std::string> ReadFriendlyName() const override
        {
            return spec.first.empty() ? Expected<std::string, std::string>(unexpected(std::string("no name")))
                                      : spec.first;
        }
        std::shared_ptr<IVideoDevice> Open() override
        {
            ++opens;
            return spec.second < 0 ? nullptr : std::make_shared<FakeDevice>(spec.first, spec.second);
        }
        std::pair<std::string, int> spec;
        int& opens;
    };
    Expected<std::vector<std::unique_ptr<IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        if (!listing)
            return unexpected(std::string("no enumerator"));
        std::vector<std::unique_ptr<IVideoDeviceEntry>> entries;
        for (const auto& spec : *listing)
            entries.push_back(std::make_unique<Entry>(spec, opens));
        return entries;
    }
    std::optional<Listing> listing;
    int opens = 0;
};

std::shared_ptr<FakeBackend> fake(std::optional<Listing> listing)
{
    auto backend = std::make_shared<FakeBackend>();
    backend->listing = std::move(listing);
    return backend;
}

// Each lookup: the device opened (its serial) or the error's kind and fixed message, the names
// listed up to then after the caller's own, and the output device cleared first.
TEST(VideoDeviceLookup, finds_the_first_of_the_exact_name_or_throws_the_fixed_error_keeping_the_names_so_far)
{
    const Listing unreadable = {{"Sony DCR", 1}, {"", 2}, {"Canon MV", 3}};
    const Listing all = {{"Sony DCR", 1}, {"DV camcorder", 2}, {"DV camcorder", 3}};
    const std::vector<std::string> allNames = {"Sony DCR", "DV camcorder", "DV camcorder", "Sony DCR", "Panasonic"};
    const struct {
        const char* what;
        std::vector<std::optional<Listing>> backends;
        const char* wanted;  // nullptr: list only
        int serial;          // of the device found; 0 when the lookup throws
        GraphErrorKind kind;
        const char* message;
        std::vector<std::string> names;
    } cases[] = {
        {"no device, list", {Listing{}, Listing{}}, nullptr, 0, GraphErrorKind::NoSuchDevice, "No video device found", {}},
        {"no device, find", {Listing{}, Listing{}}, "DV cam", 0, GraphErrorKind::NoSuchDevice, "No video device found", {}},
        {"a backend cannot list", {Listing{{"Sony DCR", 1}}, std::nullopt}, nullptr, 0, GraphErrorKind::NoDeviceEnumerator,
         "Cannot create capture device !", {}},  // before any walk
        {"other case", {Listing{{"Sony DCR", 1}}}, "sony dcr", 0, GraphErrorKind::NoSuchDevice, "Device not found",
         {"Sony DCR"}},
        {"trailing blank", {Listing{{"Sony DCR", 1}}}, "Sony DCR ", 0, GraphErrorKind::NoSuchDevice, "Device not found",
         {"Sony DCR"}},
        {"prefix", {Listing{{"Sony DCR", 1}}}, "Sony", 0, GraphErrorKind::NoSuchDevice, "Device not found", {"Sony DCR"}},
        {"unreadable name, list", {unreadable}, nullptr, 0, GraphErrorKind::Graph, "Error", {"Sony DCR"}},
        {"unreadable name, find", {unreadable}, "Canon MV", 0, GraphErrorKind::Graph, "Error", {"Sony DCR"}},
        {"cannot be opened", {Listing{{"Sony DCR", -1}}}, "Sony DCR", 0, GraphErrorKind::Graph, "Error", {"Sony DCR"}},
        {"first backend", {all, Listing{{"Sony DCR", 4}, {"Panasonic", 5}}}, "Sony DCR", 1, {}, "", allNames},
        {"first of equal names", {all, Listing{{"Sony DCR", 4}, {"Panasonic", 5}}}, "DV camcorder", 2, {}, "", allNames},
        {"second backend", {all, Listing{{"Sony DCR", 4}, {"Panasonic", 5}}}, "Panasonic", 5, {}, "", allNames},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::shared_ptr<IVideoDeviceBackend>> fakes;
        for (const auto& listing : c.backends)
            fakes.push_back(fake(listing));
        ScopedVideoDeviceBackends backends(fakes);
        std::vector<std::string> names{"(kept)"};
        std::shared_ptr<IVideoDevice> device = std::make_shared<FakeDevice>("stale", 0);
        try {
            if (c.wanted != nullptr)
                FindVideoDevice(c.wanted, names, device);
            else
                ListVideoDevices(names);
            EXPECT_NE(c.serial, 0) << "nothing thrown";
        } catch (const CDShowException& error) {
            EXPECT_EQ(error.kind(), c.kind);
            EXPECT_EQ(error.message(), c.message);
        }
        EXPECT_EQ(std::vector(names.begin() + 1, names.end()), c.names);
        if (c.serial != 0) {
            ASSERT_NE(device, nullptr);
            EXPECT_EQ(static_cast<FakeDevice&>(*device).serial, c.serial);
            int opens = 0;
            for (const auto& backend : fakes)
                opens += static_cast<FakeBackend&>(*backend).opens;
            EXPECT_EQ(opens, 1) << "only the matching device is opened";
        } else if (c.wanted != nullptr) {
            EXPECT_EQ(device, nullptr) << "the output is cleared first";
        }
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
