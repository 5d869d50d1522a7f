// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-split: DV files rewritten into the files the capture job would have written from the tape.
#include "avi/dv_avi.h"
#include "avi/local_time_zone.h"
#include "pipeline/capture_file_name.h"
#include "pipeline/scene_splitter.h"
#include "vantrel/version.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: vantrel-split [OPTIONS] FILE... BASE\n"
    "Rewrites DV AVI or raw DV files (a long capture made by another program) into the files\n"
    "that capturing the same tape would give: a new file wherever the recording time jumps by\n"
    "more than the scene gap and whenever a file is full, each named BASE.DATE.NN.avi after the\n"
    "recording date of its first frame. Frames are copied as they are, never decoded.\n"
    "\n"
    "  --scene-gap S        seconds of the scene gap (1); 0: never split on the date\n"
    "  --frames-per-file N  frames at most in one file (90000)\n"
    "  --type 1|2           type-1 (one interleaved stream) or type-2 AVI files (2)\n"
    "  --name-format FMT    strftime format of the date part (%y-%m-%d_%H-%M)\n"
    "  --help, --version\n"
    "\n"
    "Each file is written under a working name with \"~\" before its date and renamed when\n"
    "closed. The names of the files written go to standard output.\n"
    "Exit status: 0 done, 1 done but damaged frames were left out (named on standard error) or\n"
    "interrupted (the files closed so far are kept), 2 could not start.\n";

std::atomic<bool> g_isInterrupted{false};

void onInterrupt(int)
{
    g_isInterrupted.store(true, std::memory_order_relaxed);
}

int fail(const std::string& text)
{
    std::fprintf(stderr, "vantrel-split: %s\n", text.c_str());
    return 2;
}

bool parseNumber(const char* text, long lowest, long highest, long& out)
{
    if (text == nullptr) return false;
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out >= lowest && out <= highest;
}

}  // namespace

int main(int argc, char** argv)
{
    vantrel::avi::PinLocalTimeZone();
    using namespace vantrel;
    pipeline::SceneSplitOptions options;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs(versionLine("vantrel-split").c_str(), stdout);
            return 0;
        } else if (arg == "--scene-gap") {
            if (!parseNumber(value, 0, 86400, n)) return fail("bad value for --scene-gap");
            options.sceneGapSeconds = static_cast<std::int32_t>(n);
            ++i;
        } else if (arg == "--frames-per-file") {
            if (!parseNumber(value, 1, 100000000, n)) return fail("bad value for --frames-per-file");
            options.framesPerFile = static_cast<std::int32_t>(n);
            ++i;
        } else if (arg == "--type") {
            if (!parseNumber(value, 1, 2, n)) return fail("--type takes 1 or 2");
            options.type = n == 1 ? avi::DvAviType::Type1Interleaved : avi::DvAviType::Type2Separate;
            ++i;
        } else if (arg == "--name-format") {
            if (value == nullptr) return fail("--name-format needs a value");
            options.nameFormat = value;
            ++i;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg + "\nTry 'vantrel-split --help'.");
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() < 2) return fail("give the input FILEs and the BASE of the output names\nTry 'vantrel-split --help'.");
    options.baseName = paths.back();
    paths.pop_back();

    // Every input must open and the output folder must take files before anything is written.
    std::vector<avi::DvAvi> inputs;
    for (const std::string& path : paths) {
        auto opened = avi::OpenDVAvi(path);
        if (!opened) return fail(opened.error());
        inputs.push_back(std::move(opened.value()));
    }
    const std::filesystem::path folder = std::filesystem::path(options.baseName).parent_path();
    const std::string folderText = folder.empty() ? "." : folder.string();
    if (::access(folderText.c_str(), W_OK | X_OK) != 0) {
        return fail("cannot write into " + folderText + ": " + std::strerror(errno));
    }

    struct sigaction action{};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    pipeline::SceneSplitter splitter(options);
    std::vector<std::string> notes;
    int status = 0;
    for (std::size_t k = 0; k < inputs.size() && status < 2; ++k) {
        const auto outcome = splitter.addFile(inputs[k], g_isInterrupted, notes);
        for (const std::string& note : notes) std::fprintf(stderr, "vantrel-split: %s: %s\n", paths[k].c_str(), note.c_str());
        notes.clear();
        if (outcome == pipeline::SceneSplitOutcome::DoneWithDamage) status = 1;
        if (outcome == pipeline::SceneSplitOutcome::Interrupted) {
            std::fputs("vantrel-split: interrupted; the files closed so far are kept\n", stderr);
            status = 1;
            break;
        }
        if (outcome == pipeline::SceneSplitOutcome::Failed) status = 1;
    }
    if (!splitter.finish(notes)) status = 1;
    for (const std::string& note : notes) std::fprintf(stderr, "vantrel-split: %s\n", note.c_str());
    for (const std::string& name : splitter.filesWritten()) std::printf("%s\n", name.c_str());
    return status;
}
