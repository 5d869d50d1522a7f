// SPDX-License-Identifier: GPL-3.0-or-later
// The whole window on a real display (Xvfb): generated tapes play, and the panel on the screen
// carries the probe's four lines for the frame the player reached.
#include "panel/info_panel_picture.h"
#include "player/movie_player.h"
#include "player/player_texts.h"
#include "player/video_area.h"
#include "shell/main_dialog_template.h"
#include "shell/main_window.h"
#include "support/run_tool.h"
#include "support/test_files.h"

#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cstring>

namespace vantrel::shell {
namespace {

// The probe's reading of one frame, as the panel's four lines.
std::optional<dv::InfoLines> probeLines(const std::string& tape, long frame)
{
    const testsupport::ToolResult probe = testsupport::runTool({VANTREL_PROBE_PATH, tape});
    for (const std::string& line : testsupport::splitLines(probe.out)) {
        const std::vector<std::string> fields = testsupport::splitFields(line, '\t');
        if (fields.size() != 5 || fields[0] != std::to_string(frame)) continue;
        dv::InfoLines lines{};
        std::strncpy(lines.line1, fields[1].c_str(), sizeof lines.line1 - 1);
        std::strncpy(lines.line2, fields[2].c_str(), sizeof lines.line2 - 1);
        std::strncpy(lines.line3, fields[3].c_str(), sizeof lines.line3 - 1);
        std::strncpy(lines.timeCode, fields[4].c_str(), sizeof lines.timeCode - 1);
        return lines;
    }
    return std::nullopt;
}

// Opened, a file shows its first frame as the still: the white ball of the generated picture at
// half size, nothing below it. Played and paused, the panel on the screen carries the probe's
// lines for the frame reached.
TEST(Screenshot, the_still_and_then_the_panel_on_screen_show_the_frames_reached)
{
    const struct {
        const char* name;
        std::vector<std::string> options;
        int pictureRows;  // rows of the video area the still covers
    } cases[] = {
        {"pal-avi", {"--system", "pal", "--camera", "40:iris=10,ae=1,gain=5,wb=2"}, 288},
        {"ntsc-avi", {"--system", "ntsc", "--type", "1", "--shutter", "30:120"}, 240},
        {"pal-raw", {"--system", "pal", "--format", "dv", "--jump", "30:+3600"}, 288},
        {"ntsc-raw", {"--system", "ntsc", "--format", "dv", "--no-camera", "20-80"}, 240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--frames", "150", "--pattern", "ball"});
        const std::string extension = std::find(options.begin(), options.end(), "dv") != options.end() ? ".dv" : ".avi";
        const std::string tape = testsupport::generateTape(std::string("screenshot-") + c.name + extension, options);

        CMainDlg window(standardShellServices());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.player() != nullptr; }, 10000));
        QSignalSpy shown(window.player(), &player::CMoviePlayer::previewStillShown);
        window.openWhenReady(QString::fromStdString(tape), false);
        ASSERT_TRUE(shown.wait(10000));
        const QImage area = window.grab(templateControl(control::kVideoArea).pixels()).toImage();
        int brightInPicture = 0, brightBelow = 0;
        for (int y = 0; y < area.height(); ++y)
            for (int x = 0; x < area.width(); ++x)
                if (qGray(area.pixel(x, y)) > 200) ++(y < c.pictureRows ? brightInPicture : brightBelow);
        EXPECT_GT(brightInPicture, 50) << "the ball of frame 0";
        EXPECT_EQ(brightBelow, 0) << "nothing below the still";
        ASSERT_TRUE(window.player()->isAnalysing()) << "the file opened for analysis";

        window.onCommand(command::kPlay);
        EXPECT_TRUE(window.videoArea()->previewStill().isNull()) << "playing drops the still";
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.player()->lastFrameShown() >= 45; }, 30000))
            << "playing reached frame " << window.player()->lastFrameShown();
        window.onCommand(command::kPause);
        player::IPlaybackGraph* graph = window.player()->graph();
        ASSERT_TRUE(QTest::qWaitFor([&] { return graph->GetState(std::chrono::milliseconds(0)) == player::GraphRunState::Paused; }, 10000));
        // A tick after the pause shows the frame at the paused position.
        const std::optional<std::int64_t> position = graph->GetPosition();
        ASSERT_TRUE(position.has_value());
        const long frame = player::frameNumberOfPosition(*position, window.player()->isPal());
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.player()->lastFrameShown() == frame; }, 5000))
            << window.player()->lastFrameShown() << " instead of " << frame;

        const std::optional<dv::InfoLines> expected = probeLines(tape, frame);
        ASSERT_TRUE(expected.has_value()) << "the probe has frame " << frame;
        panel::InfoPanelPicture reference(window.infoPanel()->size());
        reference.drawInfoLines(*expected);
        EXPECT_EQ(window.infoPanel()->picture(), reference.picture()) << "panel picture of frame " << frame
                                                                     << ", the probe reads: " << expected->line1;
        const QRect panelPlace = templateControl(control::kInfoPanel).pixels();
        const auto panelOnScreen = [&] { return window.grab(panelPlace).toImage().convertToFormat(QImage::Format_BGR888); };
        ASSERT_TRUE(QTest::qWaitFor([&] { return panelOnScreen() == reference.picture(); }, 5000))
            << "the screen shows the panel of frame " << frame;

        const std::string shot = testsupport::testPath(std::string("screenshot-") + c.name + ".png").string();
        EXPECT_TRUE(window.grab().save(QString::fromStdString(shot), "PNG"));
        std::printf("screenshot of %s at frame %ld: %s\n", c.name, frame, shot.c_str());
    }
}

}  // namespace
}  // namespace vantrel::shell
