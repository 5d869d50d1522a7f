// SPDX-License-Identifier: GPL-3.0-or-later
// The three status texts of a running job: its phase, its elapsed time and the ring's fill.
#include "pipeline/job_status_text.h"

#include <cinttypes>
#include <cstdio>

namespace vantrel::pipeline {
namespace {

constexpr REFERENCE_TIME kReferenceTimePerTenth = kReferenceTimePerSecond / 10;

}  // namespace

std::string JobPhaseText(JobState state, std::int32_t droppedFrames)
{
    switch (state) {
    case JOB_TAPE_PAUSED:
        return "Paused...";
    case JOB_TAPE_RECORDING:
        return "Recording... ";
    case JOB_CAPTURE_PREVIEW:
        return "Paused... Press <Capture> for Capturing.";
    case JOB_CAPTURE_RECORDING: {
        char dropped[64];
        std::snprintf(dropped, sizeof dropped, " (%d frames dropped)", static_cast<int>(droppedFrames));
        return std::string("Capturing... ") + dropped;
    }
    case JOB_FINISHED:
        return "Finished.";
    case JOB_IDLE:
        break;
    }
    return {};
}

std::string ElapsedTimeText(JobState state, REFERENCE_TIME duration)
{
    if (state < JOB_TAPE_PAUSED || state > JOB_FINISHED || duration < 0) {
        return {};
    }
    std::int64_t t = duration / kReferenceTimePerTenth;
    const std::int64_t tenths = t % 10;
    t /= 10;
    const std::int64_t seconds = t % 60;
    t /= 60;
    const std::int64_t minutes = t % 60;
    const std::int64_t hours = t / 60;
    char text[64];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%01" PRId64, hours, minutes, seconds,
                  tenths);
    return text;
}

std::string BufferUsageText(JobState state, std::int32_t bufferCount, std::int32_t slotCount)
{
    if ((state != JOB_TAPE_PAUSED && state != JOB_TAPE_RECORDING && state != JOB_CAPTURE_RECORDING) ||
        slotCount < 1) {
        return {};
    }
    const double usage = bufferCount * 100.0 / slotCount;
    char text[64];
    std::snprintf(text, sizeof text, " Using buffer:%f %s", usage, "%");
    return text;
}

JobStatus MakeJobStatus(JobState state, std::int32_t droppedFrames, REFERENCE_TIME duration,
                        std::int32_t bufferCount, std::int32_t slotCount)
{
    return {JobPhaseText(state, droppedFrames), ElapsedTimeText(state, duration),
            BufferUsageText(state, bufferCount, slotCount)};
}

std::string ErrorText(const std::string& message)
{
    constexpr std::size_t kLongestMessage = 1023;  // the status bar's message buffer
    return "Error: " + message.substr(0, kLongestMessage);
}

}  // namespace vantrel::pipeline
