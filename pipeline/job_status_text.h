// SPDX-License-Identifier: GPL-3.0-or-later
// The three status texts of a running job: its phase, its elapsed time and the ring's fill.
#pragma once

#include "pipeline/job_state.h"
#include "pipeline/reference_time.h"

#include <cstdint>
#include <string>

namespace vantrel::pipeline {

// Text 0: "Paused...", "Recording... ", "Paused... Press <Capture> for Capturing.",
// "Capturing...  (N frames dropped)" (two blanks), "Finished.", or empty when idle.
std::string JobPhaseText(JobState state, std::int32_t droppedFrames);

// Text 1: the duration as "%d:%02d:%02d.%01d" (hours, minutes, seconds, tenths, truncated) in
// every job state when it is 0 or more; empty when idle or negative. Twelve hours: "12:00:00.0".
std::string ElapsedTimeText(JobState state, REFERENCE_TIME duration);

// Text 2: " Using buffer:%f %" from count × 100.0 / slot count while printing or capturing to
// a file; empty in the other states. 500 of 1001 slots: " Using buffer:49.950050 %".
std::string BufferUsageText(JobState state, std::int32_t bufferCount, std::int32_t slotCount);

// What a job shows, read from the job at one moment.
struct JobStatus {
    std::string phase;
    std::string elapsedTime;
    std::string bufferUsage;
};

JobStatus MakeJobStatus(JobState state, std::int32_t droppedFrames, REFERENCE_TIME duration,
                        std::int32_t bufferCount, std::int32_t slotCount);

// The message of an error as the status bar shows it: "Error: %s", at most 1023 characters of it.
std::string ErrorText(const std::string& message);

}  // namespace vantrel::pipeline
