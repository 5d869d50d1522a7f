// SPDX-License-Identifier: GPL-3.0-or-later
// Turns one DVFrameInfo into the four text lines of the info panel.
#pragma once

#include "dv/dv_frame_info.h"

#include <cstdint>

namespace vantrel::dv {

// The four lines of the info panel, in fixed buffers.
struct InfoLines {
    char line1[128];     // date, time, frame number, shutter
    char line2[128];     // iris and exposure mode
    char line3[128];     // white balance mode, gain, focus
    char timeCode[256];  // the record's time code line
};

// Draws the lines once they are formatted; the info panel implements it.
class IInfoPanel {
public:
    virtual void drawInfoLines(const InfoLines& lines) = 0;

protected:
    ~IInfoPanel() = default;
};

// Formats the info lines and remembers the last real shutter value shown, so that a frame
// without one shows the value before it. The memory lives as long as the formatter: one
// formatter serves the whole program; it has no lock, so its callers keep their calls
// from overlapping. Formatting allocates nothing.
class InfoLineFormatter {
public:
    explicit InfoLineFormatter(IInfoPanel* panel = nullptr) noexcept : m_panel(panel) {}

    void setPanel(IInfoPanel* panel) noexcept { m_panel = panel; }

    // Formats the lines of `info` for frame `frameNumber`, remembers its shutter value when
    // it has one, then has the panel (when one is set) draw them.
    const InfoLines& ShowFrameInfo(const DVFrameInfo& info, long frameNumber);

    const InfoLines& lines() const noexcept { return m_lines; }

    // The shutter value of the last frame shown with one; -1 before any.
    std::int32_t lastShutter() const noexcept { return m_lastShutter; }

private:
    void formatLine1(const DVFrameInfo& info, long frameNumber, std::int32_t shutter) noexcept;
    void formatLine2(const DVFrameInfo& info) noexcept;
    void formatLine3(const DVFrameInfo& info) noexcept;

    // The camera values lines 2 and 3 were made from: consecutive frames mostly share them, and
    // the lines are made again only when they change.
    struct CameraValues {
        double iris;
        int gain;
        char exposure[sizeof DVFrameInfo::szExposure];
        char whiteBalanceMode[sizeof DVFrameInfo::szWhiteBalanceMode];
        char focus[sizeof DVFrameInfo::szFocus];
    };
    static CameraValues cameraValuesOf(const DVFrameInfo& info) noexcept;

    IInfoPanel* m_panel;
    InfoLines m_lines{};
    std::int32_t m_lastShutter = -1;  // g_nLastShutter: never reset while the formatter lives
    CameraValues m_lineValues{};
    bool m_hasCameraLines = false;
};

// Gain in decibels of a gain code: 0 for code 0, else 3 dB a step from 0 dB at code 1.
constexpr long long gainDecibels(int gainCode) noexcept
{
    return gainCode == 0 ? 0 : static_cast<long long>(gainCode) * 3 - 3;
}

}  // namespace vantrel::dv
