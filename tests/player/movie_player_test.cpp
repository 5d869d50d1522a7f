// SPDX-License-Identifier: GPL-3.0-or-later
// The player on a fake graph: refusals, failures, stop, steps, slider drags and the position display.
#include "dv/info_lines.h"
#include "player/fake_playback_graph.h"
#include "player/movie_player.h"
#include "player/player_texts.h"
#include "player/video_area.h"
#include "support/run_tool.h"

#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest/QTest>

#include <gtest/gtest.h>

namespace vantrel::player {
namespace {

constexpr std::int64_t kSecond = 10000000;

// A player on a fake graph, with the widgets it drives and the messages and panel lines it produced.
class RecordingPanel final : public dv::IInfoPanel {
public:
    void drawInfoLines(const dv::InfoLines& lines) override { firstLines.emplace_back(lines.line1); }
    std::vector<std::string> firstLines;
};

struct PlayerBench {
    FakeGraphScript script;
    FakeGraphLog log;
    std::vector<std::string> messages;
    std::optional<std::string> chosenFile;
    RecordingPanel panel;
    dv::InfoLineFormatter formatter{&panel};
    VideoArea host;
    QSlider slider{Qt::Horizontal};
    QLabel label;
    std::unique_ptr<CMoviePlayer> player;

    // The fake graph unless `makeGraph` is given.
    explicit PlayerBench(PlaybackGraphFactory makeGraph = {})
    {
        slider.setRange(0, 100);
        PlayerServices services;
        services.chooseMediaFile = [this] { return chosenFile; };
        services.showMessage = [this](const std::string& text) { messages.push_back(text); };
        services.makeGraph = makeGraph ? std::move(makeGraph) : fakeGraphFactory(script, log);
        services.formatter = &formatter;
        player = std::make_unique<CMoviePlayer>(&host, &slider, &label, std::move(services));
    }
};

const char* const kPlayListRefusal =
    "ASX Playlists are not supported by this application.\n\nPlease select a valid media file.";
const char* const kWindowsMediaRefusal =
    "Windows Media files (ASF,WMV,WMA) are not supported by this application.\n\n"
    "To play Windows Media files, use the ReelpaneASF or Spindle samples.";

TEST(PlayerPosition, turns_positions_into_frame_numbers_and_labels)
{
    const struct {
        std::int64_t position;
        long palFrame;  // NTSC frames: the test on a real tape
        const char* label;
    } cases[] = {
        {kSecond, 25, "Position: 00m:01s"},
        {(62 * 60 + 5) * kSecond + kSecond / 2, 93137, "Position: 62m:05s"},
        {kSecond - 1, 24, "Position: 00m:00s"},
        {59 * kSecond + 9999999, 1499, "Position: 00m:59s"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frameNumberOfPosition(c.position, true), c.palFrame) << c.position;
        EXPECT_EQ(positionLabelText(c.position), c.label) << c.position;
    }
}

// Play lists and Windows Media are refused anywhere in the name, a cancelled dialog changes
// nothing, and a graph that cannot be built, or a file it cannot play, is reported and unloaded.
TEST(PlayerOpen, refuses_play_lists_windows_media_and_graphs_that_fail_and_opens_the_rest)
{
    enum class Graph { Plays, DoesNotPlay, CannotBeMade };
    const struct {
        const char* chosen;  // nullptr: the dialog cancelled
        Graph graph;
        const char* message;  // nullptr: opened
    } cases[] = {
        {"/clips/Party.ASX", Graph::Plays, kPlayListRefusal},
        {"/clips/a.asf.asx", Graph::Plays, kPlayListRefusal},  // the play-list test comes first
        {"/x.asx/a.wmv", Graph::Plays, kPlayListRefusal},
        {"/clips/a.WMV", Graph::Plays, kWindowsMediaRefusal},
        {"/x.wmvideos/a.avi", Graph::Plays, kWindowsMediaRefusal},
        {"/music/song.wma", Graph::Plays, kWindowsMediaRefusal},
        {"/video/old.asf", Graph::Plays, kWindowsMediaRefusal},
        {"/clips/Holiday.AVI", Graph::Plays, nullptr},
        {nullptr, Graph::Plays, nullptr},
        {"/clips/broken.avi", Graph::CannotBeMade,
         "FAILED(hr=no element \"playbin\") in CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
         "IID_IGraphBuilder, (void **)&pGB)\n"},
        {"/clips/broken.avi", Graph::DoesNotPlay,
         "FAILED(hr=Could not determine type of stream.) in pGB->RenderFile(wFile, NULL)\n"},
    };
    const PlaybackGraphFactory throwing = [](const std::string&, std::function<void()>) -> std::unique_ptr<IPlaybackGraph> {
        throw std::runtime_error("no element \"playbin\"");
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen != nullptr ? c.chosen : "cancelled");
        PlayerBench bench(c.graph == Graph::CannotBeMade ? throwing : PlaybackGraphFactory{});
        if (c.graph == Graph::DoesNotPlay) bench.script.opening = GraphOpening::Failed;
        bench.script.openingError = "Could not determine type of stream.";
        if (c.chosen != nullptr) bench.chosenFile = c.chosen;
        bench.player->OpenMediaFile();
        const bool isOpened = c.chosen != nullptr && c.message == nullptr;
        EXPECT_EQ(bench.messages, c.message != nullptr ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(bench.player->isLoaded(), isOpened);
        EXPECT_EQ(bench.player->fileName().empty(), !isOpened);
        EXPECT_EQ(bench.host.hostText().toStdString() == kProductTitle, !isOpened);
    }
}

// The host title names the file lower-cased and its state; the grab uses the path as chosen. The
// first picture shows as a still a second after opening, until play. Each graph is released when
// the next file opens, the last with the player.
TEST(PlayerOpen, titles_the_file_shows_its_still_and_releases_each_graph)
{
    PlayerBench bench;
    QSignalSpy shown(bench.player.get(), &CMoviePlayer::previewStillShown);
    QElapsedTimer clock;
    clock.start();
    bench.chosenFile = "/Clips/Holiday.AVI";
    bench.player->OpenMediaFile();
    EXPECT_EQ(bench.player->fileName(), "/clips/holiday.avi");
    EXPECT_EQ(bench.player->grabPath(), "/Clips/Holiday.AVI");
    EXPECT_EQ(bench.host.hostText().toStdString(), "holiday.avi [Audio] ");
    EXPECT_TRUE(bench.host.previewStill().isNull()) << "the still waits its second";
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_GE(clock.elapsed(), CMoviePlayer::kPreviewDelayMs - 5);
    EXPECT_EQ(bench.host.previewStill().size(), QSize(720, 576));
    bench.player->StartPlayback();
    EXPECT_TRUE(bench.host.previewStill().isNull());
    EXPECT_EQ(bench.player->videoSize(), QSize(360, 288)) << "half size";
    EXPECT_EQ(bench.host.hostText().toStdString(), "holiday.avi [Video] ");
    bench.player->TogglePlayPause();
    EXPECT_EQ(bench.host.hostText().toStdString(), "holiday.avi [Video] (Paused)");
    bench.player->OpenFile("/clips/b.avi");
    EXPECT_EQ(bench.log.graphsMade, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return bench.log.graphsReleased.load() == 1; }, 5000));
    bench.player->OpenFile("/clips/c.avi");
    bench.player.reset();
    EXPECT_EQ(bench.log.graphsReleased.load(), 3) << "none outlives the player";
}

// Each scenario from an opened clip: the graph calls it makes, the player's state and the label.
// A step back pauses and goes 40 ms back, not before 0; a slider drag pauses once and restores the
// graph's state at its end (from playing: the window's slider test); Stop pauses at the start;
// Pause by the graph state leaves the player's.
TEST(PlayerTransport, steps_drags_and_stops_drive_the_graph)
{
    const auto stepBackAt = [](std::int64_t position) {
        return [position](PlayerBench& bench) {
            bench.player->StartPlayback();
            bench.script.position = position;
            bench.player->StepBack();
        };
    };
    const auto dragFrom = [](void (*prepare)(CMoviePlayer&)) {
        return [prepare](PlayerBench& bench) {
            prepare(*bench.player);
            bench.player->SeekToPercent(5, 10);
            EXPECT_FALSE(bench.player->isSeekIdle());
            bench.player->SeekToPercent(5, 20);
            bench.player->SeekToPercent(CMoviePlayer::kSliderEndScroll, 25);
            EXPECT_TRUE(bench.player->isSeekIdle());
        };
    };
    const auto stopWithoutDuration = [](PlayerBench& bench) {
        bench.script.duration = 0;
        bench.player->StartPlayback();
        bench.script.position = 75 * kSecond;
        bench.player->OnPositionTick();
        EXPECT_EQ(bench.slider.value(), 0) << "no duration: the slider stays";
        bench.player->ToggleByGraphState();
        bench.player->ToggleByGraphState();
        EXPECT_EQ(bench.player->state(), PlayerState::Running) << "the player's own state stays";
        bench.player->StopPlayback();
    };
    const std::vector<std::string> dragSeeks = {"Seek 20000000", "Seek 40000000", "Seek 50000000"};
    const struct {
        const char* name;
        std::function<void(PlayerBench&)> act;
        std::vector<std::string> calls;
        PlayerState state;
        const char* label;
    } cases[] = {
        {"step back at 0.02 s", stepBackAt(200000), {"Run", "Pause", "Seek 0"}, PlayerState::Paused, "Position: 00m:00s"},
        {"step back at 5 s", stepBackAt(5 * kSecond), {"Run", "Pause", "Seek 49600000"}, PlayerState::Paused,
         "Position: 00m:04s"},
        {"drag while paused", dragFrom([](CMoviePlayer& p) { p.StartPlayback(); p.TogglePlayPause(); }),
         {"Run", "Pause", "Pause", dragSeeks[0], dragSeeks[1], dragSeeks[2]}, PlayerState::Paused, "Position: 00m:05s"},
        {"drag while stopped", dragFrom([](CMoviePlayer& p) { p.graph()->Stop(); }),
         {"Stop", "Pause", dragSeeks[0], dragSeeks[1], dragSeeks[2], "Stop"}, PlayerState::Idle, "Position: 00m:05s"},
        {"stop, duration unknown", stopWithoutDuration, {"Run", "Pause", "Run", "Pause", "Seek 0"}, PlayerState::Stopped,
         "Position: 01m:15s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PlayerBench bench;
        bench.script.duration = 20 * kSecond;
        bench.player->OpenFile("/clips/a.avi");
        bench.log.calls.clear();
        c.act(bench);
        EXPECT_EQ(bench.log.calls, c.calls);
        EXPECT_EQ(bench.player->state(), c.state);
        EXPECT_EQ(bench.label.text().toStdString(), c.label);
    }
}

TEST(PlayerPosition, shows_each_new_frame_of_a_real_tape_and_a_frame_again_after_a_step_back)
{
    const std::string tape = testsupport::generateTape("player-new-frames.avi", {"--frames", "60", "--system", "ntsc"});
    PlayerBench bench;
    bench.script.duration = 2 * kSecond;
    bench.player->OpenFile(tape);
    ASSERT_TRUE(bench.player->isAnalysing());
    EXPECT_FALSE(bench.player->isPal());
    bench.player->StartPlayback();
    const struct {
        std::int64_t position;
        bool isStepBack;         // 40 ms back from the position
        const char* frameShown;  // nullptr: nothing new
    } ticks[] = {{kSecond, false, "Frame 30 "},          {kSecond + 100000, false, nullptr},
                 {kSecond / 2, false, nullptr},          {kSecond + 400000, false, "Frame 31 "},
                 {kSecond + 400000, true, "Frame 30 "}};  // again, at once
    for (const auto& tick : ticks) {
        bench.panel.firstLines.clear();
        bench.script.position = tick.position;
        if (tick.isStepBack)
            bench.player->StepBack();
        else
            bench.player->OnPositionTick();
        ASSERT_EQ(bench.panel.firstLines.size(), tick.frameShown != nullptr ? 1u : 0u) << tick.position;
        EXPECT_TRUE(tick.frameShown == nullptr || bench.panel.firstLines[0].find(tick.frameShown) != std::string::npos)
            << bench.panel.firstLines[0];
    }
}

}  // namespace
}  // namespace vantrel::player
