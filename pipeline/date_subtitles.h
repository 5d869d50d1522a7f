// SPDX-License-Identifier: GPL-3.0-or-later
// The recording date and time of each frame as subtitle cues, written as SubRip or WebVTT.
#pragma once

#include "dv/dif_layout.h"
#include "dv/dv_frame_info.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vantrel::pipeline {

// Frames [firstFrame, endFrame) show `text`.
struct SubtitleCue {
    std::size_t firstFrame = 0;
    std::size_t endFrame = 0;
    std::string text;
};

enum class SubtitleFormat { Unknown, SubRip, WebVtt };

// Gathers cues frame by frame from frame 0: a cue lasts while the shown text stays the same,
// so one a second of recording time; a frame without a recording date shows none.
class DateCueBuilder {
public:
    // `strftimeFormat` empty: "dd.mm.yyyy hh:mm:ss" as the info panel's first line shows the date.
    explicit DateCueBuilder(std::string strftimeFormat = {});

    void add(const dv::DVFrameInfo& info);
    const std::vector<SubtitleCue>& cues() const noexcept { return m_cues; }

    // The text frame `info` shows; empty without a recording date.
    std::string textOf(const dv::DVFrameInfo& info) const;

private:
    std::string m_format;
    std::size_t m_nextFrame = 0;
    bool m_isCueOpen = false;
    std::vector<SubtitleCue> m_cues;
};

// Milliseconds from the start of the recording to frame `frameIndex`, rounded.
std::int64_t frameTimeMs(std::size_t frameIndex, dv::VideoSystem system) noexcept;

// The subtitle format a file name asks for: ".srt" or ".vtt" (any case), else Unknown.
SubtitleFormat subtitleFormatOf(const std::string& path) noexcept;

// Writes every cue; returns false when the stream reports an error.
bool writeSubtitles(const std::vector<SubtitleCue>& cues, SubtitleFormat format, dv::VideoSystem system,
                    std::FILE* out);

}  // namespace vantrel::pipeline
