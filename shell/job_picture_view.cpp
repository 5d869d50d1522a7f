// SPDX-License-Identifier: GPL-3.0-or-later
// JobPictureView: copies each preview picture on the preview's thread, paints it on the GUI thread.
#include "shell/job_picture_view.h"

#include <QPainter>
#include <QResizeEvent>

namespace vantrel::shell {

JobPictureView::JobPictureView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // It covers its parent; a hidden widget hears of its size only when first shown, so the
    // preview is told the size from here on.
    setGeometry(parent->rect());
    m_width = static_cast<std::uint32_t>(parent->width());
    m_height = static_cast<std::uint32_t>(parent->height());
}

void JobPictureView::GetClientSize(std::uint32_t* width, std::uint32_t* height) const
{
    *width = m_width.load(std::memory_order_relaxed);
    *height = m_height.load(std::memory_order_relaxed);
}

void JobPictureView::ShowPreviewPicture(const pipeline::PreviewPicture& picture, const pipeline::PreviewRect& videoRect)
{
    if (picture.width <= 0 || picture.height <= 0 || picture.strideBytes < picture.width * 3 ||
        picture.bgr.size() < static_cast<std::size_t>(picture.strideBytes) * static_cast<std::size_t>(picture.height))
        return;  // a picture that does not fit its own description is not shown
    // The bytes are valid only during this call: the copy is taken here.
    const QImage copy = QImage(reinterpret_cast<const uchar*>(picture.bgr.data()), picture.width, picture.height,
                               picture.strideBytes, QImage::Format_BGR888)
                            .copy();
    {
        std::lock_guard lock(m_mutex);
        m_picture = copy;
        m_place = videoRect;
    }
    m_pictureCount.fetch_add(1, std::memory_order_relaxed);
    QMetaObject::invokeMethod(
        this,
        [this] {
            update();
            emit pictureShown();
        },
        Qt::QueuedConnection);
}

QImage JobPictureView::lastPicture() const
{
    std::lock_guard lock(m_mutex);
    return m_picture;
}

pipeline::PreviewRect JobPictureView::lastPlace() const
{
    std::lock_guard lock(m_mutex);
    return m_place;
}

void JobPictureView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    std::lock_guard lock(m_mutex);
    if (m_picture.isNull()) return;
    // The place the preview chose for the last size it was told; laid out again when the view has
    // been resized since.
    const pipeline::PreviewRect place = pipeline::PreviewLayout(static_cast<std::uint32_t>(width()),
                                                          static_cast<std::uint32_t>(height()));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(place.x, place.y, place.width, place.height), m_picture);
}

void JobPictureView::resizeEvent(QResizeEvent* event)
{
    m_width = static_cast<std::uint32_t>(event->size().width());
    m_height = static_cast<std::uint32_t>(event->size().height());
    QWidget::resizeEvent(event);
    emit resized();
}

}  // namespace vantrel::shell
