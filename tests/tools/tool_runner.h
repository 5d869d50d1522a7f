// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a command line (the built tools, or a peer such as ffmpeg) and keeps its output and status.
#pragma once

#include <string>
#include <vector>

namespace vantrel::tests {

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Quotes one argument for /bin/sh.
std::string shellQuote(const std::string& text);

// Runs `arguments` (quoted one by one) with the environment assignments in front, e.g. "TZ=UTC".
CommandResult runCommand(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});

bool toolExists(const std::string& name);

// Runs vantrel-dvgen with the arguments and "-o <name below the test data directory>"; the path.
std::string generateTape(const std::string& name, std::vector<std::string> arguments);

// A fresh path below the test data directory.
std::string testDataPath(const std::string& name);

std::string readTextFile(const std::string& path);
std::vector<std::string> splitLines(const std::string& text);
// Every field between separators, empty ones too.
std::vector<std::string> splitFields(const std::string& text, char separator);

}  // namespace vantrel::tests
