// SPDX-License-Identifier: GPL-3.0-or-later
// Runs commands through /bin/sh with stdout and stderr sent to files, then reads them back.
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::tests {

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::string testDataPath(const std::string& name)
{
    const std::filesystem::path dir = std::filesystem::path(VANTREL_TEST_DATA_DIR) / "tools";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

std::string readTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> splitFields(const std::string& text, char separator)
{
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const auto end = text.find(separator, start);
        fields.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) return fields;
        start = end + 1;
    }
}

CommandResult runCommand(const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
{
    static std::atomic<int> counter{0};
    const std::string stem = testDataPath("run-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::string line;
    for (const auto& assignment : environment) line += assignment + " ";
    for (const auto& argument : arguments) line += shellQuote(argument) + " ";
    line += "> " + shellQuote(stem + ".out") + " 2> " + shellQuote(stem + ".err") + " < /dev/null";
    const int status = std::system(line.c_str());
    CommandResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readTextFile(stem + ".out");
    result.err = readTextFile(stem + ".err");
    std::filesystem::remove(stem + ".out");
    std::filesystem::remove(stem + ".err");
    return result;
}

std::string generateTape(const std::string& name, std::vector<std::string> arguments)
{
    const std::string path = testDataPath(name);
    arguments.insert(arguments.begin(), VANTREL_DVGEN_PATH);
    arguments.insert(arguments.end(), {"-o", path});
    const CommandResult result = runCommand(arguments);
    if (result.exitCode != 0) ADD_FAILURE() << "vantrel-dvgen failed: " << result.err;
    return path;
}

bool toolExists(const std::string& name)
{
    return std::system(("command -v " + shellQuote(name) + " > /dev/null 2>&1").c_str()) == 0;
}

}  // namespace vantrel::tests
