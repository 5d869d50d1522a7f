// SPDX-License-Identifier: GPL-3.0-or-later
// The video area: the player's host, showing the preview still, the playing video or the host text.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

namespace vantrel::player {

class VideoArea : public QWidget {
    Q_OBJECT
public:
    explicit VideoArea(QWidget* parent = nullptr);

    // Shown where no video covers the area.
    void setHostText(const QString& text);
    QString hostText() const { return m_hostText; }

    // g_hPreviewStill: drawn stretched (720 x 576 source, half size) until playback starts.
    void setPreviewStill(const QImage& still);
    const QImage& previewStill() const noexcept { return m_previewStill; }

    // Where the video is drawn, and where its pictures come from (no source: no video).
    void setVideo(QRect rect, std::function<QImage()> pictureSource);
    void hideVideo();
    bool isVideoVisible() const noexcept { return static_cast<bool>(m_pictureSource); }
    QRect videoRect() const noexcept { return m_videoRect; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_hostText;
    QImage m_previewStill;
    QRect m_videoRect;
    std::function<QImage()> m_pictureSource;
};

}  // namespace vantrel::player
