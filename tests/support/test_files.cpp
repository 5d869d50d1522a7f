// SPDX-License-Identifier: GPL-3.0-or-later
// Test folders named after the running GoogleTest test, and whole-file reads and writes.
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vantrel::testsupport {

std::filesystem::path testDataDir(const std::string& folder)
{
    const char* fromCtest = std::getenv("VANTREL_TEST_DATA_DIR");
    std::filesystem::path dir = fromCtest != nullptr && *fromCtest != '\0' ? fromCtest : VANTREL_TEST_DATA_DIR;
    if (!folder.empty()) dir /= folder;
    std::filesystem::create_directories(dir);
    return dir;
}

namespace {

std::filesystem::path runningTestFolder()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "no-test";
    for (char& c : name)
        if (c == '/') c = '_';  // parameterised tests
    return testDataDir("tests") / name;
}

}  // namespace

std::filesystem::path testPath(const std::string& name)
{
    const auto folder = runningTestFolder();
    std::filesystem::create_directories(folder);
    return folder / name;
}

std::filesystem::path freshTestFolder()
{
    const auto folder = runningTestFolder();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::vector<std::byte> readBytes(const std::filesystem::path& path)
{
    const std::string text = readText(path);
    const auto* first = reinterpret_cast<const std::byte*>(text.data());
    return {first, first + text.size()};
}

std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeBytes(const std::filesystem::path& path, std::span<const std::byte> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
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

void expectMatchesGolden(const std::string& name, const std::string& actual)
{
    const auto path = std::filesystem::path(VANTREL_SOURCE_DIR) / "tests" / "golden" / name;
    if (const char* update = std::getenv("VANTREL_UPDATE_GOLDEN"); update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        return;
    }
    const std::string expected = readText(path);
    ASSERT_FALSE(expected.empty()) << path << " is missing or empty";
    EXPECT_EQ(actual, expected) << "against " << path;  // GoogleTest shows the lines that differ
}

}  // namespace vantrel::testsupport
