// SPDX-License-Identifier: GPL-3.0-or-later
// The capture worker and the analysis thread analyse frames at the same moment: each gets the
// records a lone thread gets, with no lock of ours between them.
#include "avi/local_time_zone.h"
#include "dv/pack_decoders.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace vantrel::pipeline {
namespace {

struct Analysed {
    std::int64_t recordingTime;
    dv::DVFrameInfo info;
};

std::vector<std::vector<std::byte>> variedFrames()
{
    std::vector<std::vector<std::byte>> frames;
    for (int i = 0; i < 40; ++i) {
        auto frame = testsupport::SyntheticDvFrame::pal()
                         .withRecordingDate({2004 + i % 3, 1 + i % 12, 1 + i % 28}, {i % 24, i % 60, (i * 7) % 60})
                         .withTimecode({0, i / 25, i % 60, i % 25})
                         .withCameraPack({})
                         .withShutterWord(static_cast<std::uint16_t>(0x0100 + i));
        frames.push_back(frame.bytes());
    }
    frames.push_back(testsupport::SyntheticDvFrame::pal().bytes());  // no date at all
    return frames;
}

Analysed analyse(const std::vector<std::byte>& frame)
{
    Analysed result{};
    result.recordingTime = dv::GetRecordingTime(frame);
    dv::AnalyseFrame(frame, dv::VideoSystem::Pal625_50, result.info);
    return result;
}

bool sameRecord(const Analysed& a, const Analysed& b)
{
    return a.recordingTime == b.recordingTime && a.info.dShutter == b.info.dShutter &&
           a.info.tmRecorded.tm_year == b.info.tmRecorded.tm_year && a.info.tmRecorded.tm_mon == b.info.tmRecorded.tm_mon &&
           a.info.tmRecorded.tm_mday == b.info.tmRecorded.tm_mday && a.info.tmRecorded.tm_hour == b.info.tmRecorded.tm_hour &&
           a.info.tmRecorded.tm_min == b.info.tmRecorded.tm_min && a.info.tmRecorded.tm_sec == b.info.tmRecorded.tm_sec &&
           std::strcmp(a.info.szTimeCode, b.info.szTimeCode) == 0;
}

TEST(ConcurrentAnalysis, two_threads_get_the_records_one_thread_gets)
{
    avi::PinLocalTimeZone();  // what the programs do at start-up, before any thread
    const auto frames = variedFrames();
    std::vector<Analysed> alone;
    for (const auto& frame : frames)
        alone.push_back(analyse(frame));
    ASSERT_EQ(alone.back().recordingTime, -1);
    ASSERT_GT(alone.front().recordingTime, 0);

    constexpr int kRounds = 200;
    auto run = [&](std::size_t offset, int* mismatches) {
        for (int round = 0; round < kRounds; ++round) {
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const std::size_t index = (i + offset) % frames.size();
                if (!sameRecord(analyse(frames[index]), alone[index]))
                    ++*mismatches;
            }
        }
    };
    int captureMismatches = 0;
    int analysisMismatches = 0;
    {
        std::jthread captureWorker(run, 0, &captureMismatches);
        std::jthread analysisThread(run, frames.size() / 2, &analysisMismatches);
    }
    EXPECT_EQ(captureMismatches, 0);
    EXPECT_EQ(analysisMismatches, 0);
}

}  // namespace
}  // namespace vantrel::pipeline
