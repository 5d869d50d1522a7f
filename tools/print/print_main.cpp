// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-print: sends DV files, one after another and without a gap, to a camcorder's tape.
#include "avi/local_time_zone.h"
#include "pipeline/job_wnd.h"
#include "tools/jobs/job_console.h"
#include "vantrel/version.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kProgram = "vantrel-print";

const char* const kUsage =
    "Usage: vantrel-print [OPTION]... FILE...\n"
    "Sends the frames of the DV files (AVI of type 1 or 2, or raw .dv), in the order given and\n"
    "without a gap, to a camcorder for recording on its tape, and ends after the last frame. A\n"
    "FILE may be a wildcard pattern (its matches go in sorted without regard to case); a FILE\n"
    "holding \"|\" is read as several items.\n"
    "\n"
    "  --device NAME   the camcorder (default: the first listed)\n"
    "  --no-control    do not put the camcorder into record and stop it at the end\n"
    "  --help, --version\n"
    "\n"
    "The job's status goes to standard error. SIGINT or SIGTERM stops it early.\n"
    "Exit status: 0 every frame was sent, 1 the job ended early (an error after sending began,\n"
    "or a signal), 2 could not start (no such device, no file).\n";

int usageError(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, reason.c_str(), kProgram);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace vantrel;
    avi::PinLocalTimeZone();
    tools::PrepareJobSignals();

    std::string device;
    bool isControlOn = true;
    std::string fileList;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            fileList += (fileList.empty() ? "" : "|") + argument;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (argument == "--version") {
            std::fputs(vantrel::versionLine(kProgram).c_str(), stdout);
            return 0;
        } else if (argument == "--no-control") {
            isControlOn = false;
        } else if (argument == "--device") {
            if (i + 1 >= argc)
                return usageError("--device needs a value");
            device = argv[++i];
        } else {
            return usageError("unknown option " + argument);
        }
    }

    if (device.empty()) {
        const auto devices = tools::ListDevicesOrReport(kProgram);
        if (!devices) return 2;
        device = devices->front();
    }

    tools::ConsoleJobObserver observer(kProgram);
    tools::StatusLine status;
    observer.SetStatusLine(&status);
    pipeline::CJobWnd job;
    job.SetJobObserver(&observer);
    job.SetAutoDeviceControl(isControlOn);
    try {
        job.StartPrintToTape(fileList, device);
    } catch (const std::exception& error) {
        job.StopJob();
        std::fprintf(stderr, "%s: %s\n", kProgram, error.what());
        return 2;
    }
    job.ResumeTapeRecording();

    const tools::JobEnd end = tools::WaitForJobEnd(job, observer, status);
    status.Update(job, true);
    job.StopJob();
    status.EndLine();
    return end == tools::JobEnd::Finished && !observer.HasFailed() ? 0 : 1;
}
