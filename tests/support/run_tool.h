// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program (one of ours as built, or a peer such as ffmpeg) and keeps what it printed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::testsupport {

struct ToolResult {
    int exitCode = -1;  // -1: killed, timed out or could not start
    std::string out;
    std::string err;
};

// Quotes one argument for /bin/sh.
std::string shellQuote(const std::string& text);

// Whether a program of this name is on the PATH.
bool hasTool(const std::string& name);

// Runs `arguments` (each quoted) with `environment` assignments ("TZ=UTC") in front, stdin empty,
// and kills it after `timeoutSeconds`.
ToolResult runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
                   int timeoutSeconds = 120);

// Runs a shell command line as it stands (pipes, redirections); killed after `timeoutSeconds`.
ToolResult runShell(const std::string& commandLine, int timeoutSeconds = 120);

// Our programs as built.
std::string dvgenPath();
std::string probePath();

// Runs vantrel-dvgen (or the `generator` given, such as a staged one) with `arguments` and
// "-o testPath(name)"; returns that path. A refusal is a test failure.
std::filesystem::path generateTape(const std::string& name, std::vector<std::string> arguments,
                                   const std::string& generator = dvgenPath());

}  // namespace vantrel::testsupport
