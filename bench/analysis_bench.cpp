// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the analysis thread decodes a DV AVI file, beside `cat FILE > /dev/null` (warm cache)
// and MediaInfo's DV analysis of the same file, with each one's peak memory. Prints figures.
// Usage: analysis_bench FILE [--probe PATH] [--cold]
//   --probe  time vantrel-probe FILE beside the engine
//   --cold   also time cat, the analysis thread and the probe with the page cache dropped before
//            each run (needs root: writes /proc/sys/vm/drop_caches)
// bench/analysis_bench.sh makes 10-minute PAL files of both layouts and runs it on each.
#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "avi/local_time_zone.h"
#include "dv/pack_decoders.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = -1.0;
    long peakKilobytes = 0;  // maximum resident set of the process that did the work
    bool ok = false;
};

// Runs `work` in a child process: its own peak memory, measured by the kernel.
Run inChild(const std::function<bool()>& work)
{
    std::fflush(stdout);  // or the child would print the parent's buffered lines again
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(work() ? 0 : 1);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return {};
    Run run;
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// Runs a program with its standard output to /dev/null.
Run program(std::vector<std::string> arguments)
{
    return inChild([&] {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDOUT_FILENO);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
        return false;
    });
}

Run bestOf(int runs, const std::function<Run()>& once)
{
    Run best;
    for (int i = 0; i < runs; ++i) {
        const Run run = once();
        if (!run.ok) return run;
        if (!best.ok || run.seconds < best.seconds) best = run;
    }
    return best;
}

const char* backendName(vantrel::avi::ReadBackend backend)
{
    switch (backend) {
    case vantrel::avi::ReadBackend::IoUring: return "io_uring batches";
    case vantrel::avi::ReadBackend::Pread: return "one pread per frame";
    default: return "unknown";
    }
}

bool analyseWithThread(const std::string& path, vantrel::avi::ReadBackend backend, std::size_t workers)
{
    auto avi = vantrel::avi::OpenDVAvi(path);
    if (!avi) return false;
    const auto frames = avi->frameCount();
    vantrel::avi::AnalysisThread analysis(backend, workers);
    analysis.start(std::make_shared<const vantrel::avi::DvAvi>(std::move(*avi)));
    analysis.waitUntilFinished();
    if (analysis.readBackend() != backend) {
        std::printf("  (asked for %s, the analysis thread read with %s)\n", backendName(backend),
                    backendName(analysis.readBackend()));
    }
    std::fflush(stdout);
    return analysis.framesDone() == frames && analysis.readFailures() == 0;
}

// The straightforward way, for comparison: every whole frame read, then analysed.
bool analyseWholeFrames(const std::string& path)
{
    auto avi = vantrel::avi::OpenDVAvi(path);
    if (!avi) return false;
    std::vector<std::byte> buffer(vantrel::dv::kMaxFrameBytes);
    vantrel::dv::DVFrameInfo info{};
    for (std::size_t i = 0; i < avi->frameCount(); ++i) {
        auto read = avi->readFrame(i, buffer);
        if (!read) return false;
        vantrel::dv::AnalyseFrame(std::span<const std::byte>(buffer.data(), *read), avi->videoSystem(), info);
    }
    return true;
}

// Drops the page cache, so that the next run reads from the disk. False when not allowed.
bool dropPageCache()
{
    sync();
    std::FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!control) return false;
    const bool isDropped = std::fputs("3\n", control) >= 0;
    return std::fclose(control) == 0 && isDropped;
}

bool hasProgram(const char* name)
{
    return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    vantrel::avi::PinLocalTimeZone();
    std::string path;
    std::string probe;
    bool isColdToo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--probe" && i + 1 < argc) probe = argv[++i];
        else if (argument == "--cold") isColdToo = true;
        else path = argument;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: %s FILE [--probe PATH] [--cold]\n", argv[0]);
        return 2;
    }
    auto avi = vantrel::avi::OpenDVAvi(path);
    if (!avi) {
        std::fprintf(stderr, "%s\n", avi.error().c_str());
        return 1;
    }
    const double frames = static_cast<double>(avi->frameCount());
    struct stat status {};
    stat(path.c_str(), &status);
    const double megabytes = static_cast<double>(status.st_size) / 1e6;
    std::printf("file: %s\n  %s, %.0f frames (%.1f min), %.1f MB, page cache warm\n", path.c_str(),
                avi->IsPAL() ? "PAL" : "NTSC", frames, frames / (avi->IsPAL() ? 25.0 : 29.97) / 60.0, megabytes);

    program({"cat", path});  // warm the page cache
    const Run cat = bestOf(3, [&] { return program({"cat", path}); });
    using vantrel::avi::ReadBackend;
    const Run thread =
        bestOf(3, [&] { return inChild([&] { return analyseWithThread(path, ReadBackend::IoUring, 0); }); });
    const Run threadOneWorker =
        bestOf(3, [&] { return inChild([&] { return analyseWithThread(path, ReadBackend::IoUring, 1); }); });
    const Run threadPread =
        bestOf(3, [&] { return inChild([&] { return analyseWithThread(path, ReadBackend::Pread, 0); }); });
    const Run whole = bestOf(2, [&] { return inChild([&] { return analyseWholeFrames(path); }); });
    Run probeRun;
    if (!probe.empty()) probeRun = bestOf(3, [&] { return program({probe, path}); });
    // Cold: every run reads the file from the disk; one run each, in the same order.
    Run coldCat;
    Run coldThread;
    Run coldProbe;
    if (isColdToo && dropPageCache()) {
        coldCat = program({"cat", path});
        dropPageCache();
        coldThread = inChild([&] { return analyseWithThread(path, ReadBackend::IoUring, 0); });
        if (!probe.empty()) {
            dropPageCache();
            coldProbe = program({probe, path});
        }
        program({"cat", path});  // leave the cache warm for what follows
    } else if (isColdToo) {
        std::printf("  (cannot drop the page cache: cold rows left out; run as root)\n");
    }
    Run mediainfo;
    Run mediainfoAll;
    if (hasProgram("mediainfo")) {
        mediainfo = program({"mediainfo", "--File_DvDif_Analysis=1", path});
        mediainfoAll = program({"mediainfo", "--ParseSpeed=1", "--File_DvDif_Analysis=1", path});
    }

    std::printf("%-48s %9s %12s %10s %12s\n", "reader", "seconds", "frames/s", "MB/s", "peak RSS MB");
    auto row = [&](const char* name, const Run& run) {
        if (!run.ok) {
            std::printf("%-48s %9s\n", name, "failed or not installed");
            return;
        }
        std::printf("%-48s %9.3f %12.0f %10.0f %12.1f\n", name, run.seconds, frames / run.seconds,
                    megabytes / run.seconds, static_cast<double>(run.peakKilobytes) / 1024.0);
    };
    row("cat FILE > /dev/null", cat);
    const std::string workers = std::to_string(vantrel::avi::AnalysisThread::defaultWorkerCount());
    row(("AnalysisThread, io_uring batches, " + workers + " workers").c_str(), thread);
    row("AnalysisThread, io_uring batches, 1 worker", threadOneWorker);
    row(("AnalysisThread, one pread per frame, " + workers + " workers").c_str(), threadPread);
    row("whole frames read, then AnalyseFrame", whole);
    if (!probe.empty()) row("vantrel-probe FILE > /dev/null", probeRun);
    if (coldCat.ok) {
        row("cold: cat FILE > /dev/null", coldCat);
        row(("cold: AnalysisThread, io_uring batches, " + workers + " workers").c_str(), coldThread);
        if (!probe.empty()) row("cold: vantrel-probe FILE > /dev/null", coldProbe);
    }
    row("mediainfo --File_DvDif_Analysis=1", mediainfo);
    row("mediainfo --ParseSpeed=1 --File_DvDif_Analysis=1", mediainfoAll);
    if (cat.ok && thread.ok) std::printf("analysis rate / cat rate:        %.2f\n", cat.seconds / thread.seconds);
    if (cat.ok && threadOneWorker.ok) {
        std::printf("analysis rate / cat rate, 1 worker: %.2f\n", cat.seconds / threadOneWorker.seconds);
    }
    if (cat.ok && threadPread.ok) {
        std::printf("analysis rate / cat rate, pread: %.2f\n", cat.seconds / threadPread.seconds);
    }
    if (cat.ok && probeRun.ok) std::printf("probe rate / cat rate:           %.2f\n", cat.seconds / probeRun.seconds);
    if (coldCat.ok && coldThread.ok) {
        std::printf("cold: analysis rate / cat rate:  %.2f\n", coldCat.seconds / coldThread.seconds);
    }
    if (coldCat.ok && coldProbe.ok) {
        std::printf("cold: probe rate / cat rate:     %.2f\n", coldCat.seconds / coldProbe.seconds);
    }
    if (mediainfo.ok && thread.ok) {
        std::printf("analysis rate / mediainfo rate:  %.1f\n", mediainfo.seconds / thread.seconds);
    }
    if (mediainfoAll.ok && thread.ok) {
        std::printf("analysis rate / mediainfo (--ParseSpeed=1) rate: %.1f\n", mediainfoAll.seconds / thread.seconds);
    }
    return thread.ok ? 0 : 1;
}
