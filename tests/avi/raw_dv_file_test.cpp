// SPDX-License-Identifier: GPL-3.0-or-later
// Raw DV files (DIF frames back to back) open like DV AVI files: the standard from the DIF header,
// every whole frame as stored; ffmpeg's raw DV counted by ffprobe.
#include "avi/avi_test_files.h"
#include "avi/dv_avi.h"
#include "support/run_tool.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>


namespace vantrel::avi {
namespace {

using namespace testsupport;

struct StandardCase {
    const char* name;
    bool isPal;
    std::uint32_t dwRate, dwScale;
    std::size_t frameBytes;
};

const StandardCase kStandards[] = {
    {"pal", true, 25, 1, 144000},
    {"ntsc", false, 30000, 1001, 120000},
};

TEST(RawDvFile, opens_both_standards_with_every_whole_frame)
{
    for (const auto& c : kStandards) {
        SCOPED_TRACE(c.name);
        // Frame i carries the time code 00:00:ss ff = i.
        auto bytes = joinFrames(toneFrames(c.isPal ? dv::VideoSystem::Pal625_50 : dv::VideoSystem::Ntsc525_60, 30));
        bytes.resize(bytes.size() + 5000, std::byte{0x55});  // an interrupted recording's torn frame
        auto dv = OpenDVAvi(writeTestFile(std::string(c.name) + ".dv", bytes));
        ASSERT_TRUE(dv) << dv.error();
        EXPECT_EQ(dv->IsPAL(), c.isPal);
        EXPECT_EQ(dv->streamInfo().dwRate, c.dwRate);
        EXPECT_EQ(dv->streamInfo().dwScale, c.dwScale);
        ASSERT_EQ(dv->frameCount(), 30u);
        ASSERT_EQ(dv->reader().notes().size(), 1u);
        EXPECT_NE(dv->reader().notes().front().find("5000 bytes"), std::string::npos);
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        auto read = dv->readFrame(29, frame);
        ASSERT_TRUE(read && *read == c.frameBytes);
        EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(c.frameBytes),
                               bytes.begin() + static_cast<std::ptrdiff_t>(29 * c.frameBytes)));
    }
}

// Files that must not be taken for raw DV, by their defect.
TEST(RawDvFile, refuses_files_that_do_not_begin_a_dv_frame)
{
    const auto frame = SyntheticDvFrame::pal().bytes();
    auto headerWithoutSubcode = frame;
    headerWithoutSubcode[dv::kDifBlockBytes] = std::byte{0x5F};  // block 1 a VAUX block (section type 2)
    const std::pair<const char*, std::vector<std::byte>> cases[] = {
        {"empty", {}},
        {"shorter_than_one_frame", std::vector<std::byte>(frame.begin(), frame.begin() + 100000)},
        {"begins_at_sequence_1", std::vector<std::byte>(frame.begin() + dv::kSequenceBytes, frame.end())},
        {"header_block_without_subcode_behind_it", headerWithoutSubcode},
        {"text", std::vector<std::byte>(200000, std::byte{'a'})},
    };
    for (const auto& [defect, bytes] : cases) EXPECT_FALSE(OpenDVAvi(writeTestFile(std::string(defect) + ".dv", bytes))) << defect;
}

TEST(RawDvFile, opens_pal_and_ntsc_raw_dv_written_by_ffmpeg_frame_for_frame)
{
    if (!hasTool("ffmpeg") || !hasTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    for (const auto& c : kStandards) {
        SCOPED_TRACE(c.name);
        const std::string path = testPath(std::string(c.name) + ".dv").string();
        ASSERT_EQ(runShell(std::string("ffmpeg -v error -y -f lavfi -i testsrc=") +
                           (c.isPal ? "size=720x576:rate=25" : "size=720x480:rate=30000/1001") +
                           " -f lavfi -i sine=sample_rate=48000 -t 1.5 -ac 2 -c:v dvvideo -pix_fmt " +
                           (c.isPal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le -f dv " +
                           shellQuote(path)).exitCode, 0);
        const auto probed = runShell("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                                     "stream=nb_read_packets -of csv=p=0 " + shellQuote(path));
        auto dv = OpenDVAvi(path);
        ASSERT_TRUE(dv) << dv.error();
        EXPECT_EQ(dv->IsPAL(), c.isPal);
        EXPECT_EQ(std::to_string(dv->frameCount()) + "\n", probed.out);
        EXPECT_TRUE(dv->reader().notes().empty());
    }
}

}  // namespace
}  // namespace vantrel::avi
