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

TEST(VideoDeviceLookup, no_device_at_all_is_kind_one_no_video_device_found)
{
    ScopedVideoDeviceBackends backends({fakeBackend({}), fakeBackend({})});
    std::vector<std::string> names;
    const CDShowException listError = thrownBy([&] { ListVideoDevices(names); });
    EXPECT_EQ(listError.kind(), GraphErrorKind::NoSuchDevice);
    EXPECT_EQ(listError.message(), "No video device found");

    std::shared_ptr<IVideoDevice> device = std::make_shared<FakeVideoDevice>("stale", 0, false);
    const CDShowException findError = thrownBy([&] { FindVideoDevice("DV cam", names, device); });
    EXPECT_EQ(findError.message(), "No video device found");
    EXPECT_EQ(device, nullptr) << "the output is cleared first";
    EXPECT_TRUE(names.empty());
}

TEST(VideoDeviceLookup, backend_that_cannot_list_is_kind_two)
{
    ScopedVideoDeviceBackends backends(
        {fakeBackend({{"Sony DCR", 1}}), std::make_shared<FakeVideoDeviceBackend>(std::vector<FakeDeviceSpec>{}, false)});
    std::vector<std::string> names;
    const CDShowException error = thrownBy([&] { ListVideoDevices(names); });
    EXPECT_EQ(error.kind(), GraphErrorKind::NoDeviceEnumerator);
    EXPECT_EQ(error.message(), "Cannot create capture device !");
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

TEST(VideoDeviceLookup, name_differing_in_case_or_spacing_is_not_found)
{
    ScopedVideoDeviceBackends backends({fakeBackend({{"Sony DCR", 1}})});
    for (const char* name : {"sony dcr", "Sony DCR ", "Sony"}) {
        std::vector<std::string> names;
        std::shared_ptr<IVideoDevice> device;
        const CDShowException error = thrownBy([&] { FindVideoDevice(name, names, device); });
        EXPECT_EQ(error.kind(), GraphErrorKind::NoSuchDevice) << name;
        EXPECT_EQ(error.message(), "Device not found") << name;
        EXPECT_EQ(names, std::vector<std::string>{"Sony DCR"}) << "the walk lists every name even when it fails";
        EXPECT_EQ(device, nullptr);
    }
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

TEST(VideoDeviceLookup, unreadable_name_throws_error_in_list_and_find)
{
    ScopedVideoDeviceBackends backends({fakeBackend({{"Sony DCR", 1}, {std::nullopt, 2}, {"Canon MV", 3}})});
    std::vector<std::string> names;
    EXPECT_EQ(thrownBy([&] { ListVideoDevices(names); }).message(), "Error");
    EXPECT_EQ(names, std::vector<std::string>{"Sony DCR"}) << "names before the unreadable one stay";

    names.clear();
    std::shared_ptr<IVideoDevice> device;
    const CDShowException error = thrownBy([&] { FindVideoDevice("Canon MV", names, device); });
    EXPECT_EQ(error.kind(), GraphErrorKind::Graph);
    EXPECT_EQ(error.message(), "Error");

    ScopedVideoDeviceBackends unopenable({fakeBackend({{"Sony DCR", 1, false}})});
    EXPECT_EQ(thrownBy([&] { FindVideoDevice("Sony DCR", names, device); }).message(), "Error");
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
