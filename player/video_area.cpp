// SPDX-License-Identifier: GPL-3.0-or-later
// The video area: the player's host, showing the preview still, the playing video or the host text.
#include "player/video_area.h"

#include "panel/preview_still.h"

#include <QPainter>

namespace vantrel::player {

VideoArea::VideoArea(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void VideoArea::setHostText(const QString& text)
{
    if (text == m_hostText)
        return;
    m_hostText = text;
    update();
}

void VideoArea::setPreviewStill(const QImage& still)
{
    m_previewStill = still;
    update();
}

void VideoArea::setVideo(QRect rect, std::function<QImage()> pictureSource)
{
    m_videoRect = rect;
    m_pictureSource = std::move(pictureSource);
    update();
}

void VideoArea::hideVideo()
{
    m_pictureSource = nullptr;
    update();
}

void VideoArea::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_previewStill.isNull()) {
        panel::DrawPreviewStill(painter, m_previewStill);
        return;
    }
    if (m_pictureSource) {
        const QImage picture = m_pictureSource();
        if (!picture.isNull()) {
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(QRectF(m_videoRect), picture);
            return;
        }
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_hostText);
}

}  // namespace vantrel::player
