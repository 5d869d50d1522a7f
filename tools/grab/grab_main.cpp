// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-grab: writes one frame of a DV file as a bitmap with the info panel's lines burnt in, as the window's Capture bitmap button does.
#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "avi/local_time_zone.h"
#include "grab/frame_grabber.h"
#include "grab/frame_panel.h"
#include "vantrel/version.h"

#include <QGuiApplication>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

const char* const kUsage =
    "Usage: vantrel-grab [--frame N | --at SECONDS] FILE OUT.bmp\n"
    "Writes one frame of a DV file (DV AVI of type 1 or 2, or raw DV; PAL or NTSC) as a 24-bit\n"
    "bitmap with the info panel's four lines burnt into its top-left corner: the same file the\n"
    "main window's Capture bitmap button writes for that frame. \".bmp\" is added to OUT unless\n"
    "it ends so. Needs no display.\n"
    "\n"
    "  --frame N     frame N, counted from 0 (the default: frame 0)\n"
    "  --at SECONDS  the frame shown at that play position, e.g. 12.5\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "The grabber's progress texts go to standard output. Exit status: 0 when the bitmap is\n"
    "written, 2 when it could not be (the reason on standard error).\n";

constexpr const char* kProgram = "vantrel-grab";
constexpr int kExitDone = 0;
constexpr int kExitCouldNotStart = 2;

int fail(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, reason.c_str());
    return kExitCouldNotStart;
}

int usageError(const std::string& reason)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, reason.c_str(), kProgram);
    return kExitCouldNotStart;
}

std::optional<long> parseFrame(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < 0) return std::nullopt;
    return value;
}

std::optional<double> parseSeconds(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(value) || value < 0) return std::nullopt;
    return value;
}

// Qt's warnings are about the desktop session (no runtime folder, no display), not about the
// grab: only its critical and fatal messages reach standard error.
void reportQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "%s: %s\n", kProgram, message.toLocal8Bit().constData());
    }
}

struct Request {
    std::optional<long> frame;
    std::optional<double> seconds;
    std::string file;
    std::string bitmap;
};

}  // namespace

int main(int argc, char** argv)
{
    Request request;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
        if (argument == "--version") {
            std::fputs(vantrel::versionLine(kProgram).c_str(), stdout);
            return kExitDone;
        }
        if (argument == "--frame" || argument == "--at") {
            if (i + 1 >= argc) return usageError(argument + " needs a value");
            if (request.frame || request.seconds) return usageError("give --frame or --at once");
            const char* value = argv[++i];
            if (argument == "--frame" && !(request.frame = parseFrame(value))) {
                return usageError(std::string("not a frame number: ") + value);
            }
            if (argument == "--at" && !(request.seconds = parseSeconds(value))) {
                return usageError(std::string("not a time in seconds: ") + value);
            }
        } else if (argument.size() > 1 && argument[0] == '-') {
            return usageError("unknown option " + argument);
        } else if (positional == 0) {
            request.file = argument;
            ++positional;
        } else if (positional == 1) {
            request.bitmap = argument;
            ++positional;
        } else {
            return usageError("one FILE and one OUT.bmp, please");
        }
    }
    if (positional != 2 || request.bitmap.empty()) return usageError("a FILE and an OUT.bmp are needed");

    vantrel::avi::PinLocalTimeZone();
    auto opened = vantrel::avi::OpenDVAvi(request.file);
    if (!opened) return fail(request.file + ": " + opened.error());
    const auto file = std::make_shared<const vantrel::avi::DvAvi>(std::move(*opened));
    const auto system = file->videoSystem();
    std::int64_t startTime = 0;
    long frame = 0;
    if (request.seconds) {
        startTime = std::llround(*request.seconds * 1e7);
        frame = vantrel::grab::frameAtTime(startTime, system);
    } else {
        frame = request.frame.value_or(0);
        startTime = vantrel::grab::timeInsideFrame(frame, system);
    }
    if (frame < 0 || static_cast<std::size_t>(frame) >= file->frameCount()) {
        return fail(request.file + ": no frame " + std::to_string(frame) + " (the file has " +
                    std::to_string(file->frameCount()) + ")");
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");  // the panel's text needs fonts, not a display
    qInstallMessageHandler(&reportQtMessage);
    QGuiApplication application(argc, argv);
    vantrel::avi::AnalysisThread analysis;
    analysis.start(file);
    const QImage panel = vantrel::grab::infoPanelPictureOfFrame(analysis, frame);
    analysis.stop();
    if (panel.isNull()) return fail(request.file + ": frame " + std::to_string(frame) + " cannot be analysed");

    const auto result = vantrel::grab::GrabFrames(request.file, startTime, panel, [&] { return request.bitmap; });
    if (result.outcome != vantrel::grab::GrabOutcome::Saved) {
        return fail((result.bitmapPath.empty() ? request.file : result.bitmapPath) + ": " + result.message);
    }
    return kExitDone;
}
