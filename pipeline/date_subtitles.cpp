// SPDX-License-Identifier: GPL-3.0-or-later
// The recording date and time of each frame as subtitle cues, written as SubRip or WebVTT.
#include "pipeline/date_subtitles.h"

#include "pipeline/scene_list.h"

#include <algorithm>
#include <cctype>

namespace vantrel::pipeline {
namespace {

// "hh:mm:ss,mmm" (SubRip) or "hh:mm:ss.mmm" (WebVTT).
std::string cueTime(std::int64_t ms, char separator)
{
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60), separator,
                  static_cast<long long>(ms % 1000));
    return text;
}

}  // namespace

DateCueBuilder::DateCueBuilder(std::string strftimeFormat) : m_format(std::move(strftimeFormat)) {}

std::string DateCueBuilder::textOf(const dv::DVFrameInfo& info) const
{
    if (recordingTimeOf(info) < 0) return {};
    if (m_format.empty()) return recordedText(info.tmRecorded);
    char text[256];
    const std::size_t n = std::strftime(text, sizeof text, m_format.c_str(), &info.tmRecorded);
    return std::string(text, n);
}

void DateCueBuilder::add(const dv::DVFrameInfo& info)
{
    const std::size_t frame = m_nextFrame++;
    std::string text = textOf(info);
    if (m_isCueOpen && m_cues.back().text == text) {
        m_cues.back().endFrame = frame + 1;
        return;
    }
    m_isCueOpen = !text.empty();
    if (m_isCueOpen) m_cues.push_back({frame, frame + 1, std::move(text)});
}

std::int64_t frameTimeMs(std::size_t frameIndex, dv::VideoSystem system) noexcept
{
    const auto i = static_cast<std::int64_t>(frameIndex);
    if (system == dv::VideoSystem::Pal625_50) return i * 40;
    return (i * 1001 + 15) / 30;  // 30000/1001 frames a second
}

SubtitleFormat subtitleFormatOf(const std::string& path) noexcept
{
    if (path.size() < 4) return SubtitleFormat::Unknown;
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".srt") return SubtitleFormat::SubRip;
    if (extension == ".vtt") return SubtitleFormat::WebVtt;
    return SubtitleFormat::Unknown;
}

bool writeSubtitles(const std::vector<SubtitleCue>& cues, SubtitleFormat format, dv::VideoSystem system,
                    std::FILE* out)
{
    const bool isVtt = format == SubtitleFormat::WebVtt;
    if (isVtt) std::fputs("WEBVTT\n\n", out);
    std::size_t number = 0;
    for (const SubtitleCue& cue : cues) {
        const char separator = isVtt ? '.' : ',';
        if (!isVtt) std::fprintf(out, "%zu\n", ++number);
        std::fprintf(out, "%s --> %s\n%s\n\n", cueTime(frameTimeMs(cue.firstFrame, system), separator).c_str(),
                     cueTime(frameTimeMs(cue.endFrame, system), separator).c_str(), cue.text.c_str());
    }
    return std::fflush(out) == 0 && !std::ferror(out);
}

}  // namespace vantrel::pipeline
