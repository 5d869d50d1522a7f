// SPDX-License-Identifier: GPL-3.0-or-later
// Where a recording is split into files: a full file, or a jump of the camcorder's recording clock.
#include "pipeline/capture_split_rule.h"

#include <algorithm>

namespace vantrel::pipeline {

CaptureSplitRule::CaptureSplitRule(std::int32_t framesPerFile, std::int32_t sceneGapSeconds) noexcept
    : m_framesPerFile(std::max<std::int32_t>(framesPerFile, 1)), m_sceneGapSeconds(sceneGapSeconds)
{
}

std::int64_t CaptureSplitRule::takeRecordingTime(std::int64_t recordingTime) noexcept
{
    if (recordingTime == m_lastRecordingTime) {
        return 0;
    }
    std::int64_t jump = 0;
    if (recordingTime > 0 && m_lastValidRecordingTime > 0) {
        jump = recordingTime > m_lastValidRecordingTime ? recordingTime - m_lastValidRecordingTime
                                                        : m_lastValidRecordingTime - recordingTime;
    }
    if (recordingTime > 0) {
        m_lastValidRecordingTime = recordingTime;
    }
    m_lastRecordingTime = recordingTime;
    return jump;
}

}  // namespace vantrel::pipeline
