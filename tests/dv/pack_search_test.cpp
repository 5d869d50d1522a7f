// SPDX-License-Identifier: GPL-3.0-or-later
// Pack search: order over sequences, blocks and slots, the filler test, sequence counts, short spans.
#include "dv/pack_search.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vantrel::dv {
namespace {

using testsupport::SyntheticDvFrame;

constexpr DVPack timeCodePack(std::uint8_t marker) { return DVPack{{kTimeCodePack, marker, 0x11, 0x22, 0x03}}; }

TEST(SubcodePackSearch, takes_the_first_copy_in_sequence_then_block_then_slot_order)
{
    auto frame = SyntheticDvFrame::pal()
                     .withSubcodePack(1, 0, 0, timeCodePack(0x01))   // sequence 1, first block, first slot
                     .withSubcodePack(0, 1, 5, timeCodePack(0x02))   // sequence 0, second block, last slot
                     .withSubcodePack(0, 1, 4, timeCodePack(0x03));  // same block, an earlier slot
    const auto found = FindSubcodePack(frame.span(), VideoSystem::Pal625_50, kTimeCodePack);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pc[1], 0x03);

    frame.withSubcodePack(0, 0, 5, timeCodePack(0x04));  // first block wins over the second
    EXPECT_EQ(FindSubcodePack(frame.span(), VideoSystem::Pal625_50, kTimeCodePack)->pc[1], 0x04);
    EXPECT_EQ(FindSubcodePackIn(frame.span(), kTimeCodePack)->pc[1], 0x04);
}

TEST(SubcodePackSearch, player_side_passes_over_packs_with_ff_in_pc2_to_pc4_but_not_pc1)
{
    for (std::size_t damaged = 2; damaged <= 4; ++damaged) {
        DVPack bad = timeCodePack(0x01);
        bad.pc[damaged] = 0xFF;
        const auto frame = SyntheticDvFrame::pal().withSubcodePack(0, 0, 0, bad).withSubcodePack(0, 0, 1, timeCodePack(0x02));
        EXPECT_EQ(FindSubcodePack(frame.span(), VideoSystem::Pal625_50, kTimeCodePack)->pc[1], 0x02)
            << "PC" << damaged << " = 0xFF";
        EXPECT_EQ(FindSubcodePackIn(frame.span(), kTimeCodePack)->pc[1], 0x02) << "0xFF digits are out of range";
    }
    const auto ffInPc1 = SyntheticDvFrame::pal().withSubcodePack(0, 0, 0, timeCodePack(0xFF));
    EXPECT_FALSE(FindSubcodePack(ffInPc1.span(), VideoSystem::Pal625_50, kTimeCodePack)) << "0xFF frames are out of range";
}

TEST(SubcodePackSearch, player_side_finds_nothing_when_every_copy_is_damaged)
{
    const auto frame = SyntheticDvFrame::pal().withTimecode({1, 2, 3, 4}).withDamagedSubcodePacks(kTimeCodePack);
    EXPECT_FALSE(FindSubcodePack(frame.span(), VideoSystem::Pal625_50, kTimeCodePack));
    EXPECT_FALSE(FindSubcodePackIn(frame.span(), kTimeCodePack));
}

TEST(SubcodePackSearch, player_side_counts_sequences_from_the_video_system_and_copies_the_whole_pack)
{
    const DVPack pack{{kTimeCodePack, 0xC5, 0xD4, 0xD7, 0x04}};
    const auto frame = SyntheticDvFrame::pal().withSubcodePack(10, 1, 2, pack);
    const auto found = FindSubcodePack(frame.span(), VideoSystem::Pal625_50, kTimeCodePack);
    ASSERT_TRUE(found);
    EXPECT_TRUE(std::equal(std::begin(found->pc), std::end(found->pc), std::begin(pack.pc)));
    EXPECT_FALSE(FindSubcodePack(frame.span(), VideoSystem::Ntsc525_60, kTimeCodePack));
    EXPECT_FALSE(FindSubcodePack(frame.span(), VideoSystem::Unknown, kTimeCodePack));
}

TEST(SubcodePackSearch, capture_side_counts_sequences_from_the_length)
{
    const auto frame = SyntheticDvFrame::pal().withSubcodePack(11, 1, 5, timeCodePack(0x01));
    EXPECT_TRUE(FindSubcodePackIn(frame.span(), kTimeCodePack));
    const auto shortByOne = frame.truncatedTo(kPalFrameBytes - 1);
    EXPECT_FALSE(FindSubcodePackIn(shortByOne, kTimeCodePack));

    const auto inTenth = SyntheticDvFrame::pal().withSubcodePack(9, 1, 5, timeCodePack(0x01));
    EXPECT_TRUE(FindSubcodePackIn(inTenth.truncatedTo(kNtscFrameBytes), kTimeCodePack));
}

TEST(PackSearch, short_span_searches_only_the_whole_sequences_it_holds)
{
    // The pack of sequence 2 lies inside the span, but sequence 2 is not whole.
    const auto frame = SyntheticDvFrame::pal()
                           .withSubcodePack(2, 0, 0, timeCodePack(0x01))
                           .withVauxPack(2, 0, 0, DVPack{{kCameraPack, 1, 2, 3, 4}});
    const auto cut = frame.truncatedTo(2 * kSequenceBytes + 480);
    EXPECT_FALSE(FindSubcodePack(cut, VideoSystem::Pal625_50, kTimeCodePack));
    EXPECT_FALSE(FindSubcodePackIn(cut, kTimeCodePack));
    EXPECT_FALSE(FindVauxPack(cut, VideoSystem::Pal625_50, kCameraPack));
    EXPECT_TRUE(FindVauxPack(frame.truncatedTo(3 * kSequenceBytes), VideoSystem::Pal625_50, kCameraPack));

    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{85}, std::size_t{91}, kSequenceBytes - 1}) {
        const auto tiny = SyntheticDvFrame::pal().withSubcodePack(0, 0, 0, timeCodePack(0x01)).truncatedTo(size);
        EXPECT_FALSE(FindSubcodePack(tiny, VideoSystem::Pal625_50, kTimeCodePack)) << size << " bytes";
        EXPECT_FALSE(FindSubcodePackIn(tiny, kTimeCodePack)) << size << " bytes";
    }
}

TEST(PackSearch, reads_headers_only_at_pack_slots)
{
    auto frame = SyntheticDvFrame::pal();
    const auto seq0 = subcodePackOffset(0, 0, 0);
    frame.withByte(seq0 - 1, kTimeCodePack)                      // reserved byte before the first subcode pack
        .withByte(seq0 + 3, kTimeCodePack)                       // inside the pack
        .withByte(subcodePackOffset(0, 0, 5) + 5, kTimeCodePack) // behind the last slot
        .withByte(vauxBlockOffset(0, 0) + 2, kCameraPack)        // block number byte of the VAUX block header
        .withByte(vauxBlockOffset(0, 2) + 78, kCameraPack)       // behind the 15th VAUX slot
        .withByte(vauxPackOffset(0, 0, 1) + 1, kCameraPack);     // inside a pack
    EXPECT_FALSE(FindSubcodePack(frame.span(), VideoSystem::Pal625_50, kTimeCodePack));
    EXPECT_FALSE(FindSubcodePackIn(frame.span(), kTimeCodePack));
    EXPECT_FALSE(FindVauxPack(frame.span(), VideoSystem::Pal625_50, kCameraPack));
}

TEST(VauxPackSearch, takes_the_first_copy_in_sequence_then_block_then_slot_order)
{
    auto frame = SyntheticDvFrame::pal()
                     .withVauxPack(1, 0, 0, DVPack{{kCameraPack, 1, 0, 0, 0}})
                     .withVauxPack(0, 2, 14, DVPack{{kCameraPack, 2, 0, 0, 0}});
    EXPECT_EQ(FindVauxPack(frame.span(), VideoSystem::Pal625_50, kCameraPack)->pc[1], 2);
    frame.withVauxPack(0, 1, 0, DVPack{{kCameraPack, 3, 0, 0, 0}});
    EXPECT_EQ(FindVauxPack(frame.span(), VideoSystem::Pal625_50, kCameraPack)->pc[1], 3);
    frame.withVauxPack(0, 0, 14, DVPack{{kCameraPack, 4, 0, 0, 0}});
    EXPECT_EQ(FindVauxPack(frame.span(), VideoSystem::Pal625_50, kCameraPack)->pc[1], 4);
}

TEST(VauxPackSearch, accepts_any_data_bytes_and_counts_sequences_from_the_video_system)
{
    const DVPack filled{{kCameraPack, 0xFF, 0xFF, 0xFF, 0xFF}};
    const auto frame = SyntheticDvFrame::pal().withVauxPack(11, 2, 14, filled);
    const auto found = FindVauxPack(frame.span(), VideoSystem::Pal625_50, kCameraPack);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pc[4], 0xFF);
    EXPECT_FALSE(FindVauxPack(frame.span(), VideoSystem::Ntsc525_60, kCameraPack));
}

}  // namespace
}  // namespace vantrel::dv
