// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel picture: the four lines of the shown frame, drawn from any thread, shown by the GUI thread.
#include "panel/info_panel_picture.h"

#include <QFont>
#include <QPainter>

namespace vantrel::panel {

QFont infoPanelFont()
{
    // A fixed pixel size: the lines fit their 20-pixel rows on every screen and in every bitmap, and
    // the longest first line (a five-digit frame number, shutter 1/10000) fits its 350 pixels.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    return font;
}

void DrawInfoLines(QPainter& painter, const dv::InfoLines& lines)
{
    const char* const texts[4] = {lines.line1, lines.line2, lines.line3, lines.timeCode};
    painter.save();
    painter.setFont(infoPanelFont());
    painter.setPen(QColor::fromRgb(kPanelText));
    painter.setBackgroundMode(Qt::TransparentMode);
    for (int i = 0; i < 4; ++i) {
        // Latin-1: the texts are the camcorder's ASCII plus the decoders' fixed words.
        const QString text = QString::fromLatin1(texts[i], static_cast<qsizetype>(qstrnlen(texts[i], 256)));
        painter.drawText(kInfoLineRects[i], Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);  // clipped to the rectangle
    }
    painter.restore();
}

InfoPanelPicture::InfoPanelPicture(QSize panelSize, QObject* parent)
    : QObject(parent), m_size(panelSize), m_picture(panelSize, QImage::Format_BGR888)
{
    m_picture.fill(QColor::fromRgb(kPanelBackground));
}

void InfoPanelPicture::drawInfoLines(const dv::InfoLines& lines)
{
    {
        std::lock_guard lock(m_mutex);
        QPainter painter(&m_picture);
        painter.fillRect(QRect(QPoint(0, 0), m_size), QColor::fromRgb(kPanelBackground));
        painter.setClipRect(QRect(QPoint(0, 0), m_size));
        DrawInfoLines(painter, lines);
    }
    emit changed();
}

QImage InfoPanelPicture::picture() const
{
    std::lock_guard lock(m_mutex);
    return m_picture.copy();
}

}  // namespace vantrel::panel
