// SPDX-License-Identifier: GPL-3.0-or-later
// Media for the grabber tests: tapes written by vantrel-dvgen, pictures decoded and bitmaps read by ffmpeg.
#include "grab/grab_test_media.h"

#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace vantrel::grab::testing {

using testsupport::runShell;
using testsupport::shellQuote;

std::filesystem::path generateTape(const std::string& fileName, const std::vector<std::string>& arguments)
{
    const auto path = testsupport::testDataDir("grab-tapes") / fileName;
    std::vector<std::string> command{VANTREL_DVGEN_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.insert(command.end(), {"-o", path.string()});
    const auto result = testsupport::runTool(command);
    if (result.exitCode != 0) ADD_FAILURE() << "vantrel-dvgen failed: " << result.err;
    return path;
}

bool hasFfmpeg()
{
    return testsupport::hasTool("ffmpeg") && testsupport::hasTool("ffprobe");
}

std::optional<std::vector<std::uint8_t>> ffmpegDecodedFrame(const std::filesystem::path& media, int frameIndex)
{
    const auto result = runShell("ffmpeg -v error -i " + shellQuote(media.string()) + " -vf 'select=eq(n\\," +
                                 std::to_string(frameIndex) + ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    if (result.exitCode != 0 || result.out.empty()) return std::nullopt;
    return std::vector<std::uint8_t>(result.out.begin(), result.out.end());
}

std::optional<ReadPicture> ffmpegReadBitmap(const std::filesystem::path& bitmap)
{
    ReadPicture picture;
    const auto size = runShell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
                               "-of csv=p=0 " + shellQuote(bitmap.string()));
    char codec[32] = {};
    if (size.exitCode != 0 ||
        std::sscanf(size.out.c_str(), "%31[^,],%d,%d", codec, &picture.width, &picture.height) != 3 ||
        std::string(codec) != "bmp") {
        return std::nullopt;
    }
    const auto pixels = runShell("ffmpeg -v error -i " + shellQuote(bitmap.string()) + " -f rawvideo -pix_fmt bgr24 -");
    if (pixels.exitCode != 0) return std::nullopt;
    picture.bgr.assign(pixels.out.begin(), pixels.out.end());
    return picture;
}

}  // namespace vantrel::grab::testing
