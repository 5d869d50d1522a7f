// SPDX-License-Identifier: GPL-3.0-or-later
// Shutter speed from the consumer camera shutter pack: word decoding, rounding, slots, sequences.
#include "dv/pack_decoders.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

namespace vantrel::dv {
namespace {

using testsupport::SyntheticDvFrame;

double shutterOf(std::uint16_t word)
{
    const auto frame = SyntheticDvFrame::pal().withShutterWord(word);
    return DecodeShutter(frame.span(), VideoSystem::Pal625_50);
}

TEST(Shutter, turns_words_into_shutter_denominators)
{
    struct Case {
        std::uint16_t word;
        double shutter;
    };
    const Case cases[] = {
        {0x0138, 50.0},     // v = 312
        {0x009C, 100.0},    // v = 156
        {0x0001, 15600.0},  // the fastest
        {0x81FF, 31.0},     // 30.53 goes up
        {0x84E0, 12.0},     // exactly 12.5 goes down
        {0x0130, 51.0},     // bit 8 is part of v: 304
        {0x0330, 51.0},     // below 0x8138 only the low nine bits count
        {0x4138, 50.0},
        {0x8100, 61.0},     // v = 256
        {0x8137, 50.0},     // v = 311, 50.16
        {0x8138, 50.0},     // from here v = w - 0x8000
        {0x8200, 30.0},     // v = 512, 30.47; the nine-bit mask would give 0
        {0x9000, 4.0},      // v = 4096, 3.81 goes up
        {0xFFFE, 0.0},      // v = 32766, 0.476
        {0x0002, 7800.0},
        {0x0003, 5200.0},
        {0x0007, 2229.0},   // 2228.57 goes up
    };
    for (const auto& c : cases) EXPECT_EQ(shutterOf(c.word), c.shutter) << std::hex << c.word;
}

TEST(Shutter, words_without_a_value_give_none)
{
    // v = 255 is the camcorder's "no value"; v = 0 would divide by zero; 0xFFFF is an empty slot.
    for (std::uint16_t word : {0x80FF, 0x00FF, 0x02FF, 0x0000, 0x0200, 0x4000, 0x8000, 0xFFFF})
        EXPECT_EQ(shutterOf(word), -1.0) << std::hex << word;
}

TEST(Shutter, the_preferred_slot_wins_and_an_empty_one_falls_back_to_slot_1)
{
    auto frame = SyntheticDvFrame::pal().withShutterWordAt(0, 2, 0x009C).withShutterWordAt(0, 1, 0x0138);
    EXPECT_EQ(DecodeShutter(frame.span(), VideoSystem::Pal625_50), 100.0);
    frame.withShutterWordAt(0, 2, 0xFFFF);
    EXPECT_EQ(DecodeShutter(frame.span(), VideoSystem::Pal625_50), 50.0);
}

TEST(Shutter, a_word_counts_only_under_the_shutter_pack_header)
{
    // A 0x7E pack in slot 2 does not hide a shutter pack in slot 1.
    const auto otherPreferred = SyntheticDvFrame::pal().withShutterWordAt(0, 2, 0x009C, 0x7E).withShutterWordAt(0, 1, 0x0138);
    EXPECT_EQ(DecodeShutter(otherPreferred.span(), VideoSystem::Pal625_50), 50.0);
    // A word under any other header reads as empty.
    const auto otherFallback = SyntheticDvFrame::pal().withShutterWordAt(0, 1, 0x0138, 0x71);
    EXPECT_EQ(DecodeShutter(otherFallback.span(), VideoSystem::Pal625_50), -1.0);
    const auto filler = SyntheticDvFrame::pal().withShutterWordAt(0, 2, 0x0138, kFillerPack);
    EXPECT_EQ(DecodeShutter(filler.span(), VideoSystem::Pal625_50), -1.0);
}

TEST(Shutter, only_even_sequences_count_and_the_first_value_wins)
{
    const auto inSecondEven = SyntheticDvFrame::pal().withShutterWordAt(0, 2, 0xFFFF).withShutterWordAt(2, 2, 0x0138);
    EXPECT_EQ(DecodeShutter(inSecondEven.span(), VideoSystem::Pal625_50), 50.0);
    const auto onlyOdd = SyntheticDvFrame::pal().withShutterWordAt(1, 2, 0x0138).withShutterWordAt(11, 1, 0x0138);
    EXPECT_EQ(DecodeShutter(onlyOdd.span(), VideoSystem::Pal625_50), -1.0);
    const auto afterZero = SyntheticDvFrame::pal().withShutterWordAt(0, 2, 0x0200).withShutterWordAt(4, 2, 0x009C)
                               .withShutterWordAt(6, 2, 0x0138);
    EXPECT_EQ(DecodeShutter(afterZero.span(), VideoSystem::Pal625_50), 100.0);
}

TEST(Shutter, counts_sequences_from_the_video_system_and_the_span)
{
    const auto inTenth = SyntheticDvFrame::pal().withShutterWordAt(10, 2, 0x0138);
    EXPECT_EQ(DecodeShutter(inTenth.span(), VideoSystem::Pal625_50), 50.0);
    EXPECT_EQ(DecodeShutter(inTenth.span(), VideoSystem::Ntsc525_60), -1.0);
    EXPECT_EQ(DecodeShutter(inTenth.truncatedTo(11 * kSequenceBytes - 1), VideoSystem::Pal625_50), -1.0);
    EXPECT_EQ(DecodeShutter(inTenth.truncatedTo(11 * kSequenceBytes), VideoSystem::Pal625_50), 50.0);
    const auto ntsc = SyntheticDvFrame::ntsc().withShutterWordAt(8, 1, 0x009C);
    EXPECT_EQ(DecodeShutter(ntsc.span(), VideoSystem::Ntsc525_60), 100.0);
}

TEST(Shutter, a_short_block_gives_no_value)
{
    const auto frame = SyntheticDvFrame::pal().withShutterWord(0x0138);
    const auto block = frame.span().subspan(vauxBlockOffset(0, 0), kDifBlockBytes);
    EXPECT_EQ(DecodeShutterInSequence(block, 0), 50.0);
    EXPECT_EQ(DecodeShutterInSequence(block, 1), -1.0);
    EXPECT_EQ(DecodeShutterInSequence(block.first(18), 0), 50.0);
    EXPECT_EQ(DecodeShutterInSequence(block.first(17), 0), -1.0);  // slot 1 is a filler pack
    EXPECT_EQ(DecodeShutterInSequence(block.first(0), 0), -1.0);
}

}  // namespace
}  // namespace vantrel::dv
