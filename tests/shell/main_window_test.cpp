// SPDX-License-Identifier: GPL-3.0-or-later
// The main window offscreen, on a fake graph: places, toolbar states, status bar, bitmap dialog, choosers.
#include "panel/info_panel_picture.h"
#include "player/movie_player.h"
#include "player/video_area.h"
#include "shell/about_box.h"
#include "shell/window_bench.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QSlider>

#include <gtest/gtest.h>

namespace vantrel::shell {
namespace {

using testing::WindowBench;

TEST(MainWindow, places_the_controls_names_itself_and_enables_the_toolbar_by_the_transport)
{
    WindowBench bench;
    EXPECT_EQ(bench.window->size(), QSize(731, 570));
    EXPECT_EQ(bench.window->windowTitle(), QStringLiteral("Vantrel ver. 2.0"));
    EXPECT_FALSE(bench.window->windowIcon().pixmap(32, 32).isNull());
    EXPECT_FALSE(QIcon(QStringLiteral(":/icons/vantrel.svg")).pixmap(32, 32).isNull()) << "the SVG icon is built in";
    const struct {
        int id;
        QRect pixels;
    } cases[] = {
        {2, {0, 523, 729, 26}},        // Exit: 0, 322, 486, 16
        {1000, {0, 206, 360, 293}},    // video area: 0, 127, 240, 180
        {1002, {369, 67, 189, 39}},    // position label: 246, 41, 126, 24
        {1006, {608, 505, 45, 16}},    // 16:9: 405, 311, 30, 10
        {1013, {431, 504, 156, 16}},   // auto control: 287, 310, 104, 10
        {1024, {455, 426, 53, 16}},    // Player: 303, 262, 35, 10
        {1028, {461, 471, 183, 20}},   // devices: 307, 290, 122, 12
    };
    for (const auto& c : cases) {
        const auto* control = bench.window->findChild<QWidget*>(QStringLiteral("control%1").arg(c.id));
        EXPECT_EQ(control ? control->geometry() : QRect(), c.pixels) << c.id;
    }
    EXPECT_EQ(bench.window->infoPanel()->size(), QSize(360, 124)) << "the panel control 1, 40, 240, 76";
    const int statusEdges[] = {243, 487, 731};  // thirds of the width
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(bench.window->statusBar()->part(part)->geometry().right() + 1, statusEdges[part]) << part;
    EXPECT_EQ(bench.part(0), QStringLiteral("Ready"));
    EXPECT_EQ(bench.part(1), QStringLiteral("Current working mode : PLAYER"));
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Vantrel"));
    QStringList texts;
    for (const QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Vantrel Version 2.0"))) << texts.join(u'|').toStdString();

    // The toolbar by the transport. Columns: Open, Play, Pause, Stop, rewind, step back, step
    // forward, fast forward, capture bitmap.
    EXPECT_EQ(bench.buttons(), "100000000") << "at start";
    bench.waitForPlayer();
    const struct {
        int command;
        const char* enabled;
        TransportState transport;
    } steps[] = {
        {command::kOpen, "110000000", TRANSPORT_OPENED},
        {command::kPlay, "001100000", TRANSPORT_PLAYING},
        {command::kPause, "001100001", TRANSPORT_PAUSED},
        {command::kPause, "001100001", TRANSPORT_PAUSED},  // the second pause resumes; the buttons stay
        {command::kStop, "100000000", TRANSPORT_IDLE},
    };
    for (const auto& step : steps) {
        bench.command(step.command);
        EXPECT_EQ(bench.buttons(), step.enabled) << step.command;
        EXPECT_EQ(bench.window->transport(), step.transport) << step.command;
    }
}

TEST(MainWindow, enables_the_toolbar_by_the_job_state_in_the_job_modes)
{
    const struct {
        std::int32_t jobState;
        bool hasName;
        const char* enabled;  // '-' left alone
    } cases[] = {
        {0, false, "-00000000"}, {0, true, "-10000000"}, {1, false, "-10011110"}, {3, false, "-10011110"},
        {2, true, "-01100000"},  {4, false, "-01100000"}, {5, false, "-10000000"}, {6, true, "---------"},
        {-1, true, "---------"},
    };
    for (const auto& c : cases) {
        for (const WorkingMode mode : {MODE_CAPTURE, MODE_PRINT_TO_TAPE}) {
            const ToolbarEnables enables = toolbarEnables(mode, TRANSPORT_PLAYING, c.jobState, c.hasName);
            std::string flags;
            for (const auto& e : enables) flags += e ? (*e ? '1' : '0') : '-';
            EXPECT_EQ(flags, c.enabled) << "job state " << c.jobState;
        }
    }
}

TEST(MainWindow, writes_a_grabbed_bitmap_only_to_a_confirmed_name_with_one_bmp)
{
    const struct {
        const char* name;
        std::optional<QStringList> chosen;
        std::optional<QString> grabError;
        const char* bitmap;   // nullptr: nothing grabbed
        const char* message;  // nullptr: none
    } cases[] = {
        {"cancelled", std::nullopt, std::nullopt, nullptr, nullptr},
        {"plain name", QStringList{"/tmp/still"}, std::nullopt, "/tmp/still.bmp", nullptr},
        {"name with .BMP", QStringList{"/tmp/still.BMP"}, std::nullopt, "/tmp/still.BMP", nullptr},
        {"unwritable", QStringList{"/proc/still"}, QStringLiteral("Permission denied"), "/proc/still.bmp",
         "The bitmap /proc/still.bmp was not written: Permission denied"},
    };
    for (const auto& c : cases) {
        WindowBench bench;
        bench.waitForPlayer();
        bench.command(command::kOpen);
        bench.command(command::kPlay);
        bench.script.position = 12345678;
        bench.chosen = c.chosen;
        bench.grabError = c.grabError;
        bench.command(command::kCaptureBitmap);
        SCOPED_TRACE(c.name);
        const std::vector<std::string> none, grab = {std::string("/clips/a.avi @12345678 ") + (c.bitmap ? c.bitmap : "")};
        EXPECT_EQ(bench.grabs, c.bitmap ? grab : none);
        EXPECT_EQ(bench.messages, c.message ? std::vector<std::string>{c.message} : none);
    }
}

// A dropped file opens in the player; the 16:9 box follows clicks before and after the player
// exists; a slider drag while playing pauses, seeks and plays again on release.
TEST(MainWindow, opens_a_dropped_file_and_passes_wide_box_and_slider_drags_to_the_player)
{
    WindowBench bench;
    bench.script.duration = 400000000;
    bench.window->wideBox()->click();
    EXPECT_TRUE(bench.window->isWide());
    bench.waitForPlayer();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/clips/Dropped.avi"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(bench.window.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(bench.window.get(), &drop);
    EXPECT_EQ(bench.log.graphsMade, 1);
    EXPECT_EQ(bench.window->player()->grabPath(), "/clips/Dropped.avi");
    EXPECT_EQ(bench.window->transport(), TRANSPORT_OPENED);
    EXPECT_EQ(bench.buttons(), "110000000");

    bench.command(command::kPlay);
    bench.window->wideBox()->click();
    EXPECT_FALSE(bench.window->isWide());
    bench.window->wideBox()->click();
    EXPECT_EQ(bench.window->videoArea()->videoRect(), QRect(0, 36, 360, 252));

    QSlider* slider = bench.window->slider();
    bench.log.calls.clear();
    slider->setSliderDown(true);
    slider->setSliderPosition(40);  // a drag: the thumb moves
    EXPECT_FALSE(bench.window->player()->isSeekIdle());
    slider->setSliderDown(false);  // released
    EXPECT_EQ(bench.log.calls, (std::vector<std::string>{"Pause", "Seek 160000000", "Seek 160000000", "Run"}));
    EXPECT_TRUE(bench.window->player()->isSeekIdle());
}

// A cancelled dialog leaves the name or list as it was (the print test sees the list joined).
TEST(FileChoosers, keep_the_result_when_cancelled)
{
    FileDialogs dialogs;
    dialogs.choose = [](FileDialogKind, const QString&) { return std::optional<QStringList>(); };
    for (const bool isOpen : {true, false}) {
        QString result = QStringLiteral("previous");
        ChooseFiles(dialogs, isOpen, result, QStringLiteral("*.avi (*.avi)"));
        EXPECT_EQ(result, QStringLiteral("previous")) << isOpen;
    }
}

}  // namespace
}  // namespace vantrel::shell
