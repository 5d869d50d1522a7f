// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the job and bridge tests: generated tapes, the frames of DV files, the virtual
// camcorder named in the environment for one test, waiting with a deadline, a recording frame sink.
#pragma once

#include "avi/dv_avi.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"
#include "pipeline/input_filter_graph.h"
#include "pipeline/job_wnd.h"
#include "support/run_tool.h"
#include "support/scoped_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vantrel::pipeline::testing {

using Frame = std::vector<std::byte>;

// The frames of a DV AVI file as our reader gives them.
inline std::vector<Frame> readDvFrames(const std::filesystem::path& path)
{
    auto file = avi::OpenDVAvi(path.string());
    if (!file) {
        ADD_FAILURE() << path << ": " << file.error();
        return {};
    }
    std::vector<Frame> frames;
    Frame frame(144000);
    for (std::size_t i = 0; i < file->frameCount(); ++i) {
        auto read = file->readFrame(i, frame);
        if (!read) {
            ADD_FAILURE() << path << " frame " << i << ": " << read.error().message;
            break;
        }
        frames.emplace_back(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(*read));
    }
    return frames;
}

// The frames of a raw DV file of one standard.
inline std::vector<Frame> readRawDvFrames(const std::filesystem::path& path, std::size_t frameBytes = 144000)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<Frame> frames;
    Frame frame(frameBytes);
    while (in.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(frame.size())))
        frames.push_back(frame);
    return frames;
}

// The names of the files in a folder, sorted.
inline std::vector<std::string> fileNamesIn(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Waits until the condition holds or the deadline passes; whether it held.
inline bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline = std::chrono::seconds(60))
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));  // polling interval of the wait, not a delay
    }
    return true;
}

// A printed tape holds the frames in order, after copies of the first frame sent while the job
// was paused, and followed by copies of the last one (a finished job repeats it). Returns how
// many frames followed the list.
inline std::size_t expectPrintedInOrder(const std::vector<Frame>& recorded, const std::vector<Frame>& expected)
{
    std::size_t start = 0;
    while (start + 1 < recorded.size() && recorded[start + 1] == expected.front())
        ++start;
    EXPECT_GE(recorded.size(), start + expected.size());
    if (recorded.size() < start + expected.size())
        return 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(recorded[start + i] == expected[i]) << "tape frame " << start + i << ", list frame " << i;
    for (std::size_t i = start + expected.size(); i < recorded.size(); ++i)
        EXPECT_TRUE(recorded[i] == expected.back()) << "tape frame " << i << " after the list";
    return recorded.size() - start - expected.size();
}

// The message of the graph error the call throws; "" when it throws none.
inline std::string graphErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const mediagraph::CDShowException& error) {
        return error.message();
    }
    return "";
}

// Runs vantrel-dvgen with the options into `path`; the path.
inline std::string generateTape(const std::string& path, std::vector<std::string> options)
{
    options.insert(options.begin(), testsupport::dvgenPath());
    options.insert(options.end(), {"-o", path});
    const testsupport::ToolResult result = testsupport::runTool(options);
    EXPECT_EQ(result.exitCode, 0) << "vantrel-dvgen: " << result.err;
    return path;
}

// The virtual camcorder playing `tape`, the only device listed, at full speed unless told otherwise.
class ScopedVirtualCamcorder {
public:
    explicit ScopedVirtualCamcorder(const std::filesystem::path& tape, bool isFullSpeed = true)
        : m_tape("VANTREL_VIRTUAL_CAMCORDER", tape.c_str()), m_speed("VANTREL_VIRTUAL_SPEED", isFullSpeed ? "max" : "tape"),
          m_name(mediagraph::CVirtualCamcorder::friendlyNameFor(tape))
    {
        std::vector<std::string> names;
        mediagraph::FindVideoDevice(m_name, names, m_device);  // the handle the job's graphs share
    }
    const std::string& name() const noexcept { return m_name; }
    mediagraph::CVirtualCamcorder& camcorder() { return *mediagraph::VirtualCamcorderOf(*m_device); }
    const std::shared_ptr<mediagraph::IVideoDevice>& device() const noexcept { return m_device; }

private:
    mediagraph::ScopedVideoDeviceBackends m_backends{{mediagraph::makeVirtualCamcorderBackend()}};
    testsupport::ScopedEnv m_tape;
    testsupport::ScopedEnv m_speed;
    std::string m_name;
    std::shared_ptr<mediagraph::IVideoDevice> m_device;
};

struct DeliveredFrame {
    REFERENCE_TIME duration = 0;
    std::vector<std::byte> bytes;
    bool hadData = false;
};

// Keeps a copy of every delivery, in order; any thread.
class RecordingFrameSink : public IFrameSink {
public:
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override
    {
        std::lock_guard lock(m_mutex);
        m_frames.push_back({duration, data != nullptr && length > 0 ? std::vector<std::byte>(data, data + length) : std::vector<std::byte>{},
                            data != nullptr});
    }
    std::vector<DeliveredFrame> frames() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<DeliveredFrame> m_frames;
};

// Keeps what the job reports.
class RecordingJobObserver : public IJobObserver {
public:
    // Marks a failure that comes only after the watched job already said it had finished.
    static constexpr std::string_view kAfterFinished = "(after finished) ";
    void watch(const CJobWnd* job) { m_job = job; }

    void captureFileClosed(const std::string& path) override { keep(m_closedFiles, path); }
    void jobFailed(const std::string& message) override
    {
        const bool isLate = m_job != nullptr && m_job->GetState() == JOB_FINISHED;
        keep(m_failures, isLate ? std::string(kAfterFinished) + message : message);
    }
    std::vector<std::string> closedFiles() const { return copyOf(m_closedFiles); }
    std::vector<std::string> failures() const { return copyOf(m_failures); }

private:
    void keep(std::vector<std::string>& texts, const std::string& text)
    {
        std::lock_guard lock(m_mutex);
        texts.push_back(text);
    }
    std::vector<std::string> copyOf(const std::vector<std::string>& texts) const
    {
        std::lock_guard lock(m_mutex);
        return texts;
    }

    const CJobWnd* m_job = nullptr;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_closedFiles;
    std::vector<std::string> m_failures;
};

}  // namespace vantrel::pipeline::testing
