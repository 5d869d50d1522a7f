// SPDX-License-Identifier: GPL-3.0-or-later
// The toolbar's 15 entries, their tooltips, and which buttons each mode and state enables.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace vantrel::shell {

enum WorkingMode : std::int32_t { MODE_PLAYER = 0, MODE_CAPTURE = 1, MODE_PRINT_TO_TAPE = 2 };
enum TransportState : std::int32_t { TRANSPORT_IDLE = 0, TRANSPORT_OPENED = 1, TRANSPORT_PAUSED = 2, TRANSPORT_PLAYING = 3 };

namespace command {
inline constexpr int kOpen = 1003;
inline constexpr int kPlay = 43011;
inline constexpr int kPause = 43013;
inline constexpr int kStop = 43010;
inline constexpr int kTapeRewind = 43015;
inline constexpr int kStepBack = 43012;
inline constexpr int kStepForward = 43016;
inline constexpr int kTapeFastForward = 43014;
inline constexpr int kCaptureBitmap = 42003;
inline constexpr int kAbout = 52017;
}  // namespace command

struct ToolbarEntry {
    int command;   // 1..5 for separators, in order
    int picture;   // -1 for separators
    bool isSeparator() const noexcept { return picture < 0; }
};

inline constexpr std::array<ToolbarEntry, 15> kToolbarEntries{{
    {1, -1}, {command::kOpen, 0}, {2, -1}, {command::kPlay, 1}, {command::kPause, 2}, {command::kStop, 3},
    {3, -1}, {command::kTapeRewind, 4}, {command::kStepBack, 5}, {command::kStepForward, 6},
    {command::kTapeFastForward, 7}, {4, -1}, {command::kCaptureBitmap, 8}, {5, -1}, {command::kAbout, 9},
}};

// The tooltip of a command; nothing for Open.
const char* toolbarTooltip(int command) noexcept;

// Enabled (true) or disabled (false) for each of the nine commands below, or left alone (nothing).
inline constexpr std::array<int, 9> kSwitchedCommands{command::kOpen, command::kPlay, command::kPause,
                                                      command::kStop, command::kTapeRewind, command::kStepBack,
                                                      command::kStepForward, command::kTapeFastForward,
                                                      command::kCaptureBitmap};
using ToolbarEnables = std::array<std::optional<bool>, 9>;

// Player mode follows the transport; the job modes follow the job state (0..5 as the job window
// numbers them) and whether the mode's chosen name or file list is empty. A state outside the
// tables leaves every button alone; Open is left alone in the job modes; About is never touched.
ToolbarEnables toolbarEnables(WorkingMode mode, TransportState transport, std::int32_t jobState,
                              bool hasChosenName) noexcept;

}  // namespace vantrel::shell
