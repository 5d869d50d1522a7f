// SPDX-License-Identifier: GPL-3.0-or-later
// Draws the preview still of an opened file into the video area.
#pragma once

#include <QRect>

class QImage;
class QPainter;

namespace vantrel::panel {

// The still is always taken from a 720 x 576 rectangle, whatever its standard, and drawn half size.
inline constexpr QRect kStillSourceRect{0, 0, 720, 576};
inline constexpr QRect kStillTargetRect{0, 0, 360, 288};

// Stretches the still's source rectangle onto the target rectangle with smooth scaling. An NTSC
// still (720 x 480) covers only the upper 240 rows; the rows below it are left as they were.
void DrawPreviewStill(QPainter& painter, const QImage& still);

}  // namespace vantrel::panel
