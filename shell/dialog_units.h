// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog units to pixels for the 8-point dialog font: x × 1.5, y × 1.625, rounded half up.
#pragma once

#include <QRect>

namespace vantrel::shell {

// Rounds n × numerator / denominator to the nearest integer, halves up, as dialog managers do.
constexpr int scaleRounded(int n, int numerator, int denominator) noexcept
{
    return (2 * n * numerator + denominator) / (2 * denominator);
}

constexpr int horizontalPixels(int dialogUnits) noexcept { return scaleRounded(dialogUnits, 3, 2); }
constexpr int verticalPixels(int dialogUnits) noexcept { return scaleRounded(dialogUnits, 13, 8); }

// A control's rectangle: position and size are converted each on its own.
constexpr QRect dialogRect(int x, int y, int width, int height) noexcept
{
    return QRect(horizontalPixels(x), verticalPixels(y), horizontalPixels(width), verticalPixels(height));
}

}  // namespace vantrel::shell
