// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's template: its size and every control's identifier, kind, text and place in dialog units.
#pragma once

#include "shell/dialog_units.h"

#include <QRect>
#include <QSize>

namespace vantrel::shell {

inline constexpr const char* kMainCaptionBeforeVersion = "Vantrel ver. ";   // then the version
inline constexpr QSize kMainClientSize{horizontalPixels(487), verticalPixels(351)};

enum class ControlKind { Invalid, PushButton, Static, CheckBox, GroupBox, PushLikeRadio, DropDownList, Picture };

struct TemplateControl {
    int id;          // -1: no identifier
    ControlKind kind;
    const char* text;
    int x, y, width, height;  // dialog units
    constexpr QRect pixels() const noexcept { return dialogRect(x, y, width, height); }
};

namespace control {
inline constexpr int kExit = 2;
inline constexpr int kVideoArea = 1000;
inline constexpr int kPositionLabel = 1002;
inline constexpr int kInfoPanel = 1005;
inline constexpr int kWide = 1006;
inline constexpr int kAutoDeviceControl = 1013;
inline constexpr int kPlayerMode = 1024;
inline constexpr int kCaptureMode = 1025;
inline constexpr int kPrintToTapeMode = 1026;
inline constexpr int kVideoDevices = 1028;
inline constexpr int kNone = -1;
}  // namespace control

// In template order.
inline constexpr TemplateControl kMainTemplate[] = {
    {control::kExit, ControlKind::PushButton, "Exit", 0, 322, 486, 16},
    {control::kVideoArea, ControlKind::Static, "", 0, 127, 240, 180},
    {control::kPositionLabel, ControlKind::Static, "", 246, 41, 126, 24},
    {control::kInfoPanel, ControlKind::Static, "", 1, 40, 240, 76},
    {control::kWide, ControlKind::CheckBox, "16:9", 405, 311, 30, 10},
    {control::kAutoDeviceControl, ControlKind::CheckBox, "Control device automatically", 287, 310, 104, 10},
    {control::kNone, ControlKind::GroupBox, "Job mode", 301, 250, 135, 28},
    {control::kPlayerMode, ControlKind::PushLikeRadio, "Player", 303, 262, 35, 10},
    {control::kCaptureMode, ControlKind::PushLikeRadio, "Capture", 339, 263, 41, 10},
    {control::kPrintToTapeMode, ControlKind::PushLikeRadio, "Print to tape", 381, 262, 54, 10},
    {control::kVideoDevices, ControlKind::DropDownList, "", 307, 290, 122, 12},
    {control::kNone, ControlKind::GroupBox, "Video devices", 301, 280, 135, 28},
    {control::kNone, ControlKind::Picture, "", 241, 118, 245, 130},
};

constexpr const TemplateControl& templateControl(int id)
{
    for (const TemplateControl& c : kMainTemplate)
        if (c.id == id) return c;
    return kMainTemplate[0];
}

}  // namespace vantrel::shell
