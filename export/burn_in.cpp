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

void blendOver(const QImage& overlay, int x, int y, const mediagraph::RawPicture& picture)
{
    const int firstRow = std::max(0, -y);
    const int lastRow = std::min(overlay.height(), picture.height - y);
    const int firstColumn = std::max(0, -x);
    const int lastColumn = std::min(overlay.width(), picture.width - x);
    for (int row = firstRow; row < lastRow; ++row) {
        const auto* source = reinterpret_cast<const QRgb*>(overlay.constScanLine(row));
        auto* target = reinterpret_cast<std::uint8_t*>(picture.bgr) +
                       static_cast<std::ptrdiff_t>(y + row) * picture.strideBytes;
        for (int column = firstColumn; column < lastColumn; ++column) {
            const QRgb pixel = source[column];
            const int alpha = qAlpha(pixel);
            if (alpha == 0) continue;
            std::uint8_t* bgr = target + 3 * (x + column);
            const int keep = 255 - alpha;  // premultiplied: colour + target x (1 - alpha)
            bgr[0] = static_cast<std::uint8_t>(qBlue(pixel) + (bgr[0] * keep + 127) / 255);
            bgr[1] = static_cast<std::uint8_t>(qGreen(pixel) + (bgr[1] * keep + 127) / 255);
            bgr[2] = static_cast<std::uint8_t>(qRed(pixel) + (bgr[2] * keep + 127) / 255);
        }
    }
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
    const int rows = std::min(panel.height(), picture.height);
    const int rowBytes = 3 * std::min(panel.width(), picture.width);
    for (int row = 0; row < rows; ++row) {
        const uchar* source = panel.constScanLine(row);
        auto* target = reinterpret_cast<uchar*>(picture.bgr) + static_cast<std::ptrdiff_t>(row) * picture.strideBytes;
        for (int i = 0; i < rowBytes; ++i) target[i] |= source[i];
    }
}

}  // namespace vantrel::exporting
