// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the recording date (or the info panel picture) into a decoded frame before it is encoded.
#pragma once

#include "dv/dv_frame_info.h"
#include "mediagraph/export_graph.h"

#include <QImage>
#include <QString>

#include <cstddef>
#include <memory>

namespace vantrel::exporting {

enum class BurnIn { Unknown, None, Panel, Date };

// The date and time in the lower right corner as a camcorder's display shows them: two lines,
// white with a dark outline. The picture of each text is made once and laid over every frame
// that shows it, so a second of frames costs one text drawing.
class DateBurnIn {
public:
    // The text lines a frame shows; empty without a recording date.
    static QString dateLine(const dv::DVFrameInfo& info);
    static QString timeLine(const dv::DVFrameInfo& info);

    void draw(const dv::DVFrameInfo& info, const mediagraph::RawPicture& picture);

    // Where the text block lies in a picture of the given size (for tests and the README still).
    static QRect textArea(int width, int height);

private:
    QImage overlayFor(const QString& date, const QString& time, int width, int height);

    QString m_cachedText;
    QImage m_cachedOverlay;  // premultiplied ARGB, the size of textArea
};

// The info panel picture of each frame (the four yellow lines on black, drawn by the panel's own
// code) combined into the top left corner by OR of each colour byte, as the still grabber lays
// it over a saved frame: the picture stays as it was outside the glyphs. Frames must come in
// order, as the panel shows them when the tape plays: a frame without a shutter value shows the
// one before it.
class PanelBurnIn {
public:
    PanelBurnIn();
    ~PanelBurnIn();
    void draw(const dv::DVFrameInfo& info, std::size_t frameIndex, const mediagraph::RawPicture& picture);

    // The panel picture's size in pixels: 240 x 76 dialog units.
    static QSize panelSize();

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Combines the BGR888 `panel` into the picture's top left corner, byte by byte with OR.
void orInto(const QImage& panel, const mediagraph::RawPicture& picture);

// Lays `overlay` (premultiplied ARGB32) over the BGR picture with its top left corner at (x, y),
// clipped to the picture.
void blendOver(const QImage& overlay, int x, int y, const mediagraph::RawPicture& picture);

}  // namespace vantrel::exporting
