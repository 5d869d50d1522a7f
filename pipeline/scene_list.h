// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts a recording into scenes where the capture job would start a new file on a time jump.
#pragma once

#include "dv/dif_layout.h"
#include "dv/dv_frame_info.h"
#include "pipeline/capture_split_rule.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::pipeline {

// One scene: a run of frames whose recording time never jumps by more than the scene gap.
// Frames without a recording date belong to the scene they lie in.
struct Scene {
    std::size_t firstFrame = 0;
    std::size_t lastFrame = 0;
    std::optional<std::tm> firstRecorded;  // of the first and last frames in the scene that carry a date
    std::optional<std::tm> lastRecorded;
    std::string firstTimeCode;             // "hh:mm:ss:ff" of the first frame, "--:--:--:--" without one

    std::size_t frameCount() const noexcept { return lastFrame - firstFrame + 1; }
};

// The recording time the capture job compares: seconds since 1970 of the record's local
// recording date and time, or -1 when the record carries none.
std::int64_t recordingTimeOf(const dv::DVFrameInfo& info) noexcept;

// Builds the scene list frame by frame, in order from frame 0.
class SceneListBuilder {
public:
    explicit SceneListBuilder(int sceneGapSeconds) noexcept;

    void add(const dv::DVFrameInfo& info);
    // The scenes of the frames added so far (the last one still open).
    const std::vector<Scene>& scenes() const noexcept { return m_scenes; }

private:
    CaptureSplitRule m_rule;
    std::size_t m_nextFrame = 0;
    std::vector<Scene> m_scenes;
};

// "h:mm:ss.f" of a frame count: tenths of a second, truncated.
std::string sceneDurationText(std::size_t frames, dv::VideoSystem system);
// "dd.mm.yyyy hh:mm:ss", as the info panel's first line shows the recording date.
std::string recordedText(const std::tm& t);
// "hh:mm:ss:ff" of a record's time code line, "--:--:--:--" without a time code.
std::string timeCodeText(const dv::DVFrameInfo& info);

}  // namespace vantrel::pipeline
