// SPDX-License-Identifier: GPL-3.0-or-later
// Media for the grabber tests: tapes written by vantrel-dvgen, pictures decoded and bitmaps read by ffmpeg.
#include "grab/grab_test_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace vantrel::grab::testing {

std::filesystem::path testDirectory()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const auto dir = std::filesystem::path(VANTREL_TEST_DATA_DIR) / "grab" /
                     (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ShellResult runShell(const std::string& command)
{
    ShellResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::filesystem::path generateTape(const std::string& fileName, const std::vector<std::string>& arguments)
{
    const auto path = testDirectory().parent_path() / "tapes" / fileName;
    std::filesystem::create_directories(path.parent_path());
    std::string command = shellQuoted(VANTREL_DVGEN_PATH);
    for (const auto& argument : arguments) command += " " + shellQuoted(argument);
    command += " -o " + shellQuoted(path.string());
    const auto result = runShell(command);
    if (result.exitCode != 0) ADD_FAILURE() << "vantrel-dvgen failed: " << command;
    return path;
}

bool hasFfmpeg()
{
    return runShell("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1").exitCode == 0;
}

std::optional<std::vector<std::uint8_t>> ffmpegDecodedFrame(const std::filesystem::path& media, int frameIndex)
{
    const auto result = runShell("ffmpeg -v error -i " + shellQuoted(media.string()) + " -vf 'select=eq(n\\," +
                                 std::to_string(frameIndex) + ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    if (result.exitCode != 0 || result.out.empty()) return std::nullopt;
    return std::vector<std::uint8_t>(result.out.begin(), result.out.end());
}

std::optional<ReadPicture> ffmpegReadBitmap(const std::filesystem::path& bitmap)
{
    ReadPicture picture;
    const auto size = runShell("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name,width,height "
                               "-of csv=p=0 " + shellQuoted(bitmap.string()));
    char codec[32] = {};
    if (size.exitCode != 0 ||
        std::sscanf(size.out.c_str(), "%31[^,],%d,%d", codec, &picture.width, &picture.height) != 3 ||
        std::string(codec) != "bmp") {
        return std::nullopt;
    }
    const auto pixels = runShell("ffmpeg -v error -i " + shellQuoted(bitmap.string()) + " -f rawvideo -pix_fmt bgr24 -");
    if (pixels.exitCode != 0) return std::nullopt;
    picture.bgr.assign(pixels.out.begin(), pixels.out.end());
    return picture;
}

std::vector<std::uint8_t> fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vantrel::grab::testing
