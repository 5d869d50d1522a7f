// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel's command line: help and the refusals that end it before any window opens.
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

namespace vantrel::testsupport {
namespace {

TEST(ProgramCommandLine, answers_help_and_refuses_bad_arguments_without_a_display)
{
    const std::string tape = testPath("program-cli-existing.avi").string();
    runTool({"touch", tape});
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        const char* outStart;
        const char* errStart;
    } cases[] = {
        {{"--help"}, 0, "Usage: vantrel [OPTION]... [FILE]\n", ""},
        {{"--bogus"}, 2, "", "vantrel: unknown option --bogus\n"},
        {{"/no/such/tape.avi"}, 2, "", "vantrel: /no/such/tape.avi: no such file\n"},
        {{tape, tape}, 2, "", "vantrel: one file at a time\n"},
        {{"--screenshot", "x.png"}, 2, "", "vantrel: --screenshot needs a FILE to play\n"},
        {{"--seconds", "soon", tape}, 2, "", "vantrel: --seconds wants a number of seconds from 0 to 3600, not 'soon'\n"},
        {{"--screenshot"}, 2, "", "vantrel: option --screenshot needs a value\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> command{VANTREL_PROGRAM_PATH};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        // No display at all: these must answer before Qt looks for one.
        const ToolResult result = runTool(command, {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb"});
        EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments[0] << ": " << result.err;
        EXPECT_TRUE(result.out.starts_with(c.outStart)) << result.out;
        EXPECT_TRUE(result.err.starts_with(c.errStart)) << result.err;
    }
}

}  // namespace
}  // namespace vantrel::testsupport
