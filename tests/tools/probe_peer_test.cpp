// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe and MediaInfo read the same time code and recording date in every frame of DV
// files that ffmpeg wrote.
#include "tools/peer_readings.h"
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

namespace vantrel::tests {
namespace {

// ffmpeg may write a frame less than asked for; both readers must see the same count.
void expectProbeAgreesWithMediaInfo(const std::string& path, std::size_t minimumFrames)
{
    const CommandResult probed = runCommand({VANTREL_PROBE_PATH, path}, {"TZ=UTC"});
    ASSERT_EQ(probed.exitCode, 0) << probed.err;
    const auto lines = splitLines(probed.out);
    ASSERT_GE(lines.size(), minimumFrames);
    const auto peer = mediaInfoFrames(path);
    ASSERT_EQ(peer.size(), lines.size()) << "MediaInfo listed " << peer.size() << " frames of " << path;
    int mismatches = 0;
    for (const MediaInfoFrame& theirs : peer) {
        ASSERT_GE(theirs.frame, 0);
        ASSERT_LT(static_cast<std::size_t>(theirs.frame), lines.size());
        const MediaInfoFrame ours = probeLineAsMediaInfo(lines[static_cast<std::size_t>(theirs.frame)]);
        if ((ours.timecode != theirs.timecode || ours.recorded != theirs.recorded) && ++mismatches <= 5) {
            ADD_FAILURE() << path << " frame " << theirs.frame << ": probe " << ours.timecode << " / " << ours.recorded
                          << ", MediaInfo " << theirs.timecode << " / " << theirs.recorded;
        }
    }
}

class ProbeAgainstPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!toolExists("ffmpeg") || !toolExists("mediainfo")) GTEST_SKIP() << "ffmpeg or mediainfo missing";
    }

    // ffmpeg's DV muxer writes the time code and the creation time into every frame; the AVI
    // copy keeps the DIF frames as they are.
    std::string ffmpegDvAvi(const std::string& name, const std::string& size, const std::string& rate,
                            const std::string& pixelFormat, const std::string& timecode, const std::string& creation)
    {
        const std::string dv = testDataPath(name + ".dv");
        const std::string avi = testDataPath(name + ".avi");
        const CommandResult made = runCommand(
            {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=" + size + ":rate=" + rate, "-f",
             "lavfi", "-i", "sine=frequency=1000:sample_rate=48000", "-t", "2", "-timecode", timecode, "-metadata",
             "creation_time=" + creation, "-pix_fmt", pixelFormat, "-ac", "2", "-f", "dv", dv});
        EXPECT_EQ(made.exitCode, 0) << made.err;
        const CommandResult copied = runCommand({"ffmpeg", "-v", "error", "-y", "-i", dv, "-c", "copy", avi});
        EXPECT_EQ(copied.exitCode, 0) << copied.err;
        return avi;
    }
};

TEST_F(ProbeAgainstPeers, pal_and_ntsc_files_written_by_ffmpeg)
{
    expectProbeAgreesWithMediaInfo(
        ffmpegDvAvi("ffmpeg-pal", "720x576", "25", "yuv420p", "01:02:03:04", "2005-03-05T14:07:09"), 49);
    expectProbeAgreesWithMediaInfo(
        ffmpegDvAvi("ffmpeg-ntsc", "720x480", "30000/1001", "yuv411p", "10:59:59;20", "1998-12-31T23:59:59"), 59);
}

TEST_F(ProbeAgainstPeers, ffmpeg_dv_encoder_alone_writes_no_time_code_or_date)
{
    // Straight into AVI, the DV encoder leaves the subcode packs empty: neither reader may invent one.
    const std::string avi = testDataPath("ffmpeg-direct.avi");
    const CommandResult made =
        runCommand({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=720x576:rate=25", "-f", "lavfi",
                    "-i", "sine=sample_rate=48000", "-t", "1", "-timecode", "01:02:03:04", "-c:v", "dvvideo",
                    "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-ac", "2", avi});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    expectProbeAgreesWithMediaInfo(avi, 25);
    const auto peer = mediaInfoFrames(avi);
    ASSERT_FALSE(peer.empty());
    EXPECT_EQ(peer.front().timecode, "");
    EXPECT_EQ(peer.front().recorded, "");
}

}  // namespace
}  // namespace vantrel::tests
