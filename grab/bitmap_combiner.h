// SPDX-License-Identifier: GPL-3.0-or-later
// Joins a grabbed frame and the info panel picture into one picture: the panel OR-ed over the frame's top-left corner.
#pragma once

#include <QColor>
#include <QImage>

#include <span>

namespace vantrel::grab {

// How the pictures are laid out. AtOrigin: every picture at the top-left corner, the result as
// large as the first picture (the frame), whatever its size; later pictures are clipped to it.
enum class CombineLayout { Unknown, AtOrigin };

class CBitmapCombiner {
public:
    virtual ~CBitmapCombiner() = default;

    // A new 24-bit picture (Format_BGR888) of the layout's size, filled with the background, then
    // the first picture copied in and each later one combined with what is there by a bitwise OR
    // of each colour byte: a black panel with yellow text leaves the frame as it was outside the
    // glyphs and makes its red and green bytes 255 under fully drawn ones. A null picture when
    // the list is empty, its first picture is null, or the layout is unknown.
    QImage Combine(std::span<const QImage> bitmaps, QRgb background, CombineLayout layout);

    int resultWidth() const noexcept { return m_resultWidth; }
    int resultHeight() const noexcept { return m_resultHeight; }

private:
    QImage Compose(std::span<const QImage> bitmaps) const;

    CombineLayout m_layout = CombineLayout::Unknown;
    QRgb m_background = 0;
    int m_resultWidth = 0;
    int m_resultHeight = 0;
};

}  // namespace vantrel::grab
