// SPDX-License-Identifier: GPL-3.0-or-later
// The test frame builder writes frames that DV tools read the way this program does.
#include "dv/pack_decoders.h"
#include "scoped_time_zone.h"
#include "support/synthetic_dv_frame.h"
#include "tests/dv/audio_test_media.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>

namespace vantrel::dv {
namespace {

using testmedia::captureOutput;
using testsupport::SyntheticDvFrame;

std::uint8_t byteAt(const SyntheticDvFrame& frame, std::size_t offset)
{
    return static_cast<std::uint8_t>(frame.bytes().at(offset));
}

TEST(SyntheticDvFrame, every_block_carries_its_section_sequence_and_number)
{
    for (const auto& frame : {SyntheticDvFrame::pal(), SyntheticDvFrame::ntsc()}) {
        for (std::size_t s = 0; s < frame.sequences(); ++s) {
            int next[5] = {};  // the next block number of each section type
            for (std::size_t i = 0; i < kBlocksPerSequence; ++i) {
                const std::size_t at = s * kSequenceBytes + i * kDifBlockBytes;
                const int section = byteAt(frame, at) >> 5;
                ASSERT_LT(section, 5);
                EXPECT_EQ(byteAt(frame, at + 1) >> 4, static_cast<int>(s));
                EXPECT_EQ(byteAt(frame, at + 2), next[section]++) << "sequence " << s << " block " << i;
            }
            EXPECT_EQ((std::array{next[0], next[1], next[2], next[3], next[4]}), (std::array{1, 2, 3, 9, 135}));
        }
        const bool isPal = frame.system() == VideoSystem::Pal625_50;
        EXPECT_EQ(byteAt(frame, 3) >> 7, isPal ? 1 : 0);  // DSF: 625/50 lines
    }
}

std::string writeRawDv(const SyntheticDvFrame& frame, const std::string& name, int frames)
{
    std::vector<std::byte> bytes;
    for (int i = 0; i < frames; ++i) bytes.insert(bytes.end(), frame.bytes().begin(), frame.bytes().end());
    const auto path = testmedia::testDataDir() / name;
    testmedia::writeFileBytes(path, bytes);
    return path.string();
}

TEST(SyntheticDvFramePeers, ffprobe_reads_the_time_code_and_ffmpeg_decodes_the_picture)
{
    if (!testmedia::hasTool("ffprobe") || !testmedia::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const std::pair<SyntheticDvFrame, const char*> cases[] = {
        {SyntheticDvFrame::pal().withTimecode({0, 12, 31, 4}), "720x576"},
        {SyntheticDvFrame::ntsc().withTimecode({0, 12, 31, 4}), "720x480"},
    };
    for (const auto& [frame, size] : cases) {
        const auto path = writeRawDv(frame, std::string("synthetic_") + size + ".dv", 3);
        const auto decoded = DecodeTimeCode(frame.span(), frame.system());
        ASSERT_TRUE(decoded);
        const auto tag = captureOutput("ffprobe -v error -show_entries format_tags=timecode -of default=nw=1:nk=1 '" + path + "'");
        // The builder sets the drop-frame flag, which ffprobe heeds only for 525/60 frames.
        const char frameSeparator = frame.system() == VideoSystem::Ntsc525_60 ? ';' : ':';
        char ours[32];
        std::snprintf(ours, sizeof ours, "%02d:%02d:%02d%c%02d\n", decoded->hours, decoded->minutes, decoded->seconds,
                      frameSeparator, decoded->frames);
        EXPECT_EQ(tag, ours);
        const auto stream = captureOutput("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=width,height,nb_read_frames -of csv=p=0:s=x '" + path + "'");
        EXPECT_EQ(stream, std::string(size) + "x3\n");
        // Every pixel decodes to mid-grey: the mean of the frame is 128 within rounding.
        const auto mean = captureOutput("ffmpeg -v error -i '" + path + "' -frames:v 1 -vf signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=- -f null - ");
        EXPECT_NE(mean.find("lavfi.signalstats.YAVG=12"), std::string::npos) << mean;
    }
}

TEST(SyntheticDvFramePeers, mediainfo_reads_the_recording_date_and_the_standard)
{
    if (!testmedia::hasTool("mediainfo")) GTEST_SKIP() << "mediainfo not installed";
    const auto pal = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9});
    // mediainfo's own century pivot differs from ours from year code 30 on: stay below.
    const auto ntsc = SyntheticDvFrame::ntsc().withRecordingDate({2012, 1, 2}, {3, 4, 5});
    const auto inform = [](const std::string& path) {
        const auto standard = captureOutput("mediainfo --Inform='Video;%Standard% ' '" + path + "'");
        return standard.substr(0, standard.find('\n')) + captureOutput("mediainfo --Inform='General;%Recorded_Date%' '" + path + "'");
    };
    const auto palOut = inform(writeRawDv(pal, "synthetic_pal_date.dv", 2));
    const auto ntscOut = inform(writeRawDv(ntsc, "synthetic_ntsc_date.dv", 2));
    EXPECT_EQ(palOut.rfind("PAL 2004-07-14 18:03:09", 0), 0u) << palOut;
    EXPECT_EQ(ntscOut.rfind("NTSC 2012-01-02 03:04:05", 0), 0u) << ntscOut;

    const test::ScopedTimeZone zone{test::kUtc};
    std::tm tm{};
    ASSERT_TRUE(DecodeRecordingDate(ntsc.span(), VideoSystem::Ntsc525_60, tm));
    char ours[32];
    std::strftime(ours, sizeof ours, "%Y-%m-%d %H:%M:%S", &tm);
    EXPECT_NE(ntscOut.find(ours), std::string::npos) << ours;
}

}  // namespace
}  // namespace vantrel::dv
