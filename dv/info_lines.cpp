// SPDX-License-Identifier: GPL-3.0-or-later
// Turns one DVFrameInfo into the four text lines of the info panel.
#include "dv/info_lines.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vantrel::dv {
namespace {

constexpr std::int32_t kNoShutter = -1;

// The shutter as a 32-bit integer by truncation; a value no int32 holds counts as none.
std::int32_t truncatedShutter(double shutter) noexcept
{
    if (!(shutter > -2147483649.0 && shutter < 2147483648.0)) return kNoShutter;
    return static_cast<std::int32_t>(shutter);
}

bool hasRecordingDate(const std::tm& tm) noexcept
{
    return tm.tm_mday != -1 && tm.tm_mon != -1 && tm.tm_year != -1 && tm.tm_hour != -1 && tm.tm_min != -1 &&
           tm.tm_sec != -1;
}

// A text field of a record that may have lost its terminator: print at most its size.
template <std::size_t N>
int boundedLength(const char (&text)[N]) noexcept
{
    std::size_t length = 0;
    while (length < N && text[length] != '\0') ++length;
    return static_cast<int>(length);
}

}  // namespace

const InfoLines& InfoLineFormatter::ShowFrameInfo(const DVFrameInfo& info, long frameNumber)
{
    const std::int32_t shutter = truncatedShutter(info.dShutter);
    formatLine1(info, frameNumber, shutter == kNoShutter ? m_lastShutter : shutter);
    const CameraValues values = cameraValuesOf(info);
    if (!m_hasCameraLines || std::memcmp(&values, &m_lineValues, sizeof values) != 0) {
        formatLine2(info);
        formatLine3(info);
        m_lineValues = values;
        m_hasCameraLines = true;
    }
    const auto timeCodeBytes = std::min(static_cast<std::size_t>(boundedLength(info.szTimeCode)),
                                        sizeof m_lines.timeCode - 1);
    std::memcpy(m_lines.timeCode, info.szTimeCode, timeCodeBytes);
    m_lines.timeCode[timeCodeBytes] = '\0';
    if (shutter != kNoShutter) m_lastShutter = shutter;
    if (m_panel) m_panel->drawInfoLines(m_lines);
    return m_lines;
}

InfoLineFormatter::CameraValues InfoLineFormatter::cameraValuesOf(const DVFrameInfo& info) noexcept
{
    CameraValues values;
    std::memset(&values, 0, sizeof values);  // padding included: the values are compared byte by byte
    values.iris = info.dIris;
    values.gain = info.nGain;
    std::memcpy(values.exposure, info.szExposure, sizeof values.exposure);
    std::memcpy(values.whiteBalanceMode, info.szWhiteBalanceMode, sizeof values.whiteBalanceMode);
    std::memcpy(values.focus, info.szFocus, sizeof values.focus);
    return values;
}

void InfoLineFormatter::formatLine1(const DVFrameInfo& info, long frameNumber, std::int32_t shutter) noexcept
{
    // Before any frame with a shutter value: "--".
    char shutterText[16] = "--";
    if (shutter != kNoShutter) std::snprintf(shutterText, sizeof shutterText, "%d", static_cast<int>(shutter));

    const std::tm& tm = info.tmRecorded;
    if (hasRecordingDate(tm)) {
        // Month and year in 64 bits: a damaged record must not overflow them.
        std::snprintf(m_lines.line1, sizeof m_lines.line1,
                      "%02d.%02lld.%04lld %02d:%02d:%02d Frame %ld Shutter 1/%s sec", tm.tm_mday,
                      static_cast<long long>(tm.tm_mon) + 1, static_cast<long long>(tm.tm_year) + 1900, tm.tm_hour,
                      tm.tm_min, tm.tm_sec, frameNumber, shutterText);
    } else {
        std::snprintf(m_lines.line1, sizeof m_lines.line1, "No recording date ! Frame %ld Shutter 1/%s sec",
                      frameNumber, shutterText);
    }
}

void InfoLineFormatter::formatLine2(const DVFrameInfo& info) noexcept
{
    std::snprintf(m_lines.line2, sizeof m_lines.line2, "%1.3fF Exposition %.*s ", info.dIris,
                  boundedLength(info.szExposure), info.szExposure);
}

void InfoLineFormatter::formatLine3(const DVFrameInfo& info) noexcept
{
    std::snprintf(m_lines.line3, sizeof m_lines.line3, "White balance %.*s  Gain %lld dB  Focus %.*s  ",
                  boundedLength(info.szWhiteBalanceMode), info.szWhiteBalanceMode, gainDecibels(info.nGain),
                  boundedLength(info.szFocus), info.szFocus);
}

}  // namespace vantrel::dv
