// SPDX-License-Identifier: GPL-3.0-or-later
// Generated tapes and our tools as the scene, subtitle, split and export tests run them.
#pragma once

#include "support/scratch_dir.h"
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::exporttest {

using testsupport::ToolResult;
using testsupport::runTool;

// The date tests read the dates in one known zone: Central European Time with its summer time.
inline const std::vector<std::string> kZone{"TZ=CET-1CEST,M3.5.0,M10.5.0/3"};

// Writes a tape with vantrel-dvgen; fails the test when the generator does.
inline std::string makeTape(const test::ScratchDir& dir, const std::string& name, std::vector<std::string> args)
{
    const std::string path = dir.file(name);
    args.insert(args.begin(), VANTREL_DVGEN_PATH);
    args.insert(args.end(), {"-o", path});
    const ToolResult made = runTool(args, kZone);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return path;
}

inline ToolResult runOurs(const char* program, std::vector<std::string> args)
{
    args.insert(args.begin(), program);
    return runTool(args, kZone, 300);
}

}  // namespace vantrel::exporttest
