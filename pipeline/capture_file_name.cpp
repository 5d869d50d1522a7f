// SPDX-License-Identifier: GPL-3.0-or-later
// Names of capture files: base name, recording date and a number no earlier file of the stem has.
#include "pipeline/capture_file_name.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>

namespace vantrel::pipeline {
namespace {

constexpr std::string_view kAviExtension = ".avi";
constexpr std::string_view kEmptyBaseName = "capture";
constexpr std::size_t kDateBufferBytes = 1024;  // strftime gives nothing for a longer date

std::string formatLocalDate(std::string_view format, std::int64_t time)
{
    std::time_t t = static_cast<std::time_t>(time);
    if (t < 1) {
        t = std::time(nullptr);
    }
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return {};
    }
    const std::string formatText(format);
    std::array<char, kDateBufferBytes> buffer{};
    const std::size_t length = std::strftime(buffer.data(), buffer.size(), formatText.c_str(), &local);
    return std::string(buffer.data(), length);
}

bool pathExists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool isAllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The decimal digit string one larger: "07" gives "08", "99" gives "100".
std::string incremented(std::string digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return digits;
        }
        *it = '0';
    }
    return "1" + digits;
}

// The numbers N of the existing files folder/name.N.avi, N all digits.
struct NumberedFiles {
    std::size_t width = 0;  // digits of the numbers that count
    std::string largest;    // largest number of that width; empty when none
};

NumberedFiles findNumberedFiles(const std::string& folder, std::string_view name, std::size_t minimumWidth)
{
    NumberedFiles found{minimumWidth, {}};
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string_view fileName(entry->d_name);
        if (fileName.size() < name.size() + 1 + kAviExtension.size() || !fileName.starts_with(name) ||
            fileName[name.size()] != '.' || !fileName.ends_with(kAviExtension)) {
            continue;
        }
        const std::string_view number =
            fileName.substr(name.size() + 1, fileName.size() - name.size() - 1 - kAviExtension.size());
        if (number.size() < found.width || !isAllDigits(number)) {
            continue;
        }
        if (number.size() > found.width) {
            found.width = number.size();
            found.largest = number;
        } else if (found.largest.empty() || number > found.largest) {
            found.largest = number;
        }
    }
    closedir(dir);
    return found;
}

}  // namespace

std::string WorkingNameFormat(std::string_view format)
{
    return "~" + std::string(format);
}

std::string MakeCaptureFileName(std::string_view base, std::string_view format, std::int32_t width,
                                std::int64_t time)
{
    std::string stem(base);
    if (stem.empty() || stem.back() == '/') {
        stem += kEmptyBaseName;
    }
    const std::string date = formatLocalDate(format, time);
    if (!date.empty()) {
        stem += "." + date;
    }

    const std::size_t slash = stem.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : stem.substr(0, slash));
    const std::string_view name = slash == std::string::npos ? std::string_view(stem)
                                                             : std::string_view(stem).substr(slash + 1);

    const std::size_t requestedWidth = width > 0 ? static_cast<std::size_t>(width) : 0;
    const NumberedFiles numbered = findNumberedFiles(folder, name, requestedWidth);
    std::string number = numbered.largest.empty() ? "0" : incremented(numbered.largest);
    if (number.size() < numbered.width) {
        number.insert(0, numbered.width - number.size(), '0');
    }

    const std::string plain = stem + std::string(kAviExtension);
    if (numbered.width > 0 || pathExists(plain)) {
        return stem + "." + number + std::string(kAviExtension);
    }
    return plain;
}

bool StripExtension(std::string& path)
{
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot > nameStart) {  // a leading "." belongs to the name
        path.erase(dot);
    }
    return !path.empty();
}

}  // namespace vantrel::pipeline
