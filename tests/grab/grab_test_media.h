// SPDX-License-Identifier: GPL-3.0-or-later
// Media for the grabber tests: tapes written by vantrel-dvgen, pictures decoded and bitmaps read by ffmpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::grab::testing {

// A directory of its own for the running test, emptied first: test-data/grab/<suite>.<test>.
std::filesystem::path testDirectory();

// Writes a tape with vantrel-dvgen; the arguments go before "-o PATH".
std::filesystem::path generateTape(const std::string& fileName, const std::vector<std::string>& arguments);

bool hasFfmpeg();

// Frame `frameIndex` of the file as ffmpeg's decoder gives it: BGR, 3 bytes a pixel, rows top-down.
std::optional<std::vector<std::uint8_t>> ffmpegDecodedFrame(const std::filesystem::path& media, int frameIndex);

// The picture of a bitmap file as ffmpeg's BMP reader gives it (BGR, rows top-down) and its size.
struct ReadPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};
std::optional<ReadPicture> ffmpegReadBitmap(const std::filesystem::path& bitmap);

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path);

// Runs a command line with /bin/sh, returns its exit status and standard output.
struct ShellResult {
    int exitCode = -1;
    std::string out;
};
ShellResult runShell(const std::string& command);
std::string shellQuoted(const std::string& text);

}  // namespace vantrel::grab::testing
