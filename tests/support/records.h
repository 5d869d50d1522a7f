// SPDX-License-Identifier: GPL-3.0-or-later
// Comparing and printing DVFrameInfo records in test messages.
#pragma once

#include "dv/dv_frame_info.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel::testsupport {

// Every field as text, numbers exact: "shutter 50 gain 0 iris 2 date 2004-07-14 18:03:09 wday 3
// yday 195 dst 0 | TimeCode 00:12:31   04 | exposure | white balance mode | white balance | focus".
std::string describe(const dv::DVFrameInfo& record);

// Field by field (texts up to their end, every tm field); the message shows both records.
::testing::AssertionResult sameRecord(const dv::DVFrameInfo& actual, const dv::DVFrameInfo& expected);

}  // namespace vantrel::testsupport
