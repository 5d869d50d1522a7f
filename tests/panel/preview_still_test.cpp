// SPDX-License-Identifier: GPL-3.0-or-later
// The preview still in the video area: a 720 x 576 source rectangle drawn at half size.
#include "panel/preview_still.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace vantrel::panel {
namespace {

constexpr QRgb kRed = 0xffff0000, kBlue = 0xff0000ff, kGreen = 0xff00ff00, kGrey = 0xff808080;

QImage twoHalves(int height, QRgb left, QRgb right)
{
    QImage still(720, height, QImage::Format_BGR888);
    QPainter painter(&still);
    painter.fillRect(0, 0, 360, height, QColor::fromRgb(left));
    painter.fillRect(360, 0, 360, height, QColor::fromRgb(right));
    return still;
}

QImage drawnVideoArea(const QImage& still)
{
    QImage area(360, 293, QImage::Format_RGB32);
    area.fill(kGrey);
    QPainter painter(&area);
    DrawPreviewStill(painter, still);
    return area;
}

TEST(PreviewStill, is_drawn_half_size_from_a_720_by_576_rectangle)
{
    const struct {
        const char* name;
        QImage still;
        QPoint at;
        QRgb expected;
    } cases[] = {
        {"PAL, right half at the bottom", twoHalves(576, kRed, kBlue), {350, 280}, kBlue},
        {"PAL, below the 288 rows", twoHalves(576, kRed, kBlue), {10, 290}, kGrey},
        {"PAL, left of the middle", twoHalves(576, kRed, kBlue), {176, 100}, kRed},
        {"PAL, right of the middle", twoHalves(576, kRed, kBlue), {184, 100}, kBlue},
        {"NTSC, upper rows", twoHalves(480, kGreen, kGreen), {10, 230}, kGreen},
        {"NTSC, rows the picture does not reach", twoHalves(480, kGreen, kGreen), {10, 250}, kGrey},
        {"no still", QImage(), {100, 100}, kGrey},
    };
    for (const auto& c : cases)
        EXPECT_EQ(drawnVideoArea(c.still).pixel(c.at) & 0xffffff, c.expected & 0xffffff) << c.name;
}

}  // namespace
}  // namespace vantrel::panel
