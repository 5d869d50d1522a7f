// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the recording date (or the info panel picture) into a decoded frame before it is encoded.
#include "export/burn_in.h"

#include "dv/info_lines.h"
#include "panel/info_panel_picture.h"
#include "pipeline/scene_list.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vantrel::exporting {
namespace {

// A DV frame is 720 pixels wide; the text is sized for it and keeps clear of the overscan
// that a television cuts off (about 5 % at each edge).
constexpr int kTextPixelSize = 26;
constexpr int kLineHeight = 32;
constexpr int kAreaWidth = 220;
constexpr int kMarginX = 40;
constexpr int kMarginY = 32;

}  // namespace

QString DateBurnIn::dateLine(const dv::DVFrameInfo& info)
{
    if (pipeline::recordingTimeOf(info) < 0) return {};
    const std::tm& t = info.tmRecorded;
    return QString::asprintf("%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
}

QString DateBurnIn::timeLine(const dv::DVFrameInfo& info)
{
    if (pipeline::recordingTimeOf(info) < 0) return {};
    const std::tm& t = info.tmRecorded;
    return QString::asprintf("%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
}

QRect DateBurnIn::textArea(int width, int height)
{
    return QRect(width - kMarginX - kAreaWidth, height - kMarginY - 2 * kLineHeight, kAreaWidth, 2 * kLineHeight);
}

QImage DateBurnIn::overlayFor(const QString& date, const QString& time, int width, int height)
{
    const QString key = date + '\n' + time;
    if (key == m_cachedText && !m_cachedOverlay.isNull()) return m_cachedOverlay;
    const QRect area = textArea(width, height);
    QImage overlay(area.size(), QImage::Format_ARGB32_Premultiplied);
    overlay.fill(Qt::transparent);
    QPainter painter(&overlay);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(kTextPixelSize);
    font.setBold(true);
    painter.setFont(font);
    // Right-aligned lines, drawn as outlined paths: readable on a white sky and on a dark room.
    int baseline = kLineHeight - 6;
    for (const QString& line : {date, time}) {
        QPainterPath path;
        const int textWidth = painter.fontMetrics().horizontalAdvance(line);
        path.addText(area.width() - textWidth - 4, baseline, font, line);
        painter.setPen(QPen(QColor(0, 0, 0, 200), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(path);
        painter.fillPath(path, Qt::white);
        baseline += kLineHeight;
    }
    painter.end();
    m_cachedText = key;
    m_cachedOverlay = overlay;
    return overlay;
}

void DateBurnIn::draw(const dv::DVFrameInfo& info, const mediagraph::RawPicture& picture)
{
    const QString date = dateLine(info);
    if (date.isEmpty()) return;
    const QImage overlay = overlayFor(date, timeLine(info), picture.width, picture.height);
    const QRect area = textArea(picture.width, picture.height);
    blendOver(overlay, area.x(), area.y(), picture);
}

namespace {

// BT.601 studio range, in integers: RGB 0..255 to Y 16..235, U and V 16..240, and back.
struct Rgb {
    int r, g, b;
};

int clampByte(int value) noexcept
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

int lumaOf(const Rgb& c) noexcept { return ((66 * c.r + 129 * c.g + 25 * c.b + 128) >> 8) + 16; }
int blueDifferenceOf(const Rgb& c) noexcept { return ((-38 * c.r - 74 * c.g + 112 * c.b + 128) >> 8) + 128; }
int redDifferenceOf(const Rgb& c) noexcept { return ((112 * c.r - 94 * c.g - 18 * c.b + 128) >> 8) + 128; }

Rgb rgbOf(int y, int u, int v) noexcept
{
    const int c = y - 16;
    const int d = u - 128;
    const int e = v - 128;
    return {clampByte((298 * c + 409 * e + 128) >> 8), clampByte((298 * c - 100 * d - 208 * e + 128) >> 8),
            clampByte((298 * c + 516 * d + 128) >> 8)};
}

std::uint8_t* pixelAt(const mediagraph::RawPicture& picture, int plane, int x, int y) noexcept
{
    return reinterpret_cast<std::uint8_t*>(picture.planes[plane]) + static_cast<std::ptrdiff_t>(y) * picture.strideBytes[plane] + x;
}

// Rewrites the 2 x 2 block whose chroma sample is (cx, cy): each of its pixels inside the
// picture and the area [x0, x1) x [y0, y1) goes through `change`, which takes the pixel's
// position and RGB and returns the new RGB; luma is written per pixel, chroma from the mean.
template <class Change>
void rewriteBlock(const mediagraph::RawPicture& picture, int cx, int cy, Change&& change)
{
    std::uint8_t* u = pixelAt(picture, 1, cx, cy);
    std::uint8_t* v = pixelAt(picture, 2, cx, cy);
    Rgb sum{0, 0, 0};
    int count = 0;
    for (int y = 2 * cy; y < std::min(2 * cy + 2, picture.height); ++y) {
        for (int x = 2 * cx; x < std::min(2 * cx + 2, picture.width); ++x) {
            std::uint8_t* luma = pixelAt(picture, 0, x, y);
            const Rgb after = change(x, y, rgbOf(*luma, *u, *v));
            *luma = static_cast<std::uint8_t>(std::clamp(lumaOf(after), 16, 235));
            sum = {sum.r + after.r, sum.g + after.g, sum.b + after.b};
            ++count;
        }
    }
    if (count == 0) return;
    const Rgb mean{sum.r / count, sum.g / count, sum.b / count};
    *u = static_cast<std::uint8_t>(std::clamp(blueDifferenceOf(mean), 16, 240));
    *v = static_cast<std::uint8_t>(std::clamp(redDifferenceOf(mean), 16, 240));
}

// Calls `change` on every pixel of the blocks that meet the rectangle, clipped to the picture.
template <class Change>
void rewriteArea(const mediagraph::RawPicture& picture, QRect area, Change&& change)
{
    area = area.intersected(QRect(0, 0, picture.width, picture.height));
    if (area.isEmpty()) return;
    for (int cy = area.top() / 2; cy <= area.bottom() / 2; ++cy) {
        for (int cx = area.left() / 2; cx <= area.right() / 2; ++cx) rewriteBlock(picture, cx, cy, change);
    }
}

}  // namespace

void blendOver(const QImage& overlay, int x, int y, const mediagraph::RawPicture& picture)
{
    rewriteArea(picture, QRect(x, y, overlay.width(), overlay.height()), [&](int px, int py, Rgb below) {
        const QPoint at(px - x, py - y);
        if (!overlay.rect().contains(at)) return below;
        const QRgb pixel = reinterpret_cast<const QRgb*>(overlay.constScanLine(at.y()))[at.x()];
        const int keep = 255 - qAlpha(pixel);  // premultiplied: colour + what is below x (1 - alpha)
        return Rgb{qRed(pixel) + (below.r * keep + 127) / 255, qGreen(pixel) + (below.g * keep + 127) / 255,
                   qBlue(pixel) + (below.b * keep + 127) / 255};
    });
}

struct PanelBurnIn::State {
    panel::InfoPanelPicture picture{PanelBurnIn::panelSize()};
    dv::InfoLineFormatter formatter{&picture};
};

PanelBurnIn::PanelBurnIn() : m_state(std::make_unique<State>()) {}
PanelBurnIn::~PanelBurnIn() = default;

QSize PanelBurnIn::panelSize()
{
    return QSize(360, 124);  // dialog units x 1.5 and x 1.625
}

void PanelBurnIn::draw(const dv::DVFrameInfo& info, std::size_t frameIndex, const mediagraph::RawPicture& picture)
{
    m_state->formatter.ShowFrameInfo(info, static_cast<long>(frameIndex));
    orInto(m_state->picture.picture(), picture);
}

void orInto(const QImage& panel, const mediagraph::RawPicture& picture)
{
    // Only blocks with a lit panel pixel change: OR with black leaves a pixel as it is.
    const QImage lit = panel.convertToFormat(QImage::Format_RGB32);
    const auto at = [&](int x, int y) { return reinterpret_cast<const QRgb*>(lit.constScanLine(y))[x] & 0xFFFFFF; };
    const int blockRows = (std::min(panel.height(), picture.height) + 1) / 2;
    const int blockColumns = (std::min(panel.width(), picture.width) + 1) / 2;
    const auto orPixel = [&](int x, int y, Rgb below) {
        if (!lit.rect().contains(x, y)) return below;
        const QRgb p = at(x, y);
        return Rgb{below.r | qRed(p), below.g | qGreen(p), below.b | qBlue(p)};
    };
    for (int cy = 0; cy < blockRows; ++cy) {
        for (int cx = 0; cx < blockColumns; ++cx) {
            bool isLit = false;
            for (int y = 2 * cy; y < std::min(2 * cy + 2, panel.height()); ++y)
                for (int x = 2 * cx; x < std::min(2 * cx + 2, panel.width()); ++x)
                    isLit = isLit || at(x, y) != 0;
            if (isLit) rewriteBlock(picture, cx, cy, orPixel);
        }
    }
}

}  // namespace vantrel::exporting
