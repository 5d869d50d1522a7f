// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-capture: records a camcorder's DV into AVI files split and named after the recording time.
#include "avi/local_time_zone.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "pipeline/capture_file_name.h"
#include "pipeline/capture_split_rule.h"
#include "pipeline/job_wnd.h"
#include "tools/jobs/job_console.h"
#include "vantrel/version.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kProgram = "vantrel-capture";

const char* const kUsage =
    "Usage: vantrel-capture [OPTION]... BASE\n"
    "       vantrel-capture --list-devices\n"
    "Captures DV from a camcorder into AVI files named BASE.DATE.NN.avi, DATE the camcorder's\n"
    "recording date and time of each file's first frame. A new file starts every N frames and\n"
    "wherever the recording clock jumps by more than the scene gap. Each file is written as\n"
    "BASE.~DATE.NN.avi and renamed when it is closed; its path is printed then. A BASE ending\n"
    "in \".avi\" loses that ending; an empty BASE means \"capture\" in the current folder.\n"
    "\n"
    "  --device NAME           the camcorder (default: the first listed)\n"
    "  --type 1|2              DV AVI type: 1 one interleaved stream, 2 video and audio (2)\n"
    "  --frames-per-file N     frames in one file at most (90000)\n"
    "  --scene-gap SECONDS     a clock jump larger than this starts a file; 0 never (1)\n"
    "  --frame-step N          write every N-th frame of a file (1)\n"
    "  --duration SECONDS      stop writing after this much recording (no limit)\n"
    "  --name-format FMT       strftime format of DATE (%y-%m-%d_%H-%M)\n"
    "  --number-width N        least digits of the file number, 0 to 9 (2)\n"
    "  --no-control            do not start and stop the camcorder's tape\n"
    "  --list-devices          print the camcorders' names, one a line\n"
    "  --help, --version\n"
    "\n"
    "The tape is started playing at once and stopped at the end (unless --no-control). The capture\n"
    "ends at the end of the camcorder's stream, at the duration limit, or on SIGINT/SIGTERM;\n"
    "the last file is always closed and renamed. The job's status goes to standard error.\n"
    "Exit status: 0 done, 1 ended on an error after writing (the files written are kept),\n"
    "2 could not start.\n";

struct CaptureOptions {
    std::string device;
    bool isType2 = true;
    std::int32_t framesPerFile = vantrel::pipeline::CaptureSplitRule::kDefaultFramesPerFile;
    std::int32_t sceneGapSeconds = vantrel::pipeline::CaptureSplitRule::kDefaultSceneGapSeconds;
    std::int32_t frameStep = 1;
    vantrel::pipeline::REFERENCE_TIME durationLimit = 0;
    std::string nameFormat{vantrel::pipeline::kDefaultNameFormat};
    std::int32_t numberWidth = vantrel::pipeline::kDefaultNumberWidth;
    bool isControlOn = true;
    bool isListing = false;
    std::optional<std::string> base;
};

int usageError(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, reason.c_str(), kProgram);
    return 2;
}

// 0 to go on, else the exit status.
int parseArguments(int argc, char** argv, CaptureOptions& options, int& exitStatus)
{
    using vantrel::tools::ParseInteger;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needsValue = [&](const char* name) {
            if (value == nullptr) {
                exitStatus = usageError(std::string(name) + " needs a value");
                return false;
            }
            ++i;
            return true;
        };
        auto badValue = [&](const char* name) {
            exitStatus = usageError(std::string("invalid value for ") + name + ": " + value);
            return 1;
        };
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            if (options.base)
                return exitStatus = usageError("only one BASE may be given"), 1;
            options.base = argument;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return exitStatus = 0, 1;
        } else if (argument == "--version") {
            std::fputs(vantrel::versionLine(kProgram).c_str(), stdout);
            return exitStatus = 0, 1;
        } else if (argument == "--no-control") {
            options.isControlOn = false;
        } else if (argument == "--list-devices") {
            options.isListing = true;
        } else if (argument == "--device") {
            if (!needsValue("--device")) return 1;
            options.device = value;
        } else if (argument == "--type") {
            if (!needsValue("--type")) return 1;
            const auto type = ParseInteger(value, 1, 2);
            if (!type) return badValue("--type");
            options.isType2 = *type == 2;
        } else if (argument == "--frames-per-file") {
            if (!needsValue("--frames-per-file")) return 1;
            const auto frames = ParseInteger(value, 1, INT32_MAX);
            if (!frames) return badValue("--frames-per-file");
            options.framesPerFile = static_cast<std::int32_t>(*frames);
        } else if (argument == "--scene-gap") {
            if (!needsValue("--scene-gap")) return 1;
            const auto gap = ParseInteger(value, 0, INT32_MAX);
            if (!gap) return badValue("--scene-gap");
            options.sceneGapSeconds = static_cast<std::int32_t>(*gap);
        } else if (argument == "--frame-step") {
            if (!needsValue("--frame-step")) return 1;
            const auto step = ParseInteger(value, 1, INT32_MAX);
            if (!step) return badValue("--frame-step");
            options.frameStep = static_cast<std::int32_t>(*step);
        } else if (argument == "--duration") {
            if (!needsValue("--duration")) return 1;
            const auto limit = vantrel::tools::ParseSeconds(value);
            if (!limit) return badValue("--duration");
            options.durationLimit = *limit;
        } else if (argument == "--name-format") {
            if (!needsValue("--name-format")) return 1;
            options.nameFormat = value;
        } else if (argument == "--number-width") {
            if (!needsValue("--number-width")) return 1;
            const auto width = ParseInteger(value, 0, 9);
            if (!width) return badValue("--number-width");
            options.numberWidth = static_cast<std::int32_t>(*width);
        } else {
            return exitStatus = usageError("unknown option " + argument), 1;
        }
    }
    if (!options.isListing && !options.base)
        return exitStatus = usageError("no BASE given"), 1;
    return 0;
}

std::string captureBase(std::string base)
{
    constexpr std::size_t kExtensionLength = 4;
    if (base.size() >= kExtensionLength && strcasecmp(base.c_str() + base.size() - kExtensionLength, ".avi") == 0)
        base.erase(base.size() - kExtensionLength);
    return base;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace vantrel;
    avi::PinLocalTimeZone();
    tools::PrepareJobSignals();

    CaptureOptions options;
    int exitStatus = 0;
    if (parseArguments(argc, argv, options, exitStatus) != 0)
        return exitStatus;

    const auto devices = tools::ListDevicesOrReport(kProgram);
    if (!devices) return 2;
    if (options.isListing) {
        for (const std::string& name : *devices)
            std::printf("%s\n", name.c_str());
        for (const std::string& problem : mediagraph::VideoDeviceAccessProblems())  // camcorders that may be hidden
            std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
        return std::fflush(stdout) == 0 ? 0 : 2;
    }
    const std::string device = options.device.empty() ? devices->front() : options.device;
    const std::string base = captureBase(*options.base);
    const std::string folder = base.rfind('/') == std::string::npos ? "." : base.substr(0, base.rfind('/') + 1);
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        std::fprintf(stderr, "%s: cannot write into %s: %s\n", kProgram, folder.c_str(), std::strerror(errno));
        return 2;
    }

    tools::ConsoleJobObserver observer(kProgram);
    tools::StatusLine status;
    observer.SetStatusLine(&status);
    pipeline::CJobWnd job;
    job.SetJobObserver(&observer);
    job.SetType2Output(options.isType2);
    job.SetFramesPerFile(options.framesPerFile);
    job.SetSceneGap(options.sceneGapSeconds);
    job.SetFrameStep(options.frameStep);
    job.SetAutoDeviceControl(options.isControlOn);
    try {
        job.StartCapture(device);
    } catch (const std::exception& error) {
        job.StopJob();
        std::fprintf(stderr, "%s: %s: %s\n", kProgram, device.c_str(), error.what());
        return 2;
    }
    job.StartRecording(base, options.nameFormat, options.numberWidth, options.durationLimit);

    tools::WaitForJobEnd(job, observer, status);
    status.Update(job, true);
    job.StopJob();
    status.EndLine();
    return observer.HasFailed() ? 1 : 0;
}
