// SPDX-License-Identifier: GPL-3.0-or-later
// Records compared through their text: two records that differ only behind a text's terminator are the same.
#include "support/records.h"

#include <cstdio>

namespace vantrel::testsupport {

std::string describe(const dv::DVFrameInfo& r)
{
    const std::tm& t = r.tmRecorded;
    char text[640];
    std::snprintf(text, sizeof text,
                  "shutter %.17g gain %d iris %.17g date %d-%02d-%02d %02d:%02d:%02d wday %d yday %d dst %d | %s | %s | "
                  "%s | %s | %s",
                  r.dShutter, r.nGain, r.dIris, t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                  t.tm_sec, t.tm_wday, t.tm_yday, t.tm_isdst, r.szTimeCode, r.szExposure, r.szWhiteBalanceMode,
                  r.szWhiteBalance, r.szFocus);
    return text;
}

::testing::AssertionResult sameRecord(const dv::DVFrameInfo& actual, const dv::DVFrameInfo& expected)
{
    if (describe(actual) == describe(expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\n  got:      " << describe(actual) << "\n  expected: " << describe(expected);
}

}  // namespace vantrel::testsupport
