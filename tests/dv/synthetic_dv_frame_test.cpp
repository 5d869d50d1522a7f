// SPDX-License-Identifier: GPL-3.0-or-later
// The test frame builder writes frames that DV tools read the way this program does.
#include "dv/pack_decoders.h"
#include "scoped_time_zone.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

namespace vantrel::dv {
namespace {

using testsupport::SyntheticDvFrame;

std::uint8_t byteAt(const SyntheticDvFrame& frame, std::size_t offset)
{
    return static_cast<std::uint8_t>(frame.bytes().at(offset));
}

TEST(SyntheticDvFrame, every_block_carries_its_section_sequence_and_number)
{
    for (const auto& frame : {SyntheticDvFrame::pal(), SyntheticDvFrame::ntsc()}) {
        int counts[5][12] = {};
        for (std::size_t s = 0; s < frame.sequences(); ++s) {
            int next[5] = {};
            for (std::size_t i = 0; i < kBlocksPerSequence; ++i) {
                const std::size_t at = s * kSequenceBytes + i * kDifBlockBytes;
                const int section = byteAt(frame, at) >> 5;
                ASSERT_LT(section, 5);
                EXPECT_EQ(byteAt(frame, at + 1) >> 4, static_cast<int>(s));
                EXPECT_EQ(byteAt(frame, at + 2), next[section]++) << "sequence " << s << " block " << i;
                ++counts[section][s];
            }
            EXPECT_EQ(counts[0][s], 1);
            EXPECT_EQ(counts[1][s], 2);
            EXPECT_EQ(counts[2][s], 3);
            EXPECT_EQ(counts[3][s], 9);
            EXPECT_EQ(counts[4][s], 135);
        }
        const bool isPal = frame.system() == VideoSystem::Pal625_50;
        EXPECT_EQ(byteAt(frame, 3) >> 7, isPal ? 1 : 0);  // DSF: 625/50 lines
    }
}

TEST(SyntheticDvFrame, puts_time_code_first_and_date_in_the_second_half)
{
    const auto frame = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9}).withTimecode({0, 12, 31, 4});
    EXPECT_EQ(byteAt(frame, subcodePackOffset(0, 0, 0)), kTimeCodePack);
    EXPECT_EQ(byteAt(frame, subcodePackOffset(5, 1, 1)), kFillerPack);
    EXPECT_EQ(byteAt(frame, subcodePackOffset(6, 0, 0)), kRecordingDatePack);
    EXPECT_EQ(byteAt(frame, subcodePackOffset(6, 0, 1)), kRecordingTimePack);
    EXPECT_EQ(byteAt(frame, subcodePackOffset(0, 0, 0) + 4), 0xC0);  // hours 00, reserved bits 1
    EXPECT_EQ(byteAt(frame, subcodePackOffset(6, 0, 0) + 3), 0xE7);  // month 7
    EXPECT_EQ(byteAt(frame, subcodePackOffset(6, 0, 0) + 4), 0x04);  // year 04
    EXPECT_THROW(SyntheticDvFrame::pal().withTimecode({24, 0, 0, 0}), std::invalid_argument);
    EXPECT_THROW(SyntheticDvFrame::ntsc().withSubcodePack(10, 0, 0, DVPack{}), std::out_of_range);
}

// Runs a shell command and returns its standard output, or nothing when it could not run.
std::optional<std::string> run(const std::string& command)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string output;
    std::array<char, 256> chunk{};
    while (std::fgets(chunk.data(), chunk.size(), pipe)) output += chunk.data();
    if (::pclose(pipe) != 0) return std::nullopt;
    return output;
}

bool hasTool(const char* name) { return run(std::string("command -v ") + name + " >/dev/null 2>&1").has_value(); }

std::string writeRawDv(const SyntheticDvFrame& frame, const std::string& name, int frames)
{
    const std::string path = std::string(VANTREL_TEST_DATA_DIR) + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < frames; ++i)
        out.write(reinterpret_cast<const char*>(frame.bytes().data()), static_cast<std::streamsize>(frame.bytes().size()));
    return path;
}

TEST(SyntheticDvFramePeers, ffprobe_reads_the_time_code_and_ffmpeg_decodes_the_picture)
{
    if (!hasTool("ffprobe") || !hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    const std::pair<SyntheticDvFrame, const char*> cases[] = {
        {SyntheticDvFrame::pal().withTimecode({0, 12, 31, 4}), "720x576"},
        {SyntheticDvFrame::ntsc().withTimecode({0, 12, 31, 4}), "720x480"},
    };
    for (const auto& [frame, size] : cases) {
        const auto path = writeRawDv(frame, std::string("synthetic_") + size + ".dv", 3);
        const auto decoded = DecodeTimeCode(frame.span(), frame.system());
        ASSERT_TRUE(decoded);
        const auto tag = run("ffprobe -v error -show_entries format_tags=timecode -of default=nw=1:nk=1 '" + path + "'");
        ASSERT_TRUE(tag);
        // The builder sets the drop-frame flag, which ffprobe heeds only for 525/60 frames.
        const char frameSeparator = frame.system() == VideoSystem::Ntsc525_60 ? ';' : ':';
        char ours[32];
        std::snprintf(ours, sizeof ours, "%02d:%02d:%02d%c%02d\n", decoded->hours, decoded->minutes, decoded->seconds,
                      frameSeparator, decoded->frames);
        EXPECT_EQ(*tag, ours);
        const auto stream = run("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=width,height,nb_read_frames -of csv=p=0:s=x '" + path + "'");
        ASSERT_TRUE(stream);
        EXPECT_EQ(*stream, std::string(size) + "x3\n");
        // Every pixel decodes to mid-grey: the mean of the frame is 128 within rounding.
        const auto mean = run("ffmpeg -v error -i '" + path + "' -frames:v 1 -vf signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=- -f null - ");
        ASSERT_TRUE(mean);
        EXPECT_NE(mean->find("lavfi.signalstats.YAVG=12"), std::string::npos) << *mean;
    }
}

TEST(SyntheticDvFramePeers, mediainfo_reads_the_recording_date_and_the_standard)
{
    if (!hasTool("mediainfo")) GTEST_SKIP() << "mediainfo not installed";
    const auto pal = SyntheticDvFrame::pal().withRecordingDate({2004, 7, 14}, {18, 3, 9});
    // mediainfo's own century pivot differs from ours from year code 30 on: stay below.
    const auto ntsc = SyntheticDvFrame::ntsc().withRecordingDate({2012, 1, 2}, {3, 4, 5});
    const auto inform = [](const std::string& path) {
        const auto standard = run("mediainfo --Inform='Video;%Standard% ' '" + path + "'");
        const auto date = run("mediainfo --Inform='General;%Recorded_Date%' '" + path + "'");
        if (!standard || !date) return std::optional<std::string>{};
        return std::optional<std::string>(standard->substr(0, standard->find('\n')) + *date);
    };
    const auto palOut = inform(writeRawDv(pal, "synthetic_pal_date.dv", 2));
    const auto ntscOut = inform(writeRawDv(ntsc, "synthetic_ntsc_date.dv", 2));
    ASSERT_TRUE(palOut && ntscOut);
    EXPECT_EQ(palOut->rfind("PAL 2004-07-14 18:03:09", 0), 0u) << *palOut;
    EXPECT_EQ(ntscOut->rfind("NTSC 2012-01-02 03:04:05", 0), 0u) << *ntscOut;

    const test::ScopedTimeZone zone{test::kUtc};
    std::tm tm{};
    ASSERT_TRUE(DecodeRecordingDate(ntsc.span(), VideoSystem::Ntsc525_60, tm));
    char ours[32];
    std::strftime(ours, sizeof ours, "%Y-%m-%d %H:%M:%S", &tm);
    EXPECT_NE(ntscOut->find(ours), std::string::npos) << ours;
}

}  // namespace
}  // namespace vantrel::dv
