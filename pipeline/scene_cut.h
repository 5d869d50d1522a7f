// SPDX-License-Identifier: GPL-3.0-or-later
// When the capture job closes its file and opens the next: a full file or a recording time jump.
#pragma once

#include <cstdint>

namespace vantrel::pipeline {

// Follows the recording times of consecutive frames as the capture worker does. A frame
// without a date (-1) never cuts; the next dated frame is compared with the last dated one.
class SceneCut {
public:
    SceneCut(int sceneGapSeconds, std::int64_t framesPerFile) noexcept
        : m_sceneGapSeconds(sceneGapSeconds), m_framesPerFile(framesPerFile) {}

    // Takes the next frame's recording time (seconds since 1970, or -1) and the frames already
    // in the open file; true when that file is closed before this frame.
    bool startsNewFile(std::int64_t recordingTime, std::int64_t framesInFile) noexcept
    {
        std::int64_t jump = 0;
        if (recordingTime != m_lastRecordingTime) {
            if (recordingTime > 0 && m_lastValidRecordingTime > 0) {
                jump = recordingTime > m_lastValidRecordingTime ? recordingTime - m_lastValidRecordingTime
                                                                : m_lastValidRecordingTime - recordingTime;
            }
            if (recordingTime > 0) m_lastValidRecordingTime = recordingTime;
            m_lastRecordingTime = recordingTime;
        }
        const bool isFull = m_framesPerFile > 0 && framesInFile >= m_framesPerFile;
        return isFull || (m_sceneGapSeconds > 0 && jump > m_sceneGapSeconds);
    }

    // The recording time of the last frame taken: the capture job names a file after it.
    std::int64_t lastRecordingTime() const noexcept { return m_lastRecordingTime; }

private:
    int m_sceneGapSeconds;
    std::int64_t m_framesPerFile;
    std::int64_t m_lastRecordingTime = 0;
    std::int64_t m_lastValidRecordingTime = 0;
};

}  // namespace vantrel::pipeline
