// SPDX-License-Identifier: GPL-3.0-or-later
// A fresh folder per test under the test data folder, removed with what it holds when the test ends.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vantrel::test {

class ScratchDir {
public:
    // A folder named after `prefix` with a unique suffix (mkdtemp) under VANTREL_TEST_DATA_DIR,
    // or under the system's temporary folder when that is not set.
    explicit ScratchDir(const std::string& prefix)
    {
        const char* root = std::getenv("VANTREL_TEST_DATA_DIR");
        std::filesystem::path parent = root != nullptr ? root : std::filesystem::temp_directory_path().string();
        std::filesystem::create_directories(parent);
        std::string pattern = (parent / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed under " + parent.string());
        }
        m_path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

}  // namespace vantrel::test
