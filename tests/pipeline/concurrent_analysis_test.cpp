// SPDX-License-Identifier: GPL-3.0-or-later
// The capture worker and the analysis thread analyse frames at the same moment: each gets the
// records a lone thread gets, with no lock of ours between them.
#include "avi/local_time_zone.h"
#include "dv/pack_decoders.h"
#include "support/records.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <future>
#include <vector>

namespace vantrel::pipeline {
namespace {

// What the capture worker takes from a frame: its recording time and its record.
std::string analysed(const std::vector<std::byte>& frame)
{
    dv::DVFrameInfo info{};
    dv::AnalyseFrame(frame, dv::VideoSystem::Pal625_50, info);
    return std::to_string(dv::GetRecordingTime(frame)) + " " + testsupport::describe(info);
}

TEST(ConcurrentAnalysis, two_threads_get_the_records_one_thread_gets)
{
    avi::PinLocalTimeZone();  // what the programs do at start-up, before any thread
    std::vector<std::vector<std::byte>> frames;
    for (int i = 0; i < 40; ++i)
        frames.push_back(testsupport::SyntheticDvFrame::pal()
                             .withRecordingDate({2004 + i % 3, 1 + i % 12, 1 + i % 28}, {i % 24, i % 60, (i * 7) % 60})
                             .withTimecode({0, i / 25, i % 60, i % 25})
                             .withShutterWord(static_cast<std::uint16_t>(0x0100 + i))
                             .bytes());
    frames.push_back(testsupport::SyntheticDvFrame::pal().bytes());  // no date at all
    std::vector<std::string> alone;
    for (const auto& frame : frames)
        alone.push_back(analysed(frame));

    // The capture worker and the analysis thread, each starting at its own frame.
    auto mismatchesFrom = [&](std::size_t offset) {
        int mismatches = 0;
        for (int round = 0; round < 200; ++round) {
            for (std::size_t i = 0; i < frames.size(); ++i)
                mismatches += analysed(frames[(i + offset) % frames.size()]) != alone[(i + offset) % frames.size()];
        }
        return mismatches;
    };
    auto captureWorker = std::async(std::launch::async, mismatchesFrom, 0);
    auto analysisThread = std::async(std::launch::async, mismatchesFrom, frames.size() / 2);
    EXPECT_EQ(captureWorker.get(), 0);
    EXPECT_EQ(analysisThread.get(), 0);
}

}  // namespace
}  // namespace vantrel::pipeline
