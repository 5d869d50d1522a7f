// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel picture: yellow glyphs on black at the four line rectangles, clipped, drawn from any thread.
#include "panel/info_panel_picture.h"

#include <QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace vantrel::panel {
namespace {

dv::InfoLines makeLines(const std::string& l1, const std::string& l2, const std::string& l3, const std::string& tc)
{
    dv::InfoLines lines{};
    std::strncpy(lines.line1, l1.c_str(), sizeof lines.line1 - 1);
    std::strncpy(lines.line2, l2.c_str(), sizeof lines.line2 - 1);
    std::strncpy(lines.line3, l3.c_str(), sizeof lines.line3 - 1);
    std::strncpy(lines.timeCode, tc.c_str(), sizeof lines.timeCode - 1);
    return lines;
}

const dv::InfoLines kTypicalLines = makeLines("05.03.2004 14:07:09 Frame 1234 Shutter 1/50 sec",
                                              "2.000F Exposition Manual ",
                                              "White balance auto  Gain 9 dB  Focus auto  ",
                                              "TimeCode 00:12:31   04");

bool isBlack(QRgb pixel) { return (pixel & 0xffffff) == 0; }

// Glyph pixels are yellow: red equals green (anti-aliased edges are darker), no blue.
bool isYellowShade(QRgb pixel) { return qRed(pixel) == qGreen(pixel) && qBlue(pixel) == 0; }

int lineRectangleOf(QPoint point)
{
    for (int i = 0; i < 4; ++i)
        if (kInfoLineRects[i].contains(point)) return i;
    return -1;
}

// Black before any drawing; then yellow glyphs only inside the four line rectangles and the panel,
// stored blue, green, red as bitmap rows are (the blue byte first, 0 under yellow text): a long line
// is cut at its rectangle or at the panel's edge. A new drawing replaces the whole panel: only the
// "1" of the first line is left.
TEST(InfoPanelPicture, draws_yellow_glyphs_bgr_only_inside_the_line_rectangles_and_replaces_them_whole)
{
    const std::string longText(120, 'W');
    const dv::InfoLines longLines = makeLines(longText, longText, longText, longText);
    const struct {
        const char* name;
        int panelWidth;
        const dv::InfoLines& lines;
        int firstColumnWithoutText;  // nothing at or right of it
        int lastColumnsWithText;     // some text in [this, firstColumnWithoutText)
    } cases[] = {
        {"typical lines", 360, kTypicalLines, 360, 0},
        {"wider panel: cut at the rectangle", 500, longLines, 350, 340},
        {"narrower panel: cut at its edge", 200, longLines, 200, 190},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InfoPanelPicture panel(QSize(c.panelWidth, 124));
        QImage black(c.panelWidth, 124, QImage::Format_BGR888);
        black.fill(Qt::black);
        EXPECT_EQ(panel.picture(), black);
        panel.drawInfoLines(c.lines);
        const QImage picture = panel.picture();
        int fullYellowPerLine[4] = {};
        int rightmost = -1;
        for (int y = 0; y < picture.height(); ++y) {
            const uchar* row = picture.constScanLine(y);
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb pixel = picture.pixel(x, y);
                if (isBlack(pixel)) continue;
                const int line = lineRectangleOf({x, y});
                ASSERT_GE(line, 0) << "text outside the line rectangles at " << x << "," << y;
                ASSERT_LT(x, c.firstColumnWithoutText) << x << "," << y;
                ASSERT_TRUE(isYellowShade(pixel)) << std::hex << pixel << " at " << std::dec << x << "," << y;
                ASSERT_EQ(row[3 * x], 0) << "blue byte first at " << x << "," << y;
                if ((pixel & 0xffffff) == 0xffff00) ++fullYellowPerLine[line];
                rightmost = std::max(rightmost, x);
            }
        }
        for (int line = 0; line < 4; ++line) EXPECT_GT(fullYellowPerLine[line], 10) << "line " << line;
        EXPECT_GE(rightmost, c.lastColumnsWithText);
        panel.drawInfoLines(makeLines("1", "", "", ""));
        const QImage replaced = panel.picture();
        for (int y = 0; y < replaced.height(); ++y) {
            for (int x = 0; x < replaced.width(); ++x) {
                const bool isInTheOne = x < 20 && y >= 10 && y < 30;
                ASSERT_TRUE(isInTheOne || isBlack(replaced.pixel(x, y))) << x << "," << y;
            }
        }
    }
}

// Drawings from two worker threads: a reader never sees a torn panel, and the change is announced
// on the GUI thread.
TEST(InfoPanelPicture, a_reader_sees_whole_panels_while_two_threads_draw_and_the_gui_thread_hears_of_it)
{
    const dv::InfoLines other = makeLines("No recording date ! Frame 7 Shutter 1/-1 sec", "0.000F Exposition No data recorded ",
                                          "White balance No data recorded  Gain 0 dB  Focus No data recorded  ", "");
    InfoPanelPicture referenceA(QSize(360, 124));
    referenceA.drawInfoLines(kTypicalLines);
    InfoPanelPicture referenceB(QSize(360, 124));
    referenceB.drawInfoLines(other);
    const QImage pictureA = referenceA.picture();
    const QImage pictureB = referenceB.picture();
    ASSERT_NE(pictureA, pictureB);

    InfoPanelPicture panel(QSize(360, 124));
    panel.drawInfoLines(kTypicalLines);
    QObject receiver;  // lives on the GUI thread
    std::atomic<QThread*> receivingThread{nullptr};
    QObject::connect(&panel, &InfoPanelPicture::changed, &receiver, [&] { receivingThread = QThread::currentThread(); });
    std::atomic<bool> isDone{false};
    std::thread playerSide([&] {
        for (int i = 0; i < 150; ++i) panel.drawInfoLines(kTypicalLines);
    });
    std::thread captureSide([&] {
        for (int i = 0; i < 150; ++i) panel.drawInfoLines(other);
        isDone = true;
    });
    int reads = 0;
    while (!isDone || reads < 10) {
        const QImage seen = panel.picture();
        ASSERT_TRUE(seen == pictureA || seen == pictureB) << "torn panel at read " << reads;
        ++reads;
    }
    playerSide.join();
    captureSide.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return receivingThread.load() != nullptr; }, 5000));
    EXPECT_EQ(receivingThread.load(), QThread::currentThread());
}

}  // namespace
}  // namespace vantrel::panel
