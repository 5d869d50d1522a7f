// SPDX-License-Identifier: GPL-3.0-or-later
// How evenly the virtual camcorder sends at the tape rate, and how fast it sends at full speed.
//
// Writes a raw PAL tape of numbered frames into a temporary folder, plays it once at the tape rate
// (40 ms a frame) and prints the mean, smallest and largest interval between frames and how far
// the last frame is from its ideal time; then plays it at full speed and prints frames a second.
#include "mediagraph/virtual_camcorder.h"

#include "dv/dif_layout.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace vantrel::mediagraph;
using Clock = std::chrono::steady_clock;

class TimingReceiver : public IDvFrameReceiver {
public:
    explicit TimingReceiver(std::size_t expected) { m_arrivals.reserve(expected); }
    void receiveDvFrame(std::int64_t, std::span<const std::byte> frame) override
    {
        std::lock_guard lock(m_mutex);
        m_checksum += static_cast<unsigned>(frame[frame.size() / 2]);
        m_arrivals.push_back(Clock::now());
    }
    void endOfTape() override
    {
        std::lock_guard lock(m_mutex);
        m_isAtEnd = true;
        m_ended.notify_all();
    }
    std::vector<Clock::time_point> waitForEnd()
    {
        std::unique_lock lock(m_mutex);
        m_ended.wait(lock, [&] { return m_isAtEnd; });
        return m_arrivals;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::vector<Clock::time_point> m_arrivals;
    unsigned m_checksum = 0;
    bool m_isAtEnd = false;
};

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

std::vector<Clock::time_point> play(const std::filesystem::path& tape, SendPace pace, std::size_t frames)
{
    auto camcorder = CVirtualCamcorder::open(tape, {pace});
    if (!camcorder) {
        std::fprintf(stderr, "%s\n", camcorder.error().c_str());
        std::exit(1);
    }
    TimingReceiver receiver(frames);
    (*camcorder)->attachReceiver(&receiver);
    (*camcorder)->setMode(ED_MODE_PLAY);
    auto arrivals = receiver.waitForEnd();
    (*camcorder)->attachReceiver(nullptr);
    return arrivals;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t frames = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 125;
    const auto folder = std::filesystem::temp_directory_path() / ("vantrel_pace_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto tape = folder / "pace.dv";
    {
        std::vector<char> frame(vantrel::dv::kPalFrameBytes, 0);
        frame[3] = static_cast<char>(0x80);  // header block (section type 0) with the 625-line flag
        std::ofstream out(tape, std::ios::binary);
        for (std::size_t i = 0; i < frames; ++i) {
            frame[1000] = static_cast<char>(i);
            out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
        }
    }

    const auto paced = play(tape, SendPace::TapeRate, frames);
    std::vector<double> intervals;
    for (std::size_t i = 1; i < paced.size(); ++i) intervals.push_back(milliseconds(paced[i] - paced[i - 1]));
    const double mean = milliseconds(paced.back() - paced.front()) / static_cast<double>(paced.size() - 1);
    const double drift = milliseconds(paced.back() - paced.front()) - 40.0 * static_cast<double>(paced.size() - 1);
    std::printf("tape rate: %zu PAL frames, interval mean %.3f ms (ideal 40), min %.3f ms, max %.3f ms, "
                "last frame %+.3f ms from its ideal time\n",
                paced.size(), mean, *std::min_element(intervals.begin(), intervals.end()),
                *std::max_element(intervals.begin(), intervals.end()), drift);

    const auto fast = play(tape, SendPace::AsFastAsTaken, frames);
    const double seconds = milliseconds(fast.back() - fast.front()) / 1000.0;
    std::printf("full speed: %zu PAL frames from the tape file, %.0f frames/s (%.2f GB/s)\n", fast.size(),
                static_cast<double>(fast.size() - 1) / seconds,
                static_cast<double>(fast.size() - 1) * vantrel::dv::kPalFrameBytes / seconds / 1e9);
    std::filesystem::remove_all(folder);
    return 0;
}
