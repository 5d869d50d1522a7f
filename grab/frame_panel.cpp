// SPDX-License-Identifier: GPL-3.0-or-later
// The info panel picture of one frame, as the window shows it, and the times of frames: for grabbing without a window.
#include "grab/frame_panel.h"

#include "dv/info_lines.h"
#include "panel/info_panel_picture.h"

#include <cmath>

namespace vantrel::grab {

namespace {

constexpr double kPalFrameMs = 40.0;
constexpr double kNtscFrameMs = 33.3333;        // as the player divides
constexpr double kNtscExactFrameMs = 1001.0 / 30.0;
constexpr std::int64_t k100nsPerMs = 10'000;

}  // namespace

long frameAtTime(std::int64_t position100ns, dv::VideoSystem system) noexcept
{
    const double ms = static_cast<double>(position100ns) / k100nsPerMs;
    return static_cast<long>(ms / (system == dv::VideoSystem::Pal625_50 ? kPalFrameMs : kNtscFrameMs));
}

std::int64_t timeInsideFrame(long frameNumber, dv::VideoSystem system) noexcept
{
    const double frameMs = system == dv::VideoSystem::Pal625_50 ? kPalFrameMs : kNtscExactFrameMs;
    return std::llround((static_cast<double>(frameNumber) + 0.5) * frameMs * k100nsPerMs);
}

QImage infoPanelPictureOfFrame(avi::AnalysisThread& analysis, long frameNumber, QSize panelSize)
{
    if (frameNumber < 0 || static_cast<std::size_t>(frameNumber) >= analysis.frameCount()) return {};
    dv::InfoLineFormatter formatter;
    for (long earlier = 0; earlier < frameNumber; ++earlier) analysis.ShowAnalysedFrame(earlier, formatter);
    panel::InfoPanelPicture picture(panelSize);
    formatter.setPanel(&picture);
    if (!analysis.ShowAnalysedFrame(frameNumber, formatter)) return {};
    return picture.picture();
}

}  // namespace vantrel::grab
