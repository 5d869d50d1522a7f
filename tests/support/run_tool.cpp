// SPDX-License-Identifier: GPL-3.0-or-later
// Runs commands through /bin/sh under timeout(1), output sent to files of the running test.
#include "support/run_tool.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::testsupport {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool hasTool(const std::string& name)
{
    return std::system(("command -v " + shellQuote(name) + " > /dev/null 2>&1").c_str()) == 0;
}

ToolResult runShell(const std::string& commandLine, int timeoutSeconds)
{
    static std::atomic<int> counter{0};
    const std::string stem =
        testPath("run-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)).string();
    // The command runs in its own shell so that timeout(1) can end all of it.
    const std::string line = "timeout -k 5 " + std::to_string(timeoutSeconds) + " /bin/sh -c " +
                             shellQuote(commandLine) + " > " + shellQuote(stem + ".out") + " 2> " +
                             shellQuote(stem + ".err") + " < /dev/null";
    const int status = std::system(line.c_str());
    ToolResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (result.exitCode == 124 || result.exitCode == 137) result.exitCode = -1;  // timed out
    result.out = readText(stem + ".out");
    result.err = readText(stem + ".err");
    std::filesystem::remove(stem + ".out");
    std::filesystem::remove(stem + ".err");
    return result;
}

ToolResult runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   int timeoutSeconds)
{
    std::string line;
    for (const auto& assignment : environment) line += assignment + " ";
    for (const auto& argument : arguments) line += shellQuote(argument) + " ";
    return runShell(line, timeoutSeconds);
}

std::string dvgenPath() { return VANTREL_DVGEN_PATH; }
std::string probePath() { return VANTREL_PROBE_PATH; }

std::filesystem::path generateTape(const std::string& name, std::vector<std::string> arguments,
                                   const std::string& generator)
{
    const auto path = testPath(name);
    arguments.insert(arguments.begin(), generator);
    arguments.insert(arguments.end(), {"-o", path.string()});
    const ToolResult result = runTool(arguments);
    if (result.exitCode != 0) ADD_FAILURE() << "vantrel-dvgen failed: " << result.err;
    return path;
}

}  // namespace vantrel::testsupport
