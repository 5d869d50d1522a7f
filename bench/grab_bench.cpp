// SPDX-License-Identifier: GPL-3.0-or-later
// Frame grab figures: the time from the command to the bitmap on disk (decode, compose, write),
// for the first grab of the process (the media framework loads its plugins) and the later ones,
// at the start, in the middle and near the end of a tape.
//
// Usage: grab_bench TAPE [work-folder] [grabs]   (TAPE: a DV AVI or raw DV file, e.g. from vantrel-dvgen)
#include "avi/dv_avi.h"
#include "grab/frame_grabber.h"
#include "grab/frame_panel.h"

#include <QImage>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

int main(int argc, char** argv)
{
    using namespace vantrel;
    using Clock = std::chrono::steady_clock;
    if (argc < 2) {
        std::fputs("usage: grab_bench TAPE [work-folder] [grabs]\n", stderr);
        return 2;
    }
    const std::string tape = argv[1];
    const std::filesystem::path folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
    const int grabs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    auto opened = avi::OpenDVAvi(tape);
    if (!opened) {
        std::fprintf(stderr, "grab_bench: %s\n", opened.error().c_str());
        return 2;
    }
    const long frames = static_cast<long>(opened->frameCount());
    const QImage panel(grab::kInfoPanelSize, QImage::Format_BGR888);
    const std::string bitmap = (folder / ("grab_bench_" + std::to_string(::getpid()))).string();
    std::vector<double> laterMs;
    double firstMs = 0;
    for (int i = 0; i <= grabs; ++i) {
        const long frame = i == 0 ? 0 : (frames - 1) * (i % 3) / 2;  // start, middle, end in turn
        const auto start = Clock::now();
        const auto result = grab::GrabFrames(tape, grab::timeInsideFrame(frame, opened->videoSystem()), panel,
                                             [&] { return bitmap; }, stderr);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (result.outcome != grab::GrabOutcome::Saved) {
            std::fprintf(stderr, "grab_bench: %s\n", result.message.c_str());
            return 1;
        }
        (i == 0 ? firstMs : laterMs.emplace_back()) = ms;
    }
    std::filesystem::remove(bitmap + ".bmp");
    std::sort(laterMs.begin(), laterMs.end());
    std::printf("first grab of the process: %.1f ms\n", firstMs);
    std::printf("later grabs (%zu): median %.1f ms, worst %.1f ms\n", laterMs.size(), laterMs[laterMs.size() / 2],
                laterMs.back());
    return 0;
}
