// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the recording date (or the info panel picture) into a decoded frame before it is encoded.
#pragma once

#include "dv/dv_frame_info.h"
#include "mediagraph/export_graph.h"

#include <QImage>
#include <QString>

#include <cstddef>

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

// Lays `overlay` (premultiplied ARGB32) over the BGR picture with its top left corner at (x, y),
// clipped to the picture.
void blendOver(const QImage& overlay, int x, int y, const mediagraph::RawPicture& picture);

}  // namespace vantrel::exporting
