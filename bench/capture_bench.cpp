// SPDX-License-Identifier: GPL-3.0-or-later
// Capture and print-to-tape figures with the virtual camcorder: CPU time per frame of a capture at
// full speed, and the pacing (mean and worst interval) of frames printed to tape and captured at
// the tape's frame rate.
//
// Then the jobs themselves: the capture worker's CPU time per frame (analysis, preview offer and
// AVI writing, read on the worker's own CPU clock), print-to-tape pacing through the print worker
// at the tape rate, and a capture at the tape rate that must drop no frame.
//
// Usage: capture_bench [work-folder] [capture-frames] [print-seconds] [realtime-capture-seconds]
#include "mediagraph/device_control.h"
#include "mediagraph/video_devices.h"
#include "avi/local_time_zone.h"
#include "mediagraph/virtual_camcorder.h"
#include "pipeline/input_filter_graph.h"
#include "pipeline/job_wnd.h"
#include "pipeline/output_filter_graph.h"
#include "support/synthetic_dv_frame.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
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

double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A tape of dated PAL frames (the clock ticking once a second), numbered in their video.
void writeDatedRawTape(const std::filesystem::path& path, std::uint32_t frameCount)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::uint32_t i = 0; i < frameCount; ++i) {
        const std::uint32_t second = i / 25;
        auto frame = testsupport::SyntheticDvFrame::pal()
                         .withRecordingDate({2004, 7, 14}, {18, static_cast<int>(second / 60 % 60), static_cast<int>(second % 60)})
                         .withTimecode({0, static_cast<int>(second / 60 % 60), static_cast<int>(second % 60), static_cast<int>(i % 25)})
                         .bytes();
        std::memcpy(frame.data() + 7 * 80 + 8, &i, sizeof i);
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
}

// Reads the worker's CPU clock at every analysed frame: the frame info hook runs on the worker.
class WorkerClock : public dv::IFrameInfoObserver {
public:
    void frameAnalysed(const dv::DVFrameInfo&, long) override
    {
        const double now = threadCpuSeconds();
        if (m_frames == 0)
            m_first = now;
        m_last = now;
        ++m_frames;
    }
    double secondsPerFrame() const { return m_frames > 1 ? (m_last - m_first) / static_cast<double>(m_frames - 1) : 0; }
    std::uint64_t frames() const { return m_frames; }

private:
    double m_first = 0;
    double m_last = 0;
    std::uint64_t m_frames = 0;  // worker thread only until the job has ended
};

// A headless picture owner: the preview decodes on its own threads.
class NullPreviewOwner : public pipeline::IPreviewOwner {
public:
    void GetClientSize(std::uint32_t* width, std::uint32_t* height) const override
    {
        *width = 640;
        *height = 480;
    }
    void ShowPreviewPicture(const pipeline::PreviewPicture&, const pipeline::PreviewRect&) override { ++pictures; }
    std::atomic<std::uint64_t> pictures{0};
};

class FileCounter : public pipeline::IJobObserver {
public:
    void captureFileClosed(const std::string& path) override
    {
        ++files;
        std::error_code ignored;
        std::filesystem::remove(path, ignored);  // keeps the disk free during long runs
    }
    void jobFailed(const std::string& message) override { std::fprintf(stderr, "capture_bench: job failed: %s\n", message.c_str()); }
    std::atomic<int> files{0};
};

template <class Condition>
bool waitForJob(Condition condition, std::chrono::seconds deadline)
{
    const auto end = Clock::now() + deadline;
    while (!condition()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);  // polling interval
    }
    return true;
}

void benchCaptureWorker(const std::filesystem::path& folder, std::uint32_t frameCount, bool isType2)
{
    const auto tape = folder / "worker_tape.dv";
    if (!std::filesystem::exists(tape))
        writeDatedRawTape(tape, frameCount);
    auto device = openVirtualCamcorder(tape, true);
    WorkerClock clock;
    NullPreviewOwner preview;
    FileCounter files;
    pipeline::CJobWnd job;
    job.SetFrameInfoObserver(&clock);
    job.SetPreviewOwner(&preview);
    job.SetJobObserver(&files);
    job.SetType2Output(isType2);
    job.SetFramesPerFile(90000);
    job.SetAutoDeviceControl(true);
    job.StartCapture(mediagraph::CVirtualCamcorder::friendlyNameFor(tape));
    const auto wallBefore = Clock::now();
    job.StartRecording((folder / "worker").string(), "%y-%m-%d_%H-%M", 2, 0);
    waitForJob([&] { return job.HasStreamEnded(); }, std::chrono::seconds(frameCount));
    const double wallSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const std::uint64_t written = job.FramesWritten();
    job.StopJob();
    std::printf("capture worker, full speed, type %d, preview on: %ju frames written of %ju analysed, worker CPU %.1f us/frame "
                "(analysis + preview offer + write), %.0f frames/s, %ju preview pictures\n",
                isType2 ? 2 : 1, static_cast<std::uintmax_t>(written), static_cast<std::uintmax_t>(clock.frames()),
                clock.secondsPerFrame() * 1e6, static_cast<double>(written) / wallSeconds,
                static_cast<std::uintmax_t>(preview.pictures.load()));
}

void benchPrintJob(const std::filesystem::path& folder, std::uint32_t seconds)
{
    const std::uint32_t frameCount = seconds * 25;
    const auto source = folder / "print_source.dv";
    writeDatedRawTape(source, frameCount);
    const auto tape = folder / "print_job_tape.dv";
    writeRawTape(tape, 0);
    auto device = openVirtualCamcorder(tape, false);
    mediagraph::CVirtualCamcorder& camcorder = *mediagraph::VirtualCamcorderOf(*device);
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(frameCount + 100);
    pipeline::CJobWnd job;
    job.SetAutoDeviceControl(true);
    job.StartPrintToTape(source.string(), camcorder.friendlyName());
    job.ResumeTapeRecording();
    // The camcorder's recorded count, read every 0.2 ms: each step is one frame on the tape.
    std::uint64_t seen = camcorder.framesRecorded();
    const auto end = Clock::now() + std::chrono::seconds(seconds + 10);
    while (job.GetState() != pipeline::JOB_FINISHED && Clock::now() < end) {
        const std::uint64_t now = camcorder.framesRecorded();
        for (; seen < now; ++seen) {
            if (arrivals.size() < arrivals.capacity())
                arrivals.push_back(Clock::now());
        }
        std::this_thread::sleep_for(200us);
    }
    job.StopJob();
    // The first frames went while the graph filled its queue: the pace is the camcorder's after that.
    const std::size_t skipped = std::min<std::size_t>(12, arrivals.size());
    const std::vector<Clock::time_point> steady(arrivals.begin() + static_cast<std::ptrdiff_t>(skipped), arrivals.end());
    const Intervals gaps = intervalsOf(steady);
    std::printf("print job, tape rate (40 ms), %u s: %zu frames recorded, interval mean %.3f ms, shortest %.3f ms, longest %.3f ms "
                "(read every 0.2 ms)\n",
                seconds, arrivals.size(), gaps.meanMs, gaps.shortestMs, gaps.longestMs);
}

void benchRealTimeCapture(const std::filesystem::path& folder, std::uint32_t seconds)
{
    const std::uint32_t frameCount = seconds * 25;
    const auto tape = folder / "realtime_tape.dv";
    writeDatedRawTape(tape, frameCount);
    auto device = openVirtualCamcorder(tape, false);
    NullPreviewOwner preview;
    FileCounter files;
    pipeline::CJobWnd job;
    job.SetPreviewOwner(&preview);
    job.SetJobObserver(&files);
    job.SetFramesPerFile(1500);
    job.SetAutoDeviceControl(true);
    job.StartCapture(mediagraph::CVirtualCamcorder::friendlyNameFor(tape));
    job.StartRecording((folder / "realtime").string(), "%y-%m-%d_%H-%M", 2, 0);
    std::int32_t mostBuffered = 0;
    waitForJob([&] {
        mostBuffered = std::max(mostBuffered, job.GetBufferCount());
        return job.HasStreamEnded();
    }, std::chrono::seconds(seconds + 30));
    const std::int32_t dropped = job.GetDroppedFrames();
    const std::uint64_t written = job.FramesWritten();
    job.StopJob();
    std::printf("capture job, tape rate, %u s, type 2 with preview: %ju of %u frames written in %d files, %d dropped, "
                "ring at most %d of 1001 slots, %ju preview pictures\n",
                seconds, static_cast<std::uintmax_t>(written), frameCount, files.files.load(), dropped, mostBuffered,
                static_cast<std::uintmax_t>(preview.pictures.load()));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "vantrel_capture_bench";
    const std::uint32_t captureFrames = argc > 2 ? static_cast<std::uint32_t>(std::stoul(argv[2])) : 2000;
    const std::uint32_t printSeconds = argc > 3 ? static_cast<std::uint32_t>(std::stoul(argv[3])) : 30;
    const std::uint32_t realTimeSeconds = argc > 4 ? static_cast<std::uint32_t>(std::stoul(argv[4])) : 120;
    avi::PinLocalTimeZone();
    std::filesystem::create_directories(folder);
    mediagraph::ScopedVideoDeviceBackends backends({mediagraph::makeVirtualCamcorderBackend()});
    try {
        benchCapture(folder, captureFrames, true);
        benchCapture(folder, 100, false);
        benchPrint(folder, 100, false);
        benchPrint(folder, captureFrames, true);
        benchCaptureWorker(folder, captureFrames, false);
        benchCaptureWorker(folder, captureFrames, true);
        benchPrintJob(folder, printSeconds);
        benchRealTimeCapture(folder, realTimeSeconds);
    } catch (const mediagraph::CDShowException& error) {
        std::fprintf(stderr, "capture_bench: %s\n", error.what());
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
