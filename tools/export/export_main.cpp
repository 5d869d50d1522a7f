// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-export: DV files as H.264 MP4 or Matroska for viewing, or their dates as subtitles.
#include "avi/local_time_zone.h"
#include "export/export_job.h"
#include "export/subtitle_export.h"

#include <QGuiApplication>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: vantrel-export [OPTIONS] FILE OUT.mp4|OUT.mkv\n"
    "       vantrel-export --subtitles [--format FMT] FILE OUT.srt|OUT.vtt\n"
    "Makes a file for viewing from a DV AVI or raw DV file: H.264 video with the display aspect\n"
    "the camcorder recorded (4:3 or 16:9) and AAC sound; or writes the recording date and time\n"
    "as subtitles, one cue each time the shown text changes.\n"
    "\n"
    "  --burn-in date   draw the date and time in the lower right corner of every frame\n"
    "  --burn-in panel  draw the info panel's four lines into the upper left corner\n"
    "  --subtitles      add the recording date as a subtitle stream (or write a subtitle file)\n"
    "  --chapters       a chapter at each scene (a jump of the recording time)\n"
    "  --deinterlace    deinterlace the picture (DV is interlaced)\n"
    "  --crf N          x264 quality, 0..51 (20); lower is better and larger\n"
    "  --opus           Opus sound instead of AAC\n"
    "  --scene-gap S    seconds of the scene gap for the chapters (1)\n"
    "  --format FMT     strftime format of the subtitle text (as the info panel: %d.%m.%Y %H:%M:%S)\n"
    "  --help, --version\n"
    "\n"
    "Progress goes to standard error. The file is written under a hidden name beside the output\n"
    "and renamed when complete: Ctrl-C leaves no half file.\n"
    "Exit status: 0 done, 1 done but frames were damaged (they are left out and named), 2 could\n"
    "not start (nothing written), 130 interrupted.\n";

std::atomic<bool> g_isInterrupted{false};

void onInterrupt(int)
{
    g_isInterrupted.store(true, std::memory_order_relaxed);
}

// Qt's start-up remarks (a missing XDG_RUNTIME_DIR) are no business of the user; its errors are.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "vantrel-export: %s\n", message.toLocal8Bit().constData());
    }
}

struct Arguments {
    vantrel::exporting::ExportOptions options;
    std::vector<std::string> files;
};

int fail(const std::string& text)
{
    std::fprintf(stderr, "vantrel-export: %s\n", text.c_str());
    return 2;
}

// Percent, frames a second and time left, on one line rewritten in place on a terminal, every
// tenth otherwise.
class ProgressPrinter {
public:
    void operator()(const vantrel::exporting::ExportProgress& p)
    {
        const auto now = std::chrono::steady_clock::now();
        const int percent = p.frameCount ? static_cast<int>(p.framesDone * 100 / p.frameCount) : 100;
        const bool isLast = p.framesDone == p.frameCount;
        if (m_isTerminal) {
            if (!isLast && now - m_lastPrint < std::chrono::milliseconds(500)) return;
        } else if (!isLast && percent / 10 == m_lastTenth) {
            return;
        }
        if (!isLast && p.framesDone < 25) return;  // too few frames for a rate worth showing
        m_lastPrint = now;
        m_lastTenth = percent / 10;
        const auto left = static_cast<long>(p.secondsLeft + 0.5);
        std::fprintf(stderr, "%svantrel-export: %3d%%  %.1f frames/s  %ld:%02ld left%s", m_isTerminal ? "\r" : "",
                     percent, p.framesPerSecond, left / 60, left % 60, m_isTerminal && !isLast ? "" : "\n");
    }

private:
    bool m_isTerminal = ::isatty(STDERR_FILENO) != 0;
    std::chrono::steady_clock::time_point m_lastPrint{};
    int m_lastTenth = -1;
};

}  // namespace

int main(int argc, char** argv)
{
    vantrel::avi::PinLocalTimeZone();
    using namespace vantrel::exporting;
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("vantrel-export 0.1.0");
            return 0;
        } else if (arg == "--burn-in") {
            const char* v = value();
            if (v && std::strcmp(v, "date") == 0) a.options.burnIn = BurnIn::Date;
            else if (v && std::strcmp(v, "panel") == 0) a.options.burnIn = BurnIn::Panel;
            else return fail("--burn-in takes panel or date");
        } else if (arg == "--subtitles") {
            a.options.hasSubtitles = true;
        } else if (arg == "--chapters") {
            a.options.hasChapters = true;
        } else if (arg == "--deinterlace") {
            a.options.deinterlace = true;
        } else if (arg == "--opus") {
            a.options.audioCodec = vantrel::mediagraph::ExportAudioCodec::Opus;
        } else if (arg == "--crf" || arg == "--scene-gap") {
            const char* v = value();
            char* end = nullptr;
            const long n = v ? std::strtol(v, &end, 10) : -1;
            const long most = arg == "--crf" ? 51 : 86400;
            if (!v || *end != '\0' || end == v || n < 0 || n > most) return fail("bad value for " + arg);
            (arg == "--crf" ? a.options.crf : a.options.sceneGapSeconds) = static_cast<int>(n);
        } else if (arg == "--format") {
            const char* v = value();
            if (!v) return fail("--format needs a value");
            a.options.dateFormat = v;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + arg + "\nTry 'vantrel-export --help'.");
        } else {
            a.files.push_back(arg);
        }
    }
    if (a.files.size() != 2) return fail("give one input FILE and one output\nTry 'vantrel-export --help'.");
    a.options.inputPath = a.files[0];
    a.options.outputPath = a.files[1];

    std::vector<std::string> notes;
    const auto printNotes = [&] {
        for (const std::string& note : notes) std::fprintf(stderr, "vantrel-export: %s\n", note.c_str());
        notes.clear();
    };
    const std::string& out = a.options.outputPath;
    const bool isSubtitleFile = out.size() > 4 && (out.ends_with(".srt") || out.ends_with(".vtt") ||
                                                   out.ends_with(".SRT") || out.ends_with(".VTT"));
    if (isSubtitleFile) {
        const SubtitleOutcome outcome = exportDateSubtitles(a.options.inputPath, out, a.options.dateFormat, notes);
        printNotes();
        switch (outcome) {
        case SubtitleOutcome::Done:
        case SubtitleOutcome::DoneWithoutDates: return 0;
        case SubtitleOutcome::DoneWithDamage:
        case SubtitleOutcome::Failed: return 1;
        default: return 2;
        }
    }

    // The burn-in draws text with Qt's painter, which needs a GUI application; no display is used.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(quietQtMessages);
    QGuiApplication application(argc, argv);

    std::string error;
    auto job = ExportJob::prepare(a.options, error);
    if (!job) return fail(error);
    // A second Ctrl-C ends the program at once; the hidden file may then stay, the output never.
    struct sigaction action{};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    ProgressPrinter printer;
    const ExportOutcome outcome = job->run(std::ref(printer), g_isInterrupted, notes);
    job.reset();  // removes the hidden file of a run that did not complete
    printNotes();
    switch (outcome) {
    case ExportOutcome::Done: return 0;
    case ExportOutcome::DoneWithDamage: return 1;
    case ExportOutcome::Interrupted:
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return 130;
    default: return 1;
    }
}
