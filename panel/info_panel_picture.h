// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel picture: the four lines of the shown frame, drawn from any thread, shown by the GUI thread.
#pragma once

#include "dv/info_lines.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QSize>

#include <mutex>

class QFont;
class QPainter;

namespace vantrel::panel {

// The panel's colours: yellow text on black.
inline constexpr QRgb kPanelBackground = 0xff000000;
inline constexpr QRgb kPanelText = 0xffffff00;

// The rectangle of each line in panel pixels (left, top, width, height): date, frame number and
// shutter; iris and exposure; white balance, gain and focus; time code.
inline constexpr QRect kInfoLineRects[4] = {
    QRect(0, 10, 350, 20),
    QRect(0, 40, 350, 20),
    QRect(0, 70, 350, 20),
    QRect(0, 100, 350, 20),
};

// The panel's font, the same for the screen, the grabbed bitmaps and the burnt-in exports.
QFont infoPanelFont();

// Draws the four lines in yellow at their rectangles, each left- and top-aligned on one line and
// clipped to its rectangle; only the glyphs are painted. The painter's clipping is kept.
void DrawInfoLines(QPainter& painter, const dv::InfoLines& lines);

// g_hInfoBitmap: a 24-bit picture the size of the panel, bytes blue, green, red per pixel (the
// order of a bitmap file's rows), black until the first lines are drawn, then always the last
// panel drawn. Drawing may happen on any thread (the player on the GUI thread, the capture worker
// on its own); each drawing is whole under the picture's lock, and `changed` is emitted after it,
// so a widget connected to it repaints on the GUI thread (queued across threads).
class InfoPanelPicture : public QObject, public dv::IInfoPanel {
    Q_OBJECT
public:
    explicit InfoPanelPicture(QSize panelSize, QObject* parent = nullptr);

    QSize size() const noexcept { return m_size; }

    // Fills the picture black and draws the lines; any thread.
    void drawInfoLines(const dv::InfoLines& lines) override;

    // A copy of the last panel drawn (Format_BGR888); any thread.
    QImage picture() const;

signals:
    void changed();

private:
    const QSize m_size;
    mutable std::mutex m_mutex;  // guards m_picture: writers on any thread, readers on any thread
    QImage m_picture;
};

}  // namespace vantrel::panel
