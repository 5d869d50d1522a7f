// SPDX-License-Identifier: GPL-3.0-or-later
// Capture and print-to-tape figures with the virtual camcorder: CPU time per frame of a capture at
// full speed, and the pacing (mean and worst interval) of frames printed to tape and captured at
// the tape's frame rate.
//
// Usage: capture_bench [work-folder] [capture-frames]
#include "mediagraph/device_control.h"
#include "mediagraph/video_devices.h"
#include "pipeline/input_filter_graph.h"
#include "pipeline/output_filter_graph.h"
#include "support/synthetic_dv_frame.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace vantrel;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPalFrameBytes = 144000;

std::vector<std::byte> numberedPalFrame(std::uint32_t number)
{
    static const std::vector<std::byte> base = testsupport::SyntheticDvFrame::pal().bytes();
    std::vector<std::byte> frame = base;
    std::memcpy(frame.data() + 7 * 80 + 8, &number, sizeof number);  // inside the first video block
    return frame;
}

void writeRawTape(const std::filesystem::path& path, std::uint32_t frameCount)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const auto frame = numberedPalFrame(i);
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
}

double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::shared_ptr<mediagraph::IVideoDevice> openVirtualCamcorder(const std::filesystem::path& tape, bool isMaxSpeed)
{
    setenv("VANTREL_VIRTUAL_CAMCORDER", tape.c_str(), 1);
    if (isMaxSpeed)
        setenv("VANTREL_VIRTUAL_SPEED", "max", 1);
    else
        unsetenv("VANTREL_VIRTUAL_SPEED");
    std::vector<std::string> names;
    std::shared_ptr<mediagraph::IVideoDevice> device;
    mediagraph::FindVideoDevice("Virtual DV camcorder (" + tape.filename().string() + ")", names, device);
    return device;
}

// Counts frames and notes when each arrived; checks that they come in tape order.
class TimingSink : public pipeline::IFrameSink {
public:
    explicit TimingSink(std::size_t expected) { m_arrivals.reserve(expected); }
    void Deliver(pipeline::REFERENCE_TIME, const std::byte* data, long length) override
    {
        if (data == nullptr)
            return;
        std::uint32_t number = 0;
        if (length >= static_cast<long>(kPalFrameBytes))
            std::memcpy(&number, data + 7 * 80 + 8, sizeof number);
        if (number != m_arrivals.size())
            ++m_outOfOrder;
        if (m_arrivals.size() < m_arrivals.capacity())
            m_arrivals.push_back(Clock::now());
    }
    const std::vector<Clock::time_point>& arrivals() const { return m_arrivals; }
    int outOfOrder() const { return m_outOfOrder; }

private:
    std::vector<Clock::time_point> m_arrivals;  // reserved up front: no allocation per frame
    int m_outOfOrder = 0;
};

struct Intervals {
    double meanMs = 0;
    double shortestMs = 0;
    double longestMs = 0;
};

Intervals intervalsOf(const std::vector<Clock::time_point>& times)
{
    Intervals result;
    if (times.size() < 2)
        return result;
    std::vector<double> gaps;
    for (std::size_t i = 1; i < times.size(); ++i)
        gaps.push_back(std::chrono::duration<double, std::milli>(times[i] - times[i - 1]).count());
    result.meanMs = std::chrono::duration<double, std::milli>(times.back() - times.front()).count() /
                    static_cast<double>(gaps.size());
    result.shortestMs = *std::min_element(gaps.begin(), gaps.end());
    result.longestMs = *std::max_element(gaps.begin(), gaps.end());
    return result;
}

class CaptureGraph : public pipeline::CInputFilterGraph {
public:
    explicit CaptureGraph(mediagraph::IVideoDevice& device)
    {
        Link(AddElement(device.MakeCaptureSource()), InputFilter());
    }
};

void benchCapture(const std::filesystem::path& folder, std::uint32_t frameCount, bool isMaxSpeed)
{
    const auto tape = folder / (isMaxSpeed ? "capture_full_speed.dv" : "capture_tape_rate.dv");
    writeRawTape(tape, frameCount);
    auto device = openVirtualCamcorder(tape, isMaxSpeed);
    CaptureGraph graph(*device);
    TimingSink sink(frameCount);
    mediagraph::CDeviceControl control;
    control.Attach(device);
    graph.Start(&sink);

    const double cpuBefore = processCpuSeconds();
    const auto wallBefore = Clock::now();
    control.Play();
    graph.WaitForCompletion(std::chrono::milliseconds(frameCount * 100 + 10000));
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const double cpuSeconds = processCpuSeconds() - cpuBefore;
    graph.Stop();

    const auto frames = sink.arrivals().size();
    if (isMaxSpeed) {
        std::printf("virtual capture, full speed: %zu of %u frames, %.1f frames/s, CPU %.1f us/frame (%.2f s CPU in %.2f s)\n",
                    frames, frameCount, static_cast<double>(frames) / wallSeconds,
                    cpuSeconds * 1e6 / static_cast<double>(std::max<std::size_t>(frames, 1)), cpuSeconds, wallSeconds);
    } else {
        const Intervals gaps = intervalsOf(sink.arrivals());
        std::printf("virtual capture, tape rate (40 ms): %zu frames, interval mean %.3f ms, shortest %.3f ms, longest %.3f ms, CPU %.1f us/frame\n",
                    frames, gaps.meanMs, gaps.shortestMs, gaps.longestMs,
                    cpuSeconds * 1e6 / static_cast<double>(std::max<std::size_t>(frames, 1)));
    }
    std::printf("  frames out of order: %d\n", sink.outOfOrder());
}

// Notes when each frame reaches the camcorder's DV input (the sink pad of its DV-out element).
struct ArrivalProbe {
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    static GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo*, gpointer self)
    {
        auto* probe = static_cast<ArrivalProbe*>(self);
        std::lock_guard lock(probe->mutex);
        if (probe->arrivals.size() < probe->arrivals.capacity())
            probe->arrivals.push_back(Clock::now());
        return GST_PAD_PROBE_OK;
    }
};

class DvOutGraph : public pipeline::COutputFilterGraph {
public:
    DvOutGraph(mediagraph::IVideoDevice& device, ArrivalProbe& probe)
        : COutputFilterGraph(pipeline::CMediaType{pipeline::kInterleavedDvCaps, pipeline::kMinimumFrameBufferBytes}, 10)
    {
        GstElement* sink = AddElement(device.MakeDvOutSink());
        Link(OutputElement(), sink);
        mediagraph::GstOwned<GstPad> pad = mediagraph::adopt(gst_element_get_static_pad(sink, "sink"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &ArrivalProbe::onBuffer, &probe, nullptr);
    }
};

void benchPrint(const std::filesystem::path& folder, std::uint32_t frameCount, bool isMaxSpeed)
{
    const auto tape = folder / (isMaxSpeed ? "print_full_speed.dv" : "print_tape_rate.dv");
    writeRawTape(tape, 0);
    auto device = openVirtualCamcorder(tape, isMaxSpeed);
    ArrivalProbe probe;
    probe.arrivals.reserve(frameCount);
    std::vector<std::vector<std::byte>> frames;
    for (std::uint32_t i = 0; i < frameCount; ++i)
        frames.push_back(numberedPalFrame(i));

    double cpuSeconds = 0;
    {
        DvOutGraph graph(*device, probe);
        mediagraph::CDeviceControl control;
        control.Attach(device);
        control.Record();
        graph.Run();
        const double cpuBefore = processCpuSeconds();
        for (const auto& frame : frames)
            graph.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
        graph.DeliverEndOfStream();
        graph.WaitForCompletion(std::chrono::milliseconds(frameCount * 100 + 10000));
        cpuSeconds = processCpuSeconds() - cpuBefore;
        control.Stop();
    }
    const auto recordedBytes = std::filesystem::file_size(tape);
    std::lock_guard lock(probe.mutex);
    // A frame reaches the sink pad when the one before it has been recorded, so the gaps between
    // arrivals are the gaps between recordings. The first frame arrives early, as the preroll of
    // the paused graph: its gap is left out.
    const std::vector<Clock::time_point> afterPreroll(probe.arrivals.begin() + std::min<std::size_t>(1, probe.arrivals.size()),
                                                      probe.arrivals.end());
    const Intervals gaps = intervalsOf(afterPreroll);
    std::printf("print to tape (queue of 10), %s: %zu frames, %ju on tape, interval mean %.3f ms, shortest %.3f ms, longest %.3f ms, CPU %.1f us/frame\n",
                isMaxSpeed ? "full speed" : "tape rate (40 ms)", probe.arrivals.size(),
                static_cast<std::uintmax_t>(recordedBytes / kPalFrameBytes), gaps.meanMs, gaps.shortestMs,
                gaps.longestMs, cpuSeconds * 1e6 / static_cast<double>(std::max<std::size_t>(probe.arrivals.size(), 1)));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "vantrel_capture_bench";
    const std::uint32_t captureFrames = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 2000;
    std::filesystem::create_directories(folder);
    mediagraph::ScopedVideoDeviceBackends backends({mediagraph::makeVirtualCamcorderBackend()});
    try {
        benchCapture(folder, captureFrames, true);
        benchCapture(folder, 100, false);
        benchPrint(folder, 100, false);
        benchPrint(folder, captureFrames, true);
    } catch (const mediagraph::CDShowException& error) {
        std::fprintf(stderr, "capture_bench: %s\n", error.what());
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
