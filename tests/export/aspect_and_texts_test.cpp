// SPDX-License-Identifier: GPL-3.0-or-later
// The display aspect from the video source control pack, and the scene and cue texts' time
// arithmetic; ffprobe reads the aspect of the exports in the export test.
#include "tape_fixture.h"

#include "dv/display_aspect.h"
#include "pipeline/date_subtitles.h"
#include "pipeline/scene_list.h"
#include "support/synthetic_dv_frame.h"

namespace vantrel::exporttest {
namespace {

using testsupport::SyntheticDvFrame;

// The synthetic frame writes its own 0x61 packs; the case's pack goes into an earlier slot of
// sequence 0, where the search meets it first. Bits 2..0 of PC2 hold the display mode.
struct AspectCase {
    const char* name;
    std::uint8_t pc2;
    dv::DisplayAspect expected;
};

const AspectCase kAspectCases[] = {
    {"full_frame_4x3", 0xC8, dv::DisplayAspect::Standard4x3},
    {"letterbox_in_4x3", 0xC9, dv::DisplayAspect::Standard4x3},
    {"squeezed_16x9", 0xCA, dv::DisplayAspect::Wide16x9},
    {"reserved_mode_6", 0xCE, dv::DisplayAspect::Unknown},  // all three bits count
    {"reserved_mode_7", 0xCF, dv::DisplayAspect::Unknown},
};

TEST(DisplayAspect, reads_the_display_mode_bits_of_the_first_source_control_pack_or_else_is_unknown)
{
    for (const AspectCase& c : kAspectCases) {
        for (auto frame : {SyntheticDvFrame::pal(), SyntheticDvFrame::ntsc()}) {
            frame.withVauxPack(0, 0, 5, dv::DVPack{{0x61, 0x3F, c.pc2, 0xFC, 0xFF}});
            EXPECT_EQ(dv::DecodeDisplayAspect(frame.span(), frame.system()), c.expected) << c.name;
        }
    }
    // A frame without any pack.
    const std::vector<std::byte> blank(dv::kPalFrameBytes);
    EXPECT_EQ(dv::DecodeDisplayAspect(blank, dv::VideoSystem::Pal625_50), dv::DisplayAspect::Unknown);
}

// Durations are tenths of a second, truncated: PAL 25 frames a second, NTSC 30000/1001.
struct DurationCase {
    std::size_t frames;
    dv::VideoSystem system;
    const char* text;
};

const DurationCase kDurationCases[] = {
    {3, dv::VideoSystem::Pal625_50, "0:00:00.1"},
    {90000, dv::VideoSystem::Pal625_50, "1:00:00.0"},
    {180001, dv::VideoSystem::Pal625_50, "2:00:00.0"},
    {107892, dv::VideoSystem::Ntsc525_60, "0:59:59.9"}, // an hour of drop-frame time code: 3599.996 s
};

TEST(SceneTexts, duration_is_truncated_to_tenths)
{
    for (const DurationCase& c : kDurationCases) {
        EXPECT_EQ(pipeline::sceneDurationText(c.frames, c.system), c.text) << c.frames << " frames";
    }
}

// Cue times round to the millisecond; NTSC frame 3 starts at 100.1 ms, frame 1000 at 33366.7 ms.
TEST(SubtitleTimes, frame_start_in_milliseconds)
{
    const std::pair<std::size_t, std::int64_t> pal[] = {{0, 0}, {1, 40}, {25, 1000}, {90000, 3600000}};
    for (const auto& [frame, ms] : pal) EXPECT_EQ(pipeline::frameTimeMs(frame, dv::VideoSystem::Pal625_50), ms);
    const std::pair<std::size_t, std::int64_t> ntsc[] = {{0, 0}, {3, 100}, {30, 1001}, {1000, 33367}};
    for (const auto& [frame, ms] : ntsc) EXPECT_EQ(pipeline::frameTimeMs(frame, dv::VideoSystem::Ntsc525_60), ms);
}

}  // namespace
}  // namespace vantrel::exporttest
