// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel picture of one frame, as the window shows it, and the times of frames: for grabbing without a window.
#pragma once

#include "avi/analysis_thread.h"
#include "dv/dif_layout.h"

#include <QImage>
#include <QSize>

#include <cstdint>

namespace vantrel::grab {

// The panel of the main window (240 × 76 dialog units) in pixels. Its lines are drawn clipped to
// rectangles inside 350 × 120 pixels, so any panel at least that large burns in the same bytes.
inline constexpr QSize kInfoPanelSize{360, 124};

// The frame number the player shows at a play position: milliseconds ÷ 40 for PAL, ÷ 33.3333 for NTSC.
long frameAtTime(std::int64_t position100ns, dv::VideoSystem system) noexcept;

// A time inside frame n (its middle), to grab that frame whatever the rounding of time stamps.
std::int64_t timeInsideFrame(long frameNumber, dv::VideoSystem system) noexcept;

// The panel picture (Format_BGR888, `panelSize`) with the lines of frame n of the analysed file as
// the window shows them when the file has played from frame 0: a frame without a shutter value
// shows the last one before it. Null when n is not a frame of the file.
QImage infoPanelPictureOfFrame(avi::AnalysisThread& analysis, long frameNumber, QSize panelSize = kInfoPanelSize);

}  // namespace vantrel::grab
