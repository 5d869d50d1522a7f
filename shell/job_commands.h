// SPDX-License-Identifier: GPL-3.0-or-later
// Where the capture and print-to-tape jobs join the main window: the window hands them the
// commands of their modes and reads their state for the toolbar.
#pragma once

#include "shell/toolbar_table.h"

#include <cstdint>

namespace vantrel::shell {

class IJobCommands {
public:
    virtual ~IJobCommands() = default;
    // A mode radio button was chosen (Capture and Print to tape list the devices).
    virtual void modeChosen(WorkingMode mode) = 0;
    // A toolbar command in Capture or Print-to-tape mode.
    virtual void command(WorkingMode mode, int commandId) = 0;
    // The job state (0..5) and whether the mode's target name or file list is chosen.
    virtual std::int32_t jobState() const = 0;
    virtual bool hasChosenName(WorkingMode mode) const = 0;
    virtual void setAutoDeviceControl(bool isOn) = 0;
    virtual void deviceSelected(int index) = 0;
};

}  // namespace vantrel::shell
