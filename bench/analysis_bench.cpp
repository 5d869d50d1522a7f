// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the analysis thread and vantrel-probe decode a DV AVI file, beside `cat FILE > /dev/null`
// and MediaInfo's DV analysis of the same file, with each one's CPU time and peak memory.
// Usage: analysis_bench FILE [--probe PATH] [--cold] [--rounds N] [--as-found]
//   --probe   time vantrel-probe FILE beside the engine
//   --cold    also time cat, the analysis thread and the probe with the file out of the page cache
//   --rounds  how often each reader runs (5); the readers take turns, round after round
//   --as-found  warm runs take the page cache as they find it (a file just written stays as
//             its writer left it) instead of reading the file once first
// bench/analysis_bench.sh makes 10-minute PAL files of both layouts and runs it on each.
//
// One run of a reader lasts about a tenth of a second, so one run is noise: each reader runs
// in every round, the rounds interleave the readers (a burst of load hits them all alike), and
// the median is reported with the fastest and slowest run; ratios are ratios of medians. CPU
// seconds (user + system) are steadier than wall time on a busy machine.
//
// The page cache holds a file as whatever filled it left it: pages written one by one, or the
// large folios readahead makes, and `cat` itself runs about 1.5 times as fast on the latter. So
// the warm runs begin from one state: the file is put out of the cache and read once. Cold runs
// put the file out of the cache before each run (posix_fadvise; no root needed, and other
// files' pages stay where they are).
#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "avi/local_time_zone.h"
#include "avi/mapped_reader.h"
#include "dv/pack_decoders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double seconds = -1.0;
    double cpuSeconds = 0.0;  // user + system time of the process that did the work
    long peakKilobytes = 0;   // its maximum resident set, measured by the kernel
    bool ok = false;
};

double secondsOf(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs `work` in a child process: its own CPU time and peak memory.
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
    run.cpuSeconds = secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime);
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

const char* backendName(vantrel::avi::ReadBackend backend)
{
    switch (backend) {
    case vantrel::avi::ReadBackend::IoUring: return "io_uring batches";
    case vantrel::avi::ReadBackend::Pread: return "one pread per frame";
    case vantrel::avi::ReadBackend::Mapped: return "mapped copies";
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

// The share of the file's pages in the page cache, 0..1; negative when it cannot be told.
double residentShare(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return -1.0;
    struct stat status {};
    double share = -1.0;
    if (fstat(fd, &status) == 0 && status.st_size > 0) {
        const auto bytes = static_cast<std::size_t>(status.st_size);
        void* map = mmap(nullptr, bytes, PROT_READ, MAP_SHARED, fd, 0);
        const auto pageBytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> pages((bytes + pageBytes - 1) / pageBytes);
        if (map != MAP_FAILED && mincore(map, bytes, pages.data()) == 0) {
            const auto resident = std::count_if(pages.begin(), pages.end(), [](unsigned char p) { return p & 1; });
            share = static_cast<double>(resident) / static_cast<double>(pages.size());
        }
        if (map != MAP_FAILED) munmap(map, bytes);
    }
    close(fd);
    return share;
}

// Puts the file's pages out of the page cache: the next run reads it from the disk. Pages some
// process keeps mapped or dirty stay; as root, the whole cache is dropped in that case.
bool evictFromPageCache(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
    if (residentShare(path) < 0.01) return true;
    sync();
    std::FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (!control) return false;
    const bool isDropped = std::fputs("3\n", control) >= 0;
    return std::fclose(control) == 0 && isDropped && residentShare(path) < 0.01;
}

bool hasProgram(const char* name)
{
    return std::system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

std::string loadAverage()
{
    double load[3] = {};
    if (getloadavg(load, 3) != 3) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

// One reader's runs, round by round.
struct Reader {
    Reader(std::string readerName, std::function<Run()> runOnceFn)
        : name(std::move(readerName)), once(std::move(runOnceFn))
    {
    }

    std::string name;
    std::function<Run()> once;
    std::vector<Run> runs;
    bool ok = true;

    void runOnce()
    {
        if (!ok) return;
        const Run run = once();
        ok = run.ok;
        if (ok) runs.push_back(run);
    }
    double median(double Run::*field) const
    {
        std::vector<double> values;
        for (const Run& run : runs) values.push_back(run.*field);
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    }
    double seconds() const { return median(&Run::seconds); }
    double fastest() const { return std::min_element(runs.begin(), runs.end(), bySeconds)->seconds; }
    double slowest() const { return std::max_element(runs.begin(), runs.end(), bySeconds)->seconds; }
    long peakKilobytes() const
    {
        long peak = 0;
        for (const Run& run : runs) peak = std::max(peak, run.peakKilobytes);
        return peak;
    }
    bool hasRuns() const { return ok && !runs.empty(); }

    static bool bySeconds(const Run& a, const Run& b) { return a.seconds < b.seconds; }
};

void runRounds(std::vector<Reader*> readers, int rounds, const std::function<bool()>& beforeEachRun)
{
    for (int round = 0; round < rounds; ++round) {
        for (Reader* reader : readers) {
            if (!beforeEachRun()) {
                reader->ok = false;
                continue;
            }
            reader->runOnce();
        }
    }
}

struct Table {
    double frames;
    double megabytes;

    void header() const
    {
        std::printf("%-52s %8s %17s %8s %9s %8s %8s\n", "reader (median of the runs)", "seconds", "fastest-slowest",
                    "CPU s", "frames/s", "MB/s", "RSS MB");
    }
    void row(const Reader& reader) const
    {
        if (!reader.hasRuns()) {
            std::printf("%-52s %8s\n", reader.name.c_str(), "failed or not installed");
            return;
        }
        const double seconds = reader.seconds();
        char spread[40];
        std::snprintf(spread, sizeof spread, "%.3f-%.3f", reader.fastest(), reader.slowest());
        std::printf("%-52s %8.3f %17s %8.3f %9.0f %8.0f %8.1f\n", reader.name.c_str(), seconds, spread,
                    reader.median(&Run::cpuSeconds), frames / seconds, megabytes / seconds,
                    static_cast<double>(reader.peakKilobytes()) / 1024.0);
    }
};

void ratio(const char* text, const Reader& reader, const Reader& base)
{
    if (!reader.hasRuns() || !base.hasRuns()) return;
    std::printf("%-40s %5.2f   (CPU time: %.2f)\n", text, base.seconds() / reader.seconds(),
                base.median(&Run::cpuSeconds) / reader.median(&Run::cpuSeconds));
}

}  // namespace

int main(int argc, char** argv)
{
    vantrel::avi::PinLocalTimeZone();
    std::string path;
    std::string probe;
    bool isColdToo = false;
    bool isCacheAsFound = false;
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--probe" && i + 1 < argc)
            probe = argv[++i];
        else if (argument == "--cold")
            isColdToo = true;
        else if (argument == "--as-found")
            isCacheAsFound = true;
        else if (argument == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else
            path = argument;
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: %s FILE [--probe PATH] [--cold] [--rounds N] [--as-found]\n", argv[0]);
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
    const Table table{frames, static_cast<double>(status.st_size) / 1e6};
    std::printf("file: %s\n  %s, %.0f frames (%.1f min), %.1f MB; %d rounds; load average %s\n", path.c_str(),
                avi->IsPAL() ? "PAL" : "NTSC", frames, frames / (avi->IsPAL() ? 25.0 : 29.97) / 60.0, table.megabytes,
                rounds, loadAverage().c_str());

    using vantrel::avi::ReadBackend;
    const std::string workers = std::to_string(vantrel::avi::AnalysisThread::defaultWorkerCount());
    const auto thread = [&](ReadBackend backend, std::size_t count) {
        return [&path, backend, count] { return inChild([&] { return analyseWithThread(path, backend, count); }); };
    };
    Reader cat{"cat FILE > /dev/null", [&] { return program({"cat", path}); }};
    Reader engine{"AnalysisThread, mapped copies, " + workers + " workers", thread(ReadBackend::Mapped, 0)};
    Reader engineOneWorker{"AnalysisThread, mapped copies, 1 worker", thread(ReadBackend::Mapped, 1)};
    Reader engineUring{"AnalysisThread, io_uring batches, " + workers + " workers", thread(ReadBackend::IoUring, 0)};
    Reader enginePread{"AnalysisThread, one pread per frame, " + workers + " workers", thread(ReadBackend::Pread, 0)};
    Reader whole{"whole frames read, then AnalyseFrame",
                 [&] { return inChild([&] { return analyseWholeFrames(path); }); }};
    Reader probeRun{"vantrel-probe FILE > /dev/null", [&] { return program({probe, path}); }};
    std::vector<Reader*> warm{&cat, &engine, &engineOneWorker, &engineUring, &enginePread, &whole};
    if (!probe.empty()) warm.push_back(&probeRun);

    const char* warmState = "as found";
    if (!isCacheAsFound) {
        const bool isWarmedUp = evictFromPageCache(path) && program({"cat", path}).ok;
        warmState = isWarmedUp ? "put out and read once with cat" : "as found (could not put the file out)";
    }
    std::printf("  page cache warm: %s, %.0f%% of the file's pages resident\n", warmState,
                100.0 * std::max(0.0, residentShare(path)));
    runRounds(warm, rounds, [] { return true; });

    Reader coldCat{"cold: cat FILE > /dev/null", cat.once};
    Reader coldEngine{"cold: " + engine.name, engine.once};
    Reader coldProbe{"cold: vantrel-probe FILE > /dev/null", probeRun.once};
    std::vector<Reader*> cold{&coldCat, &coldEngine};
    if (!probe.empty()) cold.push_back(&coldProbe);
    if (isColdToo) {
        runRounds(cold, std::min(rounds, 3), [&] { return evictFromPageCache(path); });
        program({"cat", path});  // leave the cache warm for what follows
        if (!coldCat.hasRuns())
            std::printf("  (cannot put the file out of the page cache: cold rows "
                        "left out)\n");
    }
    Reader mediainfo{"mediainfo --File_DvDif_Analysis=1", [&] {
                         return program({"mediainfo", "--File_DvDif_Analysis=1", path});
                     }};
    Reader mediainfoAll{"mediainfo --ParseSpeed=1 --File_DvDif_Analysis=1", [&] {
                            return program({"mediainfo", "--ParseSpeed=1", "--File_DvDif_Analysis=1", path});
                        }};
    if (hasProgram("mediainfo")) runRounds({&mediainfo, &mediainfoAll}, 1, [] { return true; });

    table.header();
    for (const Reader* reader : warm) table.row(*reader);
    if (coldCat.hasRuns()) {
        for (const Reader* reader : cold) table.row(*reader);
    }
    table.row(mediainfo);
    table.row(mediainfoAll);
    std::printf("(the RSS of mapped copies counts the page cache's own pages of the file that each worker keeps\n"
                " mapped, up to %zu MB a worker: shared, not allocated)\n",
                vantrel::avi::MappedReader::kWindowBytes >> 20);
    std::printf("rate / cat rate (medians):\n");
    ratio("  analysis", engine, cat);
    ratio("  analysis, 1 worker", engineOneWorker, cat);
    ratio("  analysis, io_uring", engineUring, cat);
    ratio("  analysis, pread", enginePread, cat);
    ratio("  probe", probeRun, cat);
    if (coldCat.hasRuns()) {
        ratio("  cold: analysis", coldEngine, coldCat);
        ratio("  cold: probe", coldProbe, coldCat);
    }
    ratio("analysis rate / mediainfo rate", engine, mediainfo);
    ratio("analysis rate / mediainfo (--ParseSpeed=1)", engine, mediainfoAll);
    std::printf("load average at the end: %s\n", loadAverage().c_str());
    return engine.hasRuns() ? 0 : 1;
}
