// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the preview still of an opened file into the video area.
#include "panel/preview_still.h"

#include <QImage>
#include <QPainter>

namespace vantrel::panel {

void DrawPreviewStill(QPainter& painter, const QImage& still)
{
    if (still.isNull())
        return;
    // QPainter clips a source rectangle that reaches past the picture and shrinks the target with it.
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(kStillTargetRect), still, QRectF(kStillSourceRect));
    painter.restore();
}

}  // namespace vantrel::panel
