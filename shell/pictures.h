// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own pictures: the icon, the decorative picture, and toolbar pictures the style lacks.
#pragma once

#include <QIcon>
#include <QImage>

namespace vantrel::shell {

inline constexpr int kDecorativeWidth = 368;
inline constexpr int kDecorativeHeight = 194;

// The program icon (from the resources when present, else drawn).
QIcon programIcon();
// A DV cassette with the program's name, 368 x 194.
QImage decorativePicture();
// Three coloured letters on white: the capture-bitmap button.
QIcon captureBitmapIcon();

}  // namespace vantrel::shell
