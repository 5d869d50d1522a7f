// SPDX-License-Identifier: GPL-3.0-or-later
// Joins a grabbed frame and the info panel picture into one picture: the panel OR-ed over the frame's top-left corner.
#include "grab/bitmap_combiner.h"

#include <algorithm>

namespace vantrel::grab {

namespace {

enum class RasterOperation { Unknown, Copy, Or };

// Puts each colour byte of `over` into `into` at the origin, clipped to `into` (24-bit, BGR888).
void drawAtOrigin(QImage& into, const QImage& over, RasterOperation operation)
{
    const QImage source = over.convertToFormat(into.format());
    const int rowBytes = 3 * std::min(into.width(), source.width());
    const int height = std::min(into.height(), source.height());
    for (int y = 0; y < height; ++y) {
        uchar* target = into.scanLine(y);
        const uchar* bytes = source.constScanLine(y);
        if (operation == RasterOperation::Copy) {
            std::copy(bytes, bytes + rowBytes, target);
        } else {
            for (int i = 0; i < rowBytes; ++i) target[i] |= bytes[i];
        }
    }
}

}  // namespace

QImage CBitmapCombiner::Combine(std::span<const QImage> bitmaps, QRgb background, CombineLayout layout)
{
    m_layout = layout;
    m_background = background;
    if (bitmaps.empty() || bitmaps.front().isNull() || layout != CombineLayout::AtOrigin) return {};
    m_resultWidth = bitmaps.front().width();
    m_resultHeight = bitmaps.front().height();
    return Compose(bitmaps);
}

QImage CBitmapCombiner::Compose(std::span<const QImage> bitmaps) const
{
    QImage result(m_resultWidth, m_resultHeight, QImage::Format_BGR888);
    if (result.isNull()) return result;
    result.fill(QColor::fromRgb(m_background));
    drawAtOrigin(result, bitmaps.front(), RasterOperation::Copy);
    for (const QImage& bitmap : bitmaps.subspan(1)) {
        if (!bitmap.isNull()) drawAtOrigin(result, bitmap, RasterOperation::Or);
    }
    return result;
}

}  // namespace vantrel::grab
