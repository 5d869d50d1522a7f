// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel: the main window; `vantrel [FILE]` opens FILE in the player at start.
#include "mediagraph/dshow_graph.h"
#include "player/movie_player.h"
#include "shell/main_window.h"
#include "vantrel/version.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

namespace {

const char* const kUsage =
    "Usage: vantrel [OPTION]... [FILE]\n"
    "Plays a DV file and shows, frame by frame, the camcorder's recording date and time, time code\n"
    "and camera settings beside the picture. FILE is opened in the player at start.\n"
    "\n"
    "  --play               start playing FILE once it is open\n"
    "  --screenshot PNG     after --seconds of playing, save a picture of the window to PNG,\n"
    "                       print its path and end (for machines without a display, under Xvfb)\n"
    "  --seconds N          playing time before the screenshot (3)\n"
    "  --help               this text\n"
    "  --version            the version\n"
    "\n"
    "Qt's own options (-platform, -display, ...) are accepted too.\n";

struct Options {
    std::optional<std::string> file;
    bool isPlaying = false;
    std::optional<std::string> screenshot;
    double seconds = 3.0;
};

[[noreturn]] void failToStart(const std::string& reason)
{
    std::fprintf(stderr, "vantrel: %s\nTry 'vantrel --help'.\n", reason.c_str());
    std::exit(2);
}

// Our own options; Qt's (starting with one dash) are left for QApplication.
Options parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) failToStart("option " + argument + " needs a value");
            return argv[++i];
        };
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (argument == "--version") {
            std::fputs(vantrel::versionLine("vantrel").c_str(), stdout);
            std::exit(0);
        } else if (argument == "--play") {
            options.isPlaying = true;
        } else if (argument == "--screenshot") {
            options.screenshot = value();
        } else if (argument == "--seconds") {
            const std::string text = value();
            char* end = nullptr;
            options.seconds = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || options.seconds < 0 || options.seconds > 3600)
                failToStart("--seconds wants a number of seconds from 0 to 3600, not '" + text + "'");
        } else if (argument.starts_with("--")) {
            failToStart("unknown option " + argument);
        } else if (argument.starts_with("-") && argument.size() > 1) {
            // A Qt option; those with a value take the next argument along.
            static const char* const withValue[] = {"-platform", "-display", "-style", "-geometry", "-qwindowgeometry",
                                                    "-platformpluginpath", "-platformtheme", "-stylesheet"};
            for (const char* option : withValue)
                if (argument == option) ++i;
        } else if (!options.file) {
            options.file = argument;
        } else {
            failToStart("one file at a time");
        }
    }
    if (options.screenshot && !options.file)
        failToStart("--screenshot needs a FILE to play");
    if (options.file && !QFileInfo::exists(QString::fromStdString(*options.file)))
        failToStart(*options.file + ": no such file");
    return options;
}

// Saves the window once the player has played for the given time, then ends the program.
void scheduleScreenshot(vantrel::shell::CMainDlg& window, const std::string& path, double seconds)
{
    auto* poll = new QTimer(&window);
    poll->setInterval(50);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, poll, path, seconds] {
        vantrel::player::CMoviePlayer* player = window.player();
        if (player == nullptr || player->state() != vantrel::player::PlayerState::Running) return;
        poll->stop();
        QTimer::singleShot(static_cast<int>(seconds * 1000), &window, [&window, path] {
            const QString target = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
            if (!window.grab().save(target, "PNG")) {
                std::fprintf(stderr, "vantrel: %s: cannot write the screenshot\n", path.c_str());
                QApplication::exit(1);
                return;
            }
            std::printf("%s\n", target.toLocal8Bit().constData());
            std::fflush(stdout);
            QApplication::exit(0);
        });
    });
    poll->start();
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    // GStreamer's registry loads beside the window's start, off the GUI thread.
    std::jthread registryLoader([] { vantrel::mediagraph::ensureMediaFrameworkInitialised(); });

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vantrel"));
    QApplication::setApplicationVersion(QString::fromLatin1(vantrel::kVersion.data(), vantrel::kVersion.size()));
    QApplication::setDesktopFileName(QString::fromLatin1(vantrel::kApplicationId.data(), vantrel::kApplicationId.size()));

    vantrel::shell::CMainDlg window(vantrel::shell::standardShellServices());
    if (options.file)
        window.openWhenReady(QString::fromStdString(*options.file), options.isPlaying || options.screenshot);
    if (options.screenshot)
        scheduleScreenshot(window, *options.screenshot, options.seconds);
    window.show();
    return application.exec();
}
