// SPDX-License-Identifier: GPL-3.0-or-later
// Raw DV files (DIF frames back to back) open like DV AVI files: the standard from the DIF header,
// every whole frame as stored, the analysis thread over them; ffmpeg's raw DV counted by ffprobe.
#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "avi/raw_dv_file.h"
#include "avi/test_avi_builder.h"
#include "support/synthetic_dv_frame.h"
#include "tests/dv/audio_test_media.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace vantrel::avi {
namespace {

using testsupport::SyntheticDvFrame;
using testsupport::writeTestFile;

std::string testName()
{
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// Frame i carries the time code 00:00:ss ff = i.
std::vector<std::byte> rawFrames(bool isPal, int count)
{
    std::vector<std::byte> bytes;
    for (int i = 0; i < count; ++i) {
        auto frame = isPal ? SyntheticDvFrame::pal() : SyntheticDvFrame::ntsc();
        frame.withTimecode({0, 0, i / 25, i % 25}).withRecordingDate({2011, 3, 9}, {7, 45, i % 60});
        bytes.insert(bytes.end(), frame.bytes().begin(), frame.bytes().end());
    }
    return bytes;
}

struct StandardCase {
    const char* name;
    bool isPal;
    std::uint32_t dwRate;
    std::uint32_t dwScale;
    std::size_t frameBytes;
};

const StandardCase kStandards[] = {
    {"pal", true, 25, 1, 144000},
    {"ntsc", false, 30000, 1001, 120000},
};

TEST(RawDvFile, opens_both_standards_as_one_interleaved_stream_of_whole_frames)
{
    for (const auto& c : kStandards) {
        SCOPED_TRACE(c.name);
        const auto bytes = rawFrames(c.isPal, 7);
        auto dv = OpenDVAvi(writeTestFile(testName() + "_" + c.name + ".dv", bytes));
        ASSERT_TRUE(dv) << dv.error();
        EXPECT_EQ(dv->IsPAL(), c.isPal);
        EXPECT_EQ(dv->streamInfo().fccType, kInterleavedStream);
        EXPECT_EQ(dv->streamInfo().dwRate, c.dwRate);
        EXPECT_EQ(dv->streamInfo().dwScale, c.dwScale);
        EXPECT_EQ(dv->streamInfo().dwLength, 7u);
        EXPECT_EQ(dv->streamInfo().dwSuggestedBufferSize, c.frameBytes);
        EXPECT_TRUE(dv->reader().notes().empty());
        ASSERT_EQ(dv->frameCount(), 7u);
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        for (std::size_t i = 0; i < 7; ++i) {
            auto read = dv->readFrame(i, frame);
            ASSERT_TRUE(read) << read.error().message;
            ASSERT_EQ(*read, c.frameBytes);
            EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(c.frameBytes),
                                   bytes.begin() + static_cast<std::ptrdiff_t>(i * c.frameBytes)))
                << "frame " << i;
        }
    }
}

TEST(RawDvFile, analysis_thread_decodes_every_frame_of_a_raw_file)
{
    for (const auto& c : kStandards) {
        SCOPED_TRACE(c.name);
        auto dv = OpenDVAvi(writeTestFile(testName() + "_" + c.name + ".dv", rawFrames(c.isPal, 40)));
        ASSERT_TRUE(dv) << dv.error();
        AnalysisThread analysis;
        analysis.start(std::make_shared<const DvAvi>(std::move(*dv)));
        analysis.waitUntilFinished();
        EXPECT_EQ(analysis.framesDone(), 40u);
        EXPECT_EQ(analysis.readFailures(), 0u);
        for (const int i : {0, 1, 24, 25, 39}) {
            auto record = analysis.recordFor(static_cast<std::size_t>(i));
            ASSERT_TRUE(record);
            char timeCode[32];
            std::snprintf(timeCode, sizeof timeCode, "TimeCode 00:00:%02d   %02d", i / 25, i % 25);
            EXPECT_EQ(std::string(record->szTimeCode), timeCode) << "frame " << i;
            EXPECT_EQ(record->tmRecorded.tm_year, 111) << "frame " << i;
            EXPECT_EQ(record->tmRecorded.tm_sec, i % 60) << "frame " << i;
        }
    }
}

TEST(RawDvFile, an_interrupted_recording_ends_at_its_last_whole_frame_and_says_so)
{
    auto bytes = rawFrames(true, 3);
    bytes.resize(bytes.size() + 5000, std::byte{0x55});
    auto dv = OpenDVAvi(writeTestFile(testName() + ".dv", bytes));
    ASSERT_TRUE(dv) << dv.error();
    EXPECT_EQ(dv->frameCount(), 3u);
    ASSERT_EQ(dv->reader().notes().size(), 1u);
    EXPECT_NE(dv->reader().notes().front().find("5000 bytes"), std::string::npos) << dv->reader().notes().front();
}

// Files that must not be taken for raw DV, by their defect.
TEST(RawDvFile, refuses_files_that_do_not_begin_a_dv_frame)
{
    const auto frame = SyntheticDvFrame::pal().bytes();
    // A stream cut inside a frame: it begins at sequence 1.
    const std::vector<std::byte> secondSequenceFirst(frame.begin() + dv::kSequenceBytes, frame.end());
    auto headerWithoutSubcode = frame;
    headerWithoutSubcode[dv::kDifBlockBytes] = std::byte{0x5F};  // block 1 a VAUX block (section type 2)
    auto text = std::vector<std::byte>(200000, std::byte{'a'});
    struct Case {
        const char* defect;
        std::vector<std::byte> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"shorter_than_two_blocks", std::vector<std::byte>(frame.begin(), frame.begin() + 100)},
        {"shorter_than_one_frame", std::vector<std::byte>(frame.begin(), frame.begin() + 100000)},
        {"begins_at_sequence_1", secondSequenceFirst},
        {"header_block_without_subcode_behind_it", headerWithoutSubcode},
        {"text", text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defect);
        auto dv = OpenDVAvi(writeTestFile(testName() + "_" + c.defect + ".dv", c.bytes));
        EXPECT_FALSE(dv);
    }
}

TEST(RawDvFile, the_dsf_bit_of_the_header_block_decides_the_standard)
{
    auto pal = SyntheticDvFrame::pal().bytes();
    auto ntsc = SyntheticDvFrame::ntsc().bytes();
    auto palWithNtscFlag = pal;
    palWithNtscFlag[3] &= std::byte{0x7F};
    auto ntscWithPalFlag = ntsc;
    ntscWithPalFlag[3] |= std::byte{0x80};
    struct Case {
        const char* name;
        const std::vector<std::byte>& bytes;
        dv::VideoSystem expected;
    };
    const Case cases[] = {
        {"pal", pal, dv::VideoSystem::Pal625_50},
        {"ntsc", ntsc, dv::VideoSystem::Ntsc525_60},
        {"pal_frame_with_flag_cleared", palWithNtscFlag, dv::VideoSystem::Ntsc525_60},
        {"ntsc_frame_with_flag_set", ntscWithPalFlag, dv::VideoSystem::Pal625_50},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(videoSystemOfRawDv(c.bytes), c.expected) << c.name;
    }
}

TEST(RawDvFile, opens_pal_and_ntsc_raw_dv_written_by_ffmpeg_frame_for_frame)
{
    using testmedia::captureOutput;
    if (!testmedia::hasTool("ffmpeg") || !testmedia::hasTool("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const auto& c : kStandards) {
        SCOPED_TRACE(c.name);
        const auto dir = std::filesystem::path(VANTREL_TEST_DATA_DIR) / "avi";
        std::filesystem::create_directories(dir);
        const auto path = dir / (testName() + "_" + c.name + ".dv");
        ASSERT_TRUE(testmedia::run(std::string("ffmpeg -v error -y -f lavfi -i testsrc=") +
                                   (c.isPal ? "size=720x576:rate=25" : "size=720x480:rate=30000/1001") +
                                   " -f lavfi -i sine=sample_rate=48000 -t 1.5 -ac 2 -c:v dvvideo -pix_fmt " +
                                   (c.isPal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -f dv " +
                                   testmedia::shellQuoted(path)));
        long packets = -1;
        ASSERT_EQ(std::sscanf(captureOutput("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                                            "stream=nb_read_packets -of csv=p=0 " + testmedia::shellQuoted(path))
                                  .c_str(),
                              "%ld", &packets),
                  1);
        auto dv = OpenDVAvi(path.string());
        ASSERT_TRUE(dv) << dv.error();
        EXPECT_EQ(dv->IsPAL(), c.isPal);
        EXPECT_EQ(dv->frameCount(), static_cast<std::size_t>(packets));
        EXPECT_TRUE(dv->reader().notes().empty());
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        for (std::size_t i = 0; i < dv->frameCount(); ++i) {
            auto read = dv->readFrame(i, frame);
            ASSERT_TRUE(read);
            ASSERT_EQ(*read, c.frameBytes);
            ASSERT_EQ(videoSystemOfRawDv(frame), c.isPal ? dv::VideoSystem::Pal625_50 : dv::VideoSystem::Ntsc525_60)
                << "frame " << i << " does not begin where a frame begins";
        }
    }
}

}  // namespace
}  // namespace vantrel::avi
