// SPDX-License-Identifier: GPL-3.0-or-later
// Field-wise record comparison: two records that differ only behind a text's terminator are the same.
#include "support/records.h"

#include <cstdio>
#include <cstring>

namespace vantrel::testsupport {

std::string describe(const dv::DVFrameInfo& r)
{
    const std::tm& t = r.tmRecorded;
    char text[640];
    std::snprintf(text, sizeof text,
                  "shutter %g gain %d iris %.3f date %d-%02d-%02d %02d:%02d:%02d wday %d yday %d dst %d | %s | %s | %s "
                  "| %s | %s",
                  r.dShutter, r.nGain, r.dIris, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                  t.tm_sec, t.tm_wday, t.tm_yday, t.tm_isdst, r.szTimeCode, r.szExposure, r.szWhiteBalanceMode,
                  r.szWhiteBalance, r.szFocus);
    return text;
}

::testing::AssertionResult sameRecord(const dv::DVFrameInfo& actual, const dv::DVFrameInfo& expected)
{
    const std::tm& a = actual.tmRecorded;
    const std::tm& e = expected.tmRecorded;
    const bool sameTm = a.tm_sec == e.tm_sec && a.tm_min == e.tm_min && a.tm_hour == e.tm_hour &&
                        a.tm_mday == e.tm_mday && a.tm_mon == e.tm_mon && a.tm_year == e.tm_year &&
                        a.tm_wday == e.tm_wday && a.tm_yday == e.tm_yday && a.tm_isdst == e.tm_isdst;
    const bool same = sameTm && actual.dShutter == expected.dShutter && actual.nGain == expected.nGain &&
                      actual.dIris == expected.dIris && std::strcmp(actual.szTimeCode, expected.szTimeCode) == 0 &&
                      std::strcmp(actual.szExposure, expected.szExposure) == 0 &&
                      std::strcmp(actual.szWhiteBalanceMode, expected.szWhiteBalanceMode) == 0 &&
                      std::strcmp(actual.szWhiteBalance, expected.szWhiteBalance) == 0 &&
                      std::strcmp(actual.szFocus, expected.szFocus) == 0;
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n  got:      " << describe(actual) << "\n  expected: " << describe(expected);
}

}  // namespace vantrel::testsupport
