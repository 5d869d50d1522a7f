// SPDX-License-Identifier: GPL-3.0-or-later
// The player in the main window on a real tape: open -> preview still shown, the longest time the
// GUI thread stops answering meanwhile, step and seek latency, and CPU while playing.
// Usage: player_bench FILE [OPENS]   (offscreen unless QT_QPA_PLATFORM says otherwise)
#include "mediagraph/dshow_graph.h"
#include "player/movie_player.h"
#include "shell/main_window.h"
#include "shell/toolbar_table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vantrel;

// Records the longest gap between ticks of a 2 ms timer: how long the GUI thread stopped answering.
class StallMeter {
public:
    StallMeter()
    {
        m_timer.setInterval(2);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestNs = std::max(m_longestNs, now - m_lastNs);
            m_lastNs = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_lastNs = 0;
        m_longestNs = 0;
        m_timer.start();
    }
    double stopMs()
    {
        m_timer.stop();
        m_longestNs = std::max(m_longestNs, m_clock.nsecsElapsed() - m_lastNs);
        return m_longestNs / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = 0;
    qint64 m_longestNs = 0;
};

// Runs the event loop until `isDone` or the deadline; the milliseconds it took, -1 on timeout.
double waitMs(const std::function<bool()>& isDone, int deadlineMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!isDone()) {
        if (clock.elapsed() > deadlineMs) return -1;
        QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return clock.nsecsElapsed() / 1e6;
}

struct Summary {
    double median, worst;
};
Summary summarise(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five;
    file >> one >> five;
    return one + " (1 min), " + five + " (5 min)";
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: player_bench FILE [OPENS]\n");
        return 2;
    }
    const std::string file = argv[1];
    const int opens = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::vector<char*> qtArguments{argv[0]};
    char platform[] = "-platform", offscreen[] = "offscreen";
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) qtArguments.insert(qtArguments.end(), {platform, offscreen});
    int qtArgc = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    std::jthread registryLoader([] { mediagraph::ensureMediaFrameworkInitialised(); });  // as vantrel does
    QApplication application(qtArgc, qtArguments.data());

    std::printf("machine: %u cores, load %s (shared by other builds)\n", std::thread::hardware_concurrency(),
                loadAverage().c_str());
    shell::CMainDlg window(shell::standardShellServices());
    window.show();
    if (waitMs([&] { return window.player() != nullptr; }) < 0) return 1;
    player::CMoviePlayer& player = *window.player();

    // The same meter with nothing to do: what the shared machine alone costs the GUI thread.
    StallMeter idle;
    idle.start();
    waitMs([] { return false; }, 2000);
    std::printf("longest GUI stall over 2 s with nothing to do (the machine's own share): %.1f ms\n", idle.stopMs());

    std::vector<double> previewMs, firstPictureMs, stallMs, openCallMs;
    for (int i = 0; i < opens; ++i) {
        bool isShown = false;
        const QMetaObject::Connection shown =
            QObject::connect(&player, &player::CMoviePlayer::previewStillShown, [&] { isShown = true; });
        StallMeter stall;
        QElapsedTimer clock;
        stall.start();
        clock.start();
        window.openWhenReady(QString::fromStdString(file), false);
        openCallMs.push_back(clock.nsecsElapsed() / 1e6);
        const double firstPicture = waitMs([&] { return player.graph() && player.graph()->pictureCount() > 0; });
        firstPictureMs.push_back(firstPicture < 0 ? -1 : clock.nsecsElapsed() / 1e6);
        const bool isPreviewShown = waitMs([&] { return isShown; }) >= 0;
        QObject::disconnect(shown);
        if (!isPreviewShown) {
            std::fprintf(stderr, "player_bench: no preview still\n");
            return 1;
        }
        previewMs.push_back(clock.nsecsElapsed() / 1e6);
        stallMs.push_back(stall.stopMs());
    }
    std::printf("open -> first picture decoded: first %.0f ms, then median %.0f ms\n", firstPictureMs[0],
                summarise({firstPictureMs.begin() + (opens > 1 ? 1 : 0), firstPictureMs.end()}).median);
    std::printf("open -> preview still shown (goal <= 1200 ms, 1000 ms of it the deliberate wait): first %.0f ms, "
                "median %.0f ms, worst %.0f ms\n",
                previewMs[0], summarise(previewMs).median, summarise(previewMs).worst);
    std::printf("the open command itself (release, graph, analysis start): first %.1f ms, median %.1f ms, worst %.1f ms\n",
                openCallMs[0], summarise(openCallMs).median, summarise(openCallMs).worst);
    std::printf("longest GUI stall while opening (goal <= 50 ms): first open %.1f ms, median %.1f ms, worst %.1f ms\n",
                stallMs[0], summarise(stallMs).median, summarise(stallMs).worst);

    window.onCommand(shell::command::kPlay);
    waitMs([] { return false; }, 1000);
    window.onCommand(shell::command::kPause);
    waitMs([&] { return player.graph()->GetState(std::chrono::milliseconds(0)) == player::GraphRunState::Paused; });
    player.TogglePlayPause();  // the player's own state follows: steps then stay paused
    player.TogglePlayPause();
    std::vector<double> stepMs;
    for (int i = 0; i < 30; ++i) {
        const std::uint64_t before = player.graph()->pictureCount();
        QElapsedTimer clock;
        clock.start();
        player.StepForward();
        if (waitMs([&] { return player.graph()->pictureCount() > before; }, 5000) < 0) break;
        stepMs.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::vector<double> seekMs;
    std::mt19937 random(11);
    for (int i = 0; i < 30; ++i) {
        const std::uint64_t before = player.graph()->pictureCount();
        QElapsedTimer clock;
        clock.start();
        player.SeekToPercent(player::CMoviePlayer::kSliderEndScroll, static_cast<int>(random() % 100));
        if (waitMs([&] { return player.graph()->pictureCount() > before; }, 5000) < 0) break;
        seekMs.push_back(clock.nsecsElapsed() / 1e6);
    }
    if (!stepMs.empty())
        std::printf("step forward -> new picture: median %.1f ms, worst %.1f ms (%zu steps)\n",
                    summarise(stepMs).median, summarise(stepMs).worst, stepMs.size());
    if (!seekMs.empty())
        std::printf("slider seek (paused) -> new picture: median %.1f ms, worst %.1f ms (%zu seeks)\n",
                    summarise(seekMs).median, summarise(seekMs).worst, seekMs.size());

    player.SeekToPercent(player::CMoviePlayer::kSliderEndScroll, 0);
    window.onCommand(shell::command::kPause);  // paused -> running
    const double cpuBefore = cpuSeconds();
    const std::uint64_t picturesBefore = player.graph()->pictureCount();
    QElapsedTimer wall;
    wall.start();
    StallMeter playingStall;
    playingStall.start();
    waitMs([] { return false; }, 10000);
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = wall.nsecsElapsed() / 1e9;
    std::printf("playing %.1f s: %.0f %% of one core (decode, convert, paint, sound), %.1f pictures/s, "
                "longest GUI stall %.1f ms\n",
                seconds, 100.0 * cpu / seconds, (player.graph()->pictureCount() - picturesBefore) / seconds,
                playingStall.stopMs());
    std::printf("machine load after: %s\n", loadAverage().c_str());
    return 0;
}
