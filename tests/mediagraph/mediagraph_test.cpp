// SPDX-License-Identifier: GPL-3.0-or-later
// The graph holder on real pipelines of test sources and fake sinks: states, completion, stop,
// and errors from the bus and from streaming threads (seeking: the player's graph test); the
// pipeline's error type: message copying with truncation; listing
// video devices and finding one by friendly name through fake backends, and transport control of a
// device with and without transport.
#include "mediagraph/device_control.h"
#include "mediagraph/dshow_graph.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"
#include "support/scoped_env.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>

namespace vantrel::mediagraph {
namespace {

using namespace std::chrono_literals;

// Counts buffers; once closed, a buffer that still comes is noted.
struct CountingSink {
    std::atomic<int> buffers{0};
    std::atomic<bool> isClosed{false};
    std::atomic<bool> hadLateBuffer{false};
    static void onHandoff(GstElement*, GstBuffer*, GstPad*, gpointer self)
    {
        auto* sink = static_cast<CountingSink*>(self);
        ++sink->buffers;
        if (sink->isClosed)
            sink->hadLateBuffer = true;
    }
};

// videotestsrc ! fakesink, the sink counting buffers; numBuffers -1 runs until stopped.
void buildTestGraph(CDShowGraph& graph, int numBuffers, CountingSink& counter)
{
    const std::string description = "videotestsrc num-buffers=" + std::to_string(numBuffers) +
                                    " ! video/x-raw,width=64,height=48,framerate=25/1 ! fakesink name=sink "
                                    "signal-handoffs=true sync=false";
    GstElement* bin = gst_parse_bin_from_description(description.c_str(), FALSE, nullptr);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(bin), "sink");
    g_signal_connect(sink, "handoff", G_CALLBACK(&CountingSink::onHandoff), &counter);
    gst_object_unref(sink);
    graph.AddElement(adopt(GST_ELEMENT(gst_object_ref_sink(bin))));
}

TEST(GraphHolder, stop_and_destruction_return_only_after_streaming_has_ended)
{
    auto startEndless = [](CDShowGraph& graph, CountingSink& counter) {
        buildTestGraph(graph, -1, counter);
        graph.Run();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (counter.buffers.load() < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_GE(counter.buffers.load(), 3) << "no buffers within 10 s";
    };
    CountingSink stopped, destroyed;
    CDShowGraph graph;
    startEndless(graph, stopped);
    GraphState state = GraphState::Invalid;
    EXPECT_EQ(graph.GetState(2000ms, &state), StateChangeResult::Success);
    EXPECT_EQ(state, GraphState::Running);
    graph.Stop();
    stopped.isClosed = true;
    graph.GetState(0ms, &state);
    EXPECT_EQ(state, GraphState::Stopped);
    EXPECT_EQ(graph.WaitForCompletion(10ms), Completion::TimedOut) << "stopping is not completion";
    {
        CDShowGraph doomed;
        startEndless(doomed, destroyed);
    }
    destroyed.isClosed = true;
    // A streaming thread still running would hand over buffers while the next graph runs.
    CountingSink later;
    CDShowGraph next;
    buildTestGraph(next, 30, later);
    next.Run();
    EXPECT_EQ(next.WaitForCompletion(5000ms), Completion::Finished);
    EXPECT_FALSE(stopped.hadLateBuffer) << "a buffer arrived after Stop returned";
    EXPECT_FALSE(destroyed.hadLateBuffer) << "a buffer arrived after the graph was destroyed";
}

// (Errors that elements post on the bus: the FireWire stream tests, which read their texts.)
TEST(GraphHolder, the_first_error_from_any_thread_is_kept_and_thrown_once_and_bad_links_throw)
{
    CDShowGraph graph;
    std::thread worker([&] {
        graph.RecordError(CDShowException(GraphErrorKind::Graph, "disk full"));
        for (int i = 0; i < 100; ++i)
            graph.RecordError(CDShowException(GraphErrorKind::Graph, "write failed"));
    });
    worker.join();
    EXPECT_EQ(graph.ErrorCount(), 101u);
    EXPECT_EQ(graph.WaitForCompletion(0ms), Completion::Failed);
    EXPECT_EQ(graph.FirstError()->message(), "disk full");
    EXPECT_THROW(graph.ThrowIfFailed(), CDShowException);
    EXPECT_NO_THROW(graph.ThrowIfFailed()) << "an error is reported once";

    try {
        graph.AddElement("no-such-element-factory", nullptr);
        FAIL() << "nothing thrown";
    } catch (const CDShowException& error) {
        EXPECT_EQ(error.message(), "Error");
    }
    GstElement* sink = graph.AddElement("fakesink", nullptr);
    EXPECT_THROW(graph.Link(sink, graph.AddElement("fakesink", nullptr)), CDShowException);
}

TEST(GraphHolder, writes_a_graph_viewer_dump_named_after_the_graph_and_process)
{
    const std::filesystem::path folder = testsupport::testDataDir("graph_dumps");
    const char* configured = std::getenv("GST_DEBUG_DUMP_DOT_DIR");
    if (gst_is_initialized() && (configured == nullptr || folder != configured))
        GTEST_SKIP() << "GStreamer started in this process before the dump folder was set";
    const testsupport::ScopedEnv dumpFolder("GST_DEBUG_DUMP_DOT_DIR", folder.c_str());

    CDShowGraph graph;
    CountingSink counter;
    buildTestGraph(graph, 1, counter);
    const std::string name = graph.DumpForGraphViewer();
    EXPECT_TRUE(std::regex_match(name, std::regex("FilterGraph [0-9a-f]{8} pid [0-9a-f]{8}"))) << name;
    const std::string text = testsupport::readText(folder / (name + ".dot"));
    EXPECT_NE(text.find("GstVideoTestSrc"), std::string::npos) << name;
    EXPECT_NE(text.find("GstFakeSink"), std::string::npos);
}

TEST(GraphErrors, get_error_message_cuts_to_the_buffer_and_always_terminates)
{
    const CDShowException error(GraphErrorKind::Graph, "DV output not running");
    const struct {
        std::size_t size;
        const char* expected;  // what the buffer then holds; nothing is written at or after `size`
    } cases[] = {{1024, "DV output not running"}, {22, "DV output not running"}, {5, "DV o"}, {1, ""}, {0, ""}};
    for (const auto& c : cases) {
        std::array<char, 1025> buffer;
        buffer.fill('#');
        EXPECT_TRUE(error.GetErrorMessage(buffer.data(), c.size));
        EXPECT_EQ(c.size == 0 ? "" : std::string(buffer.data()), c.expected) << c.size;
        EXPECT_EQ(buffer[c.size], '#') << "wrote past the given size " << c.size;
    }
}

// --- devices

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
    explicit FakeBackend(std::optional<Listing> listing) : listing(std::move(listing)) {}
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

// Each lookup: the device opened (its serial) or the error's kind and fixed message, the names
// listed up to then after the caller's own, and the output device cleared first.
TEST(VideoDeviceLookup, finds_the_first_of_the_exact_name_or_throws_the_fixed_error_keeping_the_names_so_far)
{
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
        {"no device, find", {Listing{}, Listing{}}, "DV cam", 0, GraphErrorKind::NoSuchDevice, "No video device found", {}},
        {"a backend cannot list", {Listing{{"Sony DCR", 1}}, std::nullopt}, nullptr, 0, GraphErrorKind::NoDeviceEnumerator,
         "Cannot create capture device !", {}},  // before any walk
        {"other case", {Listing{{"Sony DCR", 1}}}, "sony dcr", 0, GraphErrorKind::NoSuchDevice, "Device not found",
         {"Sony DCR"}},
        {"trailing blank", {Listing{{"Sony DCR", 1}}}, "Sony DCR ", 0, GraphErrorKind::NoSuchDevice, "Device not found",
         {"Sony DCR"}},
        {"prefix", {Listing{{"Sony DCR", 1}}}, "Sony", 0, GraphErrorKind::NoSuchDevice, "Device not found", {"Sony DCR"}},
        {"unreadable name", {Listing{{"Sony DCR", 1}, {"", 2}, {"Canon MV", 3}}}, "Canon MV", 0, GraphErrorKind::Graph,
         "Error", {"Sony DCR"}},
        {"cannot be opened", {Listing{{"Sony DCR", -1}}}, "Sony DCR", 0, GraphErrorKind::Graph, "Error", {"Sony DCR"}},
        {"first backend", {all, Listing{{"Sony DCR", 4}, {"Panasonic", 5}}}, "Sony DCR", 1, {}, "", allNames},
        {"first of equal names", {all, Listing{{"Sony DCR", 4}, {"Panasonic", 5}}}, "DV camcorder", 2, {}, "", allNames},
        {"second backend", {all, Listing{{"Sony DCR", 4}, {"Panasonic", 5}}}, "Panasonic", 5, {}, "", allNames},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::shared_ptr<IVideoDeviceBackend>> fakes;
        for (const auto& listing : c.backends)
            fakes.push_back(std::make_shared<FakeBackend>(listing));
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
    control.Stop();
    control.Pause();
    EXPECT_EQ(withTransport->modes, std::vector<long>{ED_MODE_PLAY}) << "re-attaching drops the old device";
    EXPECT_FALSE(control.Attach(nullptr));
    control.Rewind();
    EXPECT_EQ(control.LastRefusal(), "");
}

}  // namespace
}  // namespace vantrel::mediagraph
