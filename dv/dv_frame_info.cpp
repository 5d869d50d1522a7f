// SPDX-License-Identifier: GPL-3.0-or-later
// Tells a record that was never analysed from one that was.
#include "dv/dv_frame_info.h"

#include <algorithm>
#include <iterator>

namespace vantrel::dv {
namespace {

template <std::size_t N>
bool isEmptyText(const char (&text)[N]) noexcept
{
    return std::all_of(std::begin(text), std::end(text), [](char c) { return c == '\0'; });
}

bool isZeroTime(const std::tm& tm) noexcept
{
    return tm.tm_sec == 0 && tm.tm_min == 0 && tm.tm_hour == 0 && tm.tm_mday == 0 && tm.tm_mon == 0 &&
           tm.tm_year == 0 && tm.tm_wday == 0 && tm.tm_yday == 0 && tm.tm_isdst == 0;
}

}  // namespace

bool isNeverAnalysed(const DVFrameInfo& info) noexcept
{
    return info.dShutter == 0.0 && info.nGain == 0 && info.dIris == 0.0 && isEmptyText(info.szTimeCode) &&
           isZeroTime(info.tmRecorded) && isEmptyText(info.szWhiteBalanceMode) && isEmptyText(info.szWhiteBalance) &&
           isEmptyText(info.szFocus) && isEmptyText(info.szExposure);
}

}  // namespace vantrel::dv
