// SPDX-License-Identifier: GPL-3.0-or-later
// Where a recording is split into files: a full file, or a jump of the camcorder's recording clock.
#pragma once

#include <cstdint>

namespace vantrel::pipeline {

// Fed the recording time of every frame in tape order (seconds since 1970 UTC as
// dv::GetRecordingTime gives it, -1 for a frame without a date), it tells how far the clock
// jumped at that frame. Frames without a date never make a jump: the next dated frame is
// compared with the last dated one. A jump larger than the scene gap starts a new file (a scene);
// a jump of exactly the gap does not. A file is also full once it holds `framesPerFile` frames.
//
// The capture worker splits its files with it, and the scene list of a finished tape uses the
// same rule, so scenes and capture files begin at the same frames.
class CaptureSplitRule {
public:
    static constexpr std::int32_t kDefaultFramesPerFile = 90000;
    static constexpr std::int32_t kDefaultSceneGapSeconds = 1;

    // sceneGapSeconds 0 or less: the clock never splits. framesPerFile below 1 counts as 1.
    explicit CaptureSplitRule(std::int32_t framesPerFile = kDefaultFramesPerFile,
                              std::int32_t sceneGapSeconds = kDefaultSceneGapSeconds) noexcept;

    // The next frame's recording time; returns the jump in seconds from the last dated frame
    // (0 for a frame without a date, for the first dated frame and for a repeated time).
    std::int64_t takeRecordingTime(std::int64_t recordingTime) noexcept;

    bool isSceneCut(std::int64_t jumpSeconds) const noexcept
    {
        return m_sceneGapSeconds > 0 && jumpSeconds > m_sceneGapSeconds;
    }
    bool isFileFull(std::int64_t framesInFile) const noexcept { return framesInFile >= m_framesPerFile; }
    // Whether an open file is closed before the frame whose jump is given.
    bool startsNewFile(std::int64_t framesInFile, std::int64_t jumpSeconds) const noexcept
    {
        return isFileFull(framesInFile) || isSceneCut(jumpSeconds);
    }

    // The recording time of the last frame taken (-1 when it had none, 0 before any frame):
    // a new file is named after it.
    std::int64_t lastRecordingTime() const noexcept { return m_lastRecordingTime; }
    // The last time above 0 that was taken, 0 before any.
    std::int64_t lastValidRecordingTime() const noexcept { return m_lastValidRecordingTime; }

    std::int32_t framesPerFile() const noexcept { return m_framesPerFile; }
    std::int32_t sceneGapSeconds() const noexcept { return m_sceneGapSeconds; }

private:
    std::int32_t m_framesPerFile;
    std::int32_t m_sceneGapSeconds;
    std::int64_t m_lastRecordingTime = 0;
    std::int64_t m_lastValidRecordingTime = 0;
};

}  // namespace vantrel::pipeline
