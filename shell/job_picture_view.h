// SPDX-License-Identifier: GPL-3.0-or-later
// JobPictureView: the job window's face on the video area. The preview's threads hand it each
// decoded picture; it keeps a copy and repaints on the GUI thread, the picture at 4:3 in the middle.
#pragma once

#include "pipeline/preview_picture_sink.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace vantrel::shell {

class JobPictureView : public QWidget, public pipeline::IPreviewOwner {
    Q_OBJECT
public:
    // Covers the whole of parent.
    explicit JobPictureView(QWidget* parent);

    void GetClientSize(std::uint32_t* width, std::uint32_t* height) const override;
    void ShowPreviewPicture(const pipeline::PreviewPicture& picture, const pipeline::PreviewRect& videoRect) override;

    // The last picture shown and where it was placed (a null image before any).
    QImage lastPicture() const;
    pipeline::PreviewRect lastPlace() const;
    // Pictures received since the view was made.
    std::uint64_t pictureCount() const noexcept { return m_pictureCount.load(std::memory_order_relaxed); }

signals:
    // A new picture arrived (emitted on the GUI thread).
    void pictureShown();
    // The view has a new size: the preview lays its picture out again.
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::atomic<std::uint32_t> m_width{0};
    std::atomic<std::uint32_t> m_height{0};
    std::atomic<std::uint64_t> m_pictureCount{0};
    mutable std::mutex m_mutex;
    QImage m_picture;
    pipeline::PreviewRect m_place;
};

}  // namespace vantrel::shell
