// SPDX-License-Identifier: GPL-3.0-or-later
// Cuts a recording into scenes where the capture job would start a new file on a time jump.
#include "pipeline/scene_list.h"

#include <cstdio>

namespace vantrel::pipeline {
namespace {

bool hasRecordingDate(const std::tm& t) noexcept
{
    return t.tm_mday != -1 && t.tm_mon != -1 && t.tm_year != -1 && t.tm_hour != -1 && t.tm_min != -1 &&
           t.tm_sec != -1;
}

}  // namespace

std::int64_t recordingTimeOf(const dv::DVFrameInfo& info) noexcept
{
    if (!hasRecordingDate(info.tmRecorded)) return -1;
    std::tm copy = info.tmRecorded;  // mktime writes its argument
    const std::time_t t = std::mktime(&copy);
    return t < 0 ? -1 : static_cast<std::int64_t>(t);
}

// A scene is cut only by a jump of the recording time, never by the size of a file.
SceneListBuilder::SceneListBuilder(int sceneGapSeconds) noexcept
    : m_rule(CaptureSplitRule::kDefaultFramesPerFile, sceneGapSeconds)
{
}

void SceneListBuilder::add(const dv::DVFrameInfo& info)
{
    const std::size_t frame = m_nextFrame++;
    const std::int64_t t = recordingTimeOf(info);
    const bool cuts = m_rule.isSceneCut(m_rule.takeRecordingTime(t));
    if (m_scenes.empty() || cuts) {
        Scene scene;
        scene.firstFrame = frame;
        scene.firstTimeCode = timeCodeText(info);
        m_scenes.push_back(std::move(scene));
    }
    Scene& scene = m_scenes.back();
    scene.lastFrame = frame;
    if (t > 0) {
        if (!scene.firstRecorded) scene.firstRecorded = info.tmRecorded;
        scene.lastRecorded = info.tmRecorded;
    }
}

std::string sceneDurationText(std::size_t frames, dv::VideoSystem system)
{
    // Tenths of a second: PAL 25 frames a second, NTSC 30000/1001.
    const std::uint64_t tenths = system == dv::VideoSystem::Pal625_50 ? frames * 10ULL / 25
                                                                       : frames * 10010ULL / 30000;
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%llu", static_cast<unsigned long long>(tenths / 36000),
                  static_cast<unsigned long long>(tenths / 600 % 60), static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
    return text;
}

std::string recordedText(const std::tm& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02lld.%04lld %02d:%02d:%02d", t.tm_mday,
                  static_cast<long long>(t.tm_mon) + 1, static_cast<long long>(t.tm_year) + 1900, t.tm_hour,
                  t.tm_min, t.tm_sec);
    return text;
}

std::string timeCodeText(const dv::DVFrameInfo& info)
{
    int hours = 0, minutes = 0, seconds = 0, frames = 0;
    if (std::sscanf(info.szTimeCode, "TimeCode %d:%d:%d %d", &hours, &minutes, &seconds, &frames) != 4) {
        return "--:--:--:--";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", hours, minutes, seconds, frames);
    return text;
}

}  // namespace vantrel::pipeline
