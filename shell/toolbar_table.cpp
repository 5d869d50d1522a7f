// SPDX-License-Identifier: GPL-3.0-or-later
// The toolbar's 15 entries, their tooltips, and which buttons each mode and state enables.
#include "shell/toolbar_table.h"

namespace vantrel::shell {

const char* toolbarTooltip(int command) noexcept
{
    switch (command) {
    case command::kPlay: return "Play Multymedia file";
    case command::kPause: return "Pause/Continue";
    case command::kStop: return "Stop movie";
    case command::kStepBack: return "Step back";
    case command::kTapeFastForward: return "Fast forward";
    case command::kCaptureBitmap: return "Capture Windows Bitmap (Screenshot)";
    case command::kStepForward: return "Step forward";
    case command::kTapeRewind: return "Rewind tape";
    case command::kAbout: return "About Vantrel ...";
    default: return nullptr;
    }
}

namespace {

using Row = std::array<bool, 9>;  // Open, Play, Pause, Stop, 43015, 43012, 43016, 43014, Capture bitmap

constexpr Row kPlayerRows[] = {
    /* TRANSPORT_IDLE    */ {true, false, false, false, false, false, false, false, false},
    /* TRANSPORT_OPENED  */ {true, true, false, false, false, false, false, false, false},
    /* TRANSPORT_PAUSED  */ {false, false, true, true, false, false, false, false, true},
    /* TRANSPORT_PLAYING */ {false, false, true, true, false, false, false, false, false},
};

ToolbarEnables all(const Row& row)
{
    ToolbarEnables enables;
    for (std::size_t i = 0; i < row.size(); ++i) enables[i] = row[i];
    return enables;
}

}  // namespace

ToolbarEnables toolbarEnables(WorkingMode mode, TransportState transport, std::int32_t jobState,
                              bool hasChosenName) noexcept
{
    if (mode == MODE_PLAYER) {
        if (transport < TRANSPORT_IDLE || transport > TRANSPORT_PLAYING) return {};
        return all(kPlayerRows[transport]);
    }
    Row row{};
    switch (jobState) {
    case 0: row = {false, hasChosenName, false, false, false, false, false, false, false}; break;  // idle
    case 1:                                                                                       // tape paused
    case 3: row = {false, true, false, false, true, true, true, true, false}; break;               // capture preview
    case 2:                                                                                       // tape recording
    case 4: row = {false, false, true, true, false, false, false, false, false}; break;            // capture recording
    case 5: row = {false, true, false, false, false, false, false, false, false}; break;           // finished
    default: return {};
    }
    ToolbarEnables enables = all(row);
    enables[0].reset();  // Open keeps its last state
    return enables;
}

}  // namespace vantrel::shell
