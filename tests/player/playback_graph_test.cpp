// SPDX-License-Identifier: GPL-3.0-or-later
// The GStreamer playback graph on generated tapes: preroll, picture size, duration, seeks, steps, failures.
#include "player/playback_graph.h"
#include "support/run_tool.h"
#include "support/test_files.h"

#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace vantrel::player {
namespace {

constexpr std::int64_t kMillisecond = 10000;

bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 15000); }

TEST(PlaybackGraph, prerolls_seeks_and_steps_generated_tapes)
{
    const struct {
        const char* name;
        std::vector<std::string> options;
        QSize picture;
        double framePeriod;  // 100 ns units
    } cases[] = {
        {"pal.avi", {"--system", "pal"}, {720, 576}, 40 * kMillisecond},
        {"ntsc.avi", {"--system", "ntsc", "--type", "1"}, {720, 480}, 10010000.0 / 30},
        {"pal.dv", {"--system", "pal", "--format", "dv"}, {720, 576}, 40 * kMillisecond},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--frames", "50"});
        const std::string tape = testsupport::generateTape(std::string("playback-graph-") + c.name, options);
        std::atomic<int> notified{0};
        std::unique_ptr<IPlaybackGraph> graph = gstPlaybackGraphFactory()(tape, [&] { ++notified; });
        ASSERT_TRUE(waitFor([&] { return graph->openProgress(nullptr) == GraphOpening::Ready; }));
        EXPECT_TRUE(graph->hasVideo());
        EXPECT_GE(notified.load(), 1);
        EXPECT_EQ(graph->latestPicture().size(), c.picture);
        const std::optional<std::int64_t> duration = graph->GetDuration();
        ASSERT_TRUE(duration.has_value());
        EXPECT_NEAR(static_cast<double>(*duration), 50.0 * c.framePeriod, c.framePeriod);

        std::uint64_t pictures = graph->pictureCount();
        ASSERT_TRUE(graph->Seek(static_cast<std::int64_t>(20 * c.framePeriod)));  // the start of frame 20
        ASSERT_TRUE(waitFor([&] { return graph->pictureCount() > pictures; })) << "a paused seek shows its picture";
        EXPECT_NEAR(static_cast<double>(graph->GetPosition().value_or(-1)), 20.0 * c.framePeriod, c.framePeriod / 2);

        pictures = graph->pictureCount();
        ASSERT_TRUE(graph->StepFrame());
        ASSERT_TRUE(waitFor([&] { return graph->pictureCount() > pictures; })) << "a step shows the next picture";
        EXPECT_NEAR(static_cast<double>(graph->GetPosition().value_or(-1)), 21.0 * c.framePeriod, c.framePeriod / 2)
            << "one frame, not one field";

        // A step asked for while playing: the player pauses and steps at once, without waiting.
        ASSERT_TRUE(graph->Run());
        ASSERT_TRUE(waitFor([&] { return graph->GetState(std::chrono::milliseconds(0)) == GraphRunState::Running; }));
        ASSERT_TRUE(graph->Pause());
        ASSERT_TRUE(graph->StepFrame());
        ASSERT_TRUE(waitFor([&] { return graph->GetState(std::chrono::milliseconds(0)) == GraphRunState::Paused; }));
        const std::int64_t pausedAt = graph->GetPosition().value_or(-1);
        pictures = graph->pictureCount();
        ASSERT_TRUE(graph->StepFrame());
        ASSERT_TRUE(waitFor([&] { return graph->pictureCount() > pictures; }));
        // The picture may be the earlier step's, shown late: the position decides.
        EXPECT_TRUE(waitFor([&] { return graph->GetPosition().value_or(-1) > pausedAt; }))
            << "the step after the pause moved on";
    }
}

TEST(PlaybackGraph, a_file_that_is_no_media_fails_with_the_frameworks_text)
{
    const std::string path = testsupport::testPath("playback-graph-not-media.avi").string();
    testsupport::runTool({"sh", "-c", "printf 'RIFF but not really' > " + testsupport::shellQuote(path)});
    std::unique_ptr<IPlaybackGraph> graph = gstPlaybackGraphFactory()(path, [] {});
    std::string error;
    ASSERT_TRUE(waitFor([&] { return graph->openProgress(&error) == GraphOpening::Failed; }));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(graph->latestPicture().isNull());
}

}  // namespace
}  // namespace vantrel::player
