// SPDX-License-Identifier: GPL-3.0-or-later
// Media for the grabber tests: tapes written by vantrel-dvgen, pictures decoded and bitmaps read by ffmpeg.
#pragma once

#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>

namespace vantrel::grab::testing {

using testsupport::runShell;
using testsupport::shellQuote;

// A tape written by vantrel-dvgen into a folder the grab tests share; the arguments go before "-o PATH".
inline std::filesystem::path generateTape(const std::string& fileName, const std::vector<std::string>& arguments)
{
    const auto path = testsupport::testDataDir("grab-tapes") / fileName;
    std::vector<std::string> command{VANTREL_DVGEN_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.push_back("-o");
    command.push_back(path.string());
    const auto result = testsupport::runTool(command);
    if (result.exitCode != 0) ADD_FAILURE() << "vantrel-dvgen failed: " << result.err;
    return path;
}

inline bool hasFfmpeg() { return testsupport::hasTool("ffmpeg") && testsupport::hasTool("ffprobe"); }

// Frame `frameIndex` of the file as ffmpeg's decoder gives it: BGR, 3 bytes a pixel, rows top-down.
inline std::optional<std::vector<std::uint8_t>> ffmpegDecodedFrame(const std::filesystem::path& media, int frameIndex)
{
    const auto result = runShell("ffmpeg -v error -i " + shellQuote(media.string()) + " -vf 'select=eq(n\\," +
                                 std::to_string(frameIndex) + ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    if (result.exitCode != 0 || result.out.empty()) return std::nullopt;
    return std::vector<std::uint8_t>(result.out.begin(), result.out.end());
}

// The picture of a bitmap file as ffmpeg's BMP reader gives it (BGR, rows top-down) and its size.
struct ReadPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};

inline std::optional<ReadPicture> ffmpegReadBitmap(const std::filesystem::path& bitmap)
{
    ReadPicture picture;
    const auto size = runShell("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                               shellQuote(bitmap.string()));
    const auto pixels = runShell("ffmpeg -v error -i " + shellQuote(bitmap.string()) + " -f rawvideo -pix_fmt bgr24 -");
    if (std::sscanf(size.out.c_str(), "bmp,%d,%d", &picture.width, &picture.height) != 2 || pixels.exitCode != 0) {
        return std::nullopt;
    }
    picture.bgr.assign(pixels.out.begin(), pixels.out.end());
    return picture;
}

}  // namespace vantrel::grab::testing
