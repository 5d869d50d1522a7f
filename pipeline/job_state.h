// SPDX-License-Identifier: GPL-3.0-or-later
// The phases of a capture or print-to-tape job, as the job window runs them and the status bar shows them.
#pragma once

#include <cstdint>

namespace vantrel::pipeline {

enum JobState : std::int32_t {
    JOB_IDLE = 0,               // no job
    JOB_TAPE_PAUSED = 1,        // print to tape built; the current frame is sent again and again
    JOB_TAPE_RECORDING = 2,     // print to tape advancing through the file list
    JOB_CAPTURE_PREVIEW = 3,    // capture running, frames shown and analysed, nothing written
    JOB_CAPTURE_RECORDING = 4,  // capture writing frames to files
    JOB_FINISHED = 5,           // the duration limit or the end of the file list was reached
};

}  // namespace vantrel::pipeline
