// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the time code and recording date of DV frames that ffmpeg wrote; skipped without ffmpeg.
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"
#include "scoped_time_zone.h"
#include "tests/dv/audio_test_media.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vantrel::dv {
namespace {

struct PeerFile {
    const char* name;
    const char* picture;  // lavfi test source size and rate
    VideoSystem system;
    const char* timecode;
};

// Writes three frames of a test picture with a time code and a creation time (recorded in UTC).
std::vector<std::byte> ffmpegFrames(const PeerFile& file)
{
    const std::string path = std::string(VANTREL_TEST_DATA_DIR) + "/" + file.name;
    const std::string command = std::string("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=") + file.picture +
                                " -frames:v 3 -pix_fmt " +
                                (file.system == VideoSystem::Pal625_50 ? "yuv420p" : "yuv411p") +
                                " -c:v dvvideo -timecode '" + file.timecode +
                                "' -metadata creation_time=2011-05-06T07:08:09Z -f dv '" + path + "' 2>/dev/null";
    return testmedia::run(command) ? testmedia::readFileBytes(path) : std::vector<std::byte>{};
}

TEST(FfmpegDv, reads_time_code_and_recording_date_of_each_frame)
{
    if (!testmedia::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    const test::ScopedTimeZone zone{test::kUtc};
    const PeerFile files[] = {
        {"ffmpeg_pal.dv", "size=720x576:rate=25", VideoSystem::Pal625_50, "01:02:03:04"},
        {"ffmpeg_ntsc.dv", "size=720x480:rate=30000/1001", VideoSystem::Ntsc525_60, "01:02:03;04"},
    };
    for (const auto& file : files) {
        const auto bytes = ffmpegFrames(file);
        const std::size_t frameSize = frameBytes(file.system);
        ASSERT_EQ(bytes.size(), 3 * frameSize) << file.name;
        InfoLineFormatter formatter;
        for (std::size_t n = 0; n < 3; ++n) {
            const auto frame = std::span<const std::byte>(bytes).subspan(n * frameSize, frameSize);
            DVFrameInfo info{};
            AnalyseFrame(frame, file.system, info, static_cast<long>(n));
            const std::string timeCode = "TimeCode 01:02:03   0" + std::to_string(4 + n);
            EXPECT_EQ(info.szTimeCode, timeCode) << file.name << " frame " << n;
            EXPECT_EQ(GetRecordingTime(frame), 1304665689) << file.name;
            // ffmpeg writes no camera pack and no shutter.
            EXPECT_STREQ(info.szExposure, "No data recorded");
            EXPECT_EQ(info.dShutter, -1.0);
            const auto& lines = formatter.ShowFrameInfo(info, static_cast<long>(n));
            EXPECT_EQ(std::string(lines.line1), "06.05.2011 07:08:09 Frame " + std::to_string(n) + " Shutter 1/-- sec");
        }
    }
}

}  // namespace
}  // namespace vantrel::dv
