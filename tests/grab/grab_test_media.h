// SPDX-License-Identifier: GPL-3.0-or-later
// Media for the grabber tests: tapes written by vantrel-dvgen, pictures decoded and bitmaps read by ffmpeg.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::grab::testing {

// Writes a tape with vantrel-dvgen into the test data's grab folder (shared by the grab tests,
// named by the caller); the arguments go before "-o PATH".
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

}  // namespace vantrel::grab::testing
