// SPDX-License-Identifier: GPL-3.0-or-later
// Where tests keep the files they make, and reading and writing whole files.
//
// Every build tree has its own test data folder (its CTest sets VANTREL_TEST_DATA_DIR), and
// every test its own folder below it, so the normal and sanitizer trees and tests run at once
// never share a file.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace vantrel::testsupport {

// The build tree's test data folder, or a folder below it (created).
std::filesystem::path testDataDir(const std::string& folder = {});

// `name` inside the running test's own folder (created; left from an earlier run until rewritten).
std::filesystem::path testPath(const std::string& name);

// The running test's own folder, emptied first.
std::filesystem::path freshTestFolder();

std::vector<std::byte> readBytes(const std::filesystem::path& path);
std::string readText(const std::filesystem::path& path);
// Replaces the file; false when it could not be written whole.
bool writeBytes(const std::filesystem::path& path, std::span<const std::byte> bytes);

// Lines without their '\n' (a last line without one counts too).
std::vector<std::string> splitLines(const std::string& text);
// Every field between separators, empty ones too.
std::vector<std::string> splitFields(const std::string& text, char separator);

// Compares `actual` with tests/golden/`name` (a failure shows the lines that
// differ). VANTREL_UPDATE_GOLDEN=1 rewrites the file instead: check every changed line by hand.
void expectMatchesGolden(const std::string& name, const std::string& actual);

}  // namespace vantrel::testsupport
