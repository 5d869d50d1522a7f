// SPDX-License-Identifier: GPL-3.0-or-later
// Listing video devices and finding one by friendly name, through fake backends and the real ones.
#include "fake_video_devices.h"
#include "mediagraph/device_control.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/virtual_camcorder.h"

#include <gtest/gtest.h>


namespace vantrel::mediagraph {
namespace {

using testing::FakeDeviceSpec;
using testing::FakeVideoDevice;
using testing::FakeVideoDeviceBackend;

// Runs f and returns the CDShowException it throws; fails the test when it throws none.
template <class F>
CDShowException thrownBy(F&& f)
{
    try {
        f();
    } catch (const CDShowException& error) {
        return error;
    }
    ADD_FAILURE() << "no CDShowException thrown";
    return CDShowException(GraphErrorKind::Invalid, "");
}

std::shared_ptr<FakeVideoDeviceBackend> fakeBackend(std::vector<FakeDeviceSpec> devices)
{
    return std::make_shared<FakeVideoDeviceBackend>(std::move(devices));
}

// Each way a lookup fails: the error's kind and fixed message, the names listed up to the
// failure, and the output device cleared first.
TEST(VideoDeviceLookup, failures_throw_the_fixed_errors_and_keep_the_names_listed_so_far)
{
    struct Case {
        const char* what;
        std::vector<std::shared_ptr<FakeVideoDeviceBackend>> backends;
        const char* wanted;  // nullptr: list only
        GraphErrorKind kind;
        const char* message;
        std::vector<std::string> names;
    };
    const auto unlisting = std::make_shared<FakeVideoDeviceBackend>(std::vector<FakeDeviceSpec>{}, false);
    const std::vector<FakeDeviceSpec> withUnreadable = {{"Sony DCR", 1}, {std::nullopt, 2}, {"Canon MV", 3}};
    const Case cases[] = {
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
        {"unreadable name, list", {fakeBackend(withUnreadable)}, nullptr, GraphErrorKind::Graph, "Error",
         {"Sony DCR"}},
        {"unreadable name, find", {fakeBackend(withUnreadable)}, "Canon MV", GraphErrorKind::Graph, "Error",
         {"Sony DCR"}},
        {"device that cannot be opened", {fakeBackend({{"Sony DCR", 1, false}})}, "Sony DCR", GraphErrorKind::Graph,
         "Error", {"Sony DCR"}},
    };
    for (const auto& c : cases) {
        ScopedVideoDeviceBackends backends(std::vector<std::shared_ptr<IVideoDeviceBackend>>(c.backends.begin(), c.backends.end()));
        std::vector<std::string> names;
        std::shared_ptr<IVideoDevice> device = std::make_shared<FakeVideoDevice>("stale", 0, false);
        const CDShowException error = thrownBy([&] {
            if (c.wanted != nullptr) FindVideoDevice(c.wanted, names, device);
            else ListVideoDevices(names);
        });
        EXPECT_EQ(error.kind(), c.kind) << c.what;
        EXPECT_EQ(error.message(), c.message) << c.what;
        EXPECT_EQ(names, c.names) << c.what;
        EXPECT_TRUE(c.wanted == nullptr || device == nullptr) << c.what << ": the output is cleared first";
    }
}

TEST(VideoDeviceLookup, finds_by_exact_name_and_still_lists_every_device)
{
    auto first = fakeBackend({{"Sony DCR", 1}, {"Canon MV", 2}});
    auto second = fakeBackend({{"Panasonic", 3}});
    ScopedVideoDeviceBackends backends({first, second});
    std::vector<std::string> names{"(kept)"};
    std::shared_ptr<IVideoDevice> device;
    FindVideoDevice("Sony DCR", names, device);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->FriendlyName(), "Sony DCR");
    EXPECT_EQ(names, (std::vector<std::string>{"(kept)", "Sony DCR", "Canon MV", "Panasonic"}));
    names.clear();
    ListVideoDevices(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Sony DCR", "Canon MV", "Panasonic"}));
    EXPECT_EQ(first->openCount + second->openCount, 1) << "only the matching device is opened";
}

TEST(VideoDeviceLookup, of_two_equal_names_the_first_wins_and_both_are_listed)
{
    auto backend = fakeBackend({{"Canon MV", 1}, {"DV camcorder", 2}, {"DV camcorder", 3}});
    auto later = fakeBackend({{"DV camcorder", 4}});
    ScopedVideoDeviceBackends backends({backend, later});
    std::vector<std::string> names;
    std::shared_ptr<IVideoDevice> device;
    FindVideoDevice("DV camcorder", names, device);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(static_cast<FakeVideoDevice&>(*device).serial, 2);
    EXPECT_EQ(names, (std::vector<std::string>{"Canon MV", "DV camcorder", "DV camcorder", "DV camcorder"}));
    EXPECT_EQ(backend->openCount + later->openCount, 1);
}

TEST(DeviceControl, commands_send_their_transport_modes)
{
    auto device = std::make_shared<FakeVideoDevice>("Sony DCR", 1, true);
    CDeviceControl control;
    EXPECT_TRUE(control.Attach(device));
    control.Stop();
    control.Play();
    control.Pause();
    control.Rewind();
    control.FastForward();
    control.StepForward();
    control.StepBackward();
    control.Record();
    control.RecordPause();
    // Pause sends play, then freeze.
    EXPECT_EQ(device->transport.modes, (std::vector<long>{4297, 4296, 4296, 4298, 4301, 4300, 4304, 4905, 4302, 4904}));
}

TEST(DeviceControl, device_without_transport_ignores_every_command)
{
    auto withTransport = std::make_shared<FakeVideoDevice>("Sony DCR", 1, true);
    CDeviceControl control;
    control.Play();  // nothing attached yet
    control.Attach(withTransport);
    control.Play();
    EXPECT_FALSE(control.Attach(std::make_shared<FakeVideoDevice>("Webcam", 2, false)));
    EXPECT_FALSE(control.HasTransport());
    control.Stop();
    control.Pause();
    control.Record();
    EXPECT_EQ(withTransport->transport.modes, std::vector<long>{ED_MODE_PLAY}) << "re-attaching drops the old device";
    EXPECT_FALSE(control.Attach(nullptr));
    control.Rewind();
}

}  // namespace
}  // namespace vantrel::mediagraph
