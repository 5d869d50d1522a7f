// SPDX-License-Identifier: GPL-3.0-or-later
// Shutter speed from the consumer camera shutter pack: word decoding per system, rounding, slots, sequences.
#include "dv/pack_decoders.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

namespace vantrel::dv {
namespace {

using testsupport::SyntheticDvFrame;

double shutterOf(std::uint16_t word, VideoSystem system)
{
    const auto frame = system == VideoSystem::Pal625_50 ? SyntheticDvFrame::pal() : SyntheticDvFrame::ntsc();
    return DecodeShutter(SyntheticDvFrame(frame).withShutterWord(word).span(), system);
}

// Expected values by hand: PAL shows 312 lines x 50 fields / v = 15600 / v, NTSC 262 x 60 / v =
// 15720 / v, a fraction above .5 going up and .5 itself down.
TEST(Shutter, turns_words_into_shutter_denominators_with_the_lines_of_the_system)
{
    struct Case {
        std::uint16_t word;
        double pal;
        double ntsc;
    };
    const Case cases[] = {
        {0x809D, 99.0, 100.0},      // a Sony Digital8 at 1/100: v = 157; PAL 99.36, NTSC 100.13
        {0x0106, 60.0, 60.0},       // v = 262: NTSC 1/60 exactly, PAL 59.54 goes up
        {0x003F, 248.0, 250.0},     // v = 63: NTSC 249.52 goes up to 1/250, PAL 247.6
        {0x0030, 325.0, 327.0},     // v = 48: NTSC exactly 327.5 goes down
        {0x0138, 50.0, 50.0},       // v = 312: NTSC 50.38
        {0x009C, 100.0, 101.0},     // v = 156: NTSC 100.77
        {0x0001, 15600.0, 15720.0}, // the fastest
        {0x81FF, 31.0, 31.0},       // v = 511: PAL 30.53 goes up
        {0x84E0, 12.0, 13.0},       // v = 1248: PAL exactly 12.5 goes down, NTSC 12.6 up
        {0x0130, 51.0, 52.0},       // bit 8 is part of v: 304; NTSC 51.71
        {0x0330, 51.0, 52.0},       // below 0x8138 only the low nine bits count
        {0x8100, 61.0, 61.0},       // v = 256; NTSC 61.41
        {0x8137, 50.0, 51.0},       // v = 311: PAL 50.16, NTSC 50.55 goes up
        {0x8138, 50.0, 50.0},       // from here v = w - 0x8000
        {0x8200, 30.0, 31.0},       // v = 512: PAL 30.47, NTSC 30.70; the nine-bit mask would give no value
        {0x9000, 4.0, 4.0},         // v = 4096: 3.81 and 3.84 go up
        {0xFFFE, 0.0, 0.0},         // v = 32766
        {0x0007, 2229.0, 2246.0},   // PAL 2228.57 goes up, NTSC 2245.71 up
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shutterOf(c.word, VideoSystem::Pal625_50), c.pal) << std::hex << c.word;
        EXPECT_EQ(shutterOf(c.word, VideoSystem::Ntsc525_60), c.ntsc) << std::hex << c.word;
    }
    // v = 255 is the camcorder's "no value"; v = 0 would divide by zero; 0xFFFF is an empty slot.
    for (std::uint16_t word : {0x80FF, 0x00FF, 0x02FF, 0x0000, 0x0200, 0x4000, 0x8000, 0xFFFF}) {
        EXPECT_EQ(shutterOf(word, VideoSystem::Pal625_50), -1.0) << std::hex << word;
        EXPECT_EQ(shutterOf(word, VideoSystem::Ntsc525_60), -1.0) << std::hex << word;
    }
}

// Which slot and which sequence give the value: slot 2 of the first VAUX block under header 0x7F,
// else slot 1; only even sequences, the first value wins; the sequences that the system and the span have.
TEST(Shutter, takes_the_first_even_sequence_and_the_preferred_slot_under_the_shutter_header)
{
    const auto pal = [] { return SyntheticDvFrame::pal(); };
    struct Case {
        const char* what;
        SyntheticDvFrame frame;
        std::size_t sizeBytes;  // 0: the whole frame
        VideoSystem system;
        double shutter;
    };
    const Case cases[] = {
        {"slot 2 before slot 1", pal().withShutterWordAt(0, 2, 0x009C).withShutterWordAt(0, 1, 0x0138), 0,
         VideoSystem::Pal625_50, 100.0},
        {"empty slot 2 falls back to slot 1", pal().withShutterWordAt(0, 2, 0xFFFF).withShutterWordAt(0, 1, 0x0138), 0,
         VideoSystem::Pal625_50, 50.0},
        {"another header in slot 2 does not hide slot 1",
         pal().withShutterWordAt(0, 2, 0x009C, 0x7E).withShutterWordAt(0, 1, 0x0138), 0, VideoSystem::Pal625_50, 50.0},
        {"slot 1 under another header", pal().withShutterWordAt(0, 1, 0x0138, 0x71), 0, VideoSystem::Pal625_50, -1.0},
        {"slot 2 under a filler header", pal().withShutterWordAt(0, 2, 0x0138, kFillerPack), 0, VideoSystem::Pal625_50,
         -1.0},
        {"second even sequence", pal().withShutterWordAt(0, 2, 0xFFFF).withShutterWordAt(2, 2, 0x0138), 0,
         VideoSystem::Pal625_50, 50.0},
        {"odd sequences only", pal().withShutterWordAt(1, 2, 0x0138).withShutterWordAt(11, 1, 0x0138), 0,
         VideoSystem::Pal625_50, -1.0},
        {"a word of v = 0 is passed over",
         pal().withShutterWordAt(0, 2, 0x0200).withShutterWordAt(4, 2, 0x009C).withShutterWordAt(6, 2, 0x0138), 0,
         VideoSystem::Pal625_50, 100.0},
        {"sequence 10 of PAL", pal().withShutterWordAt(10, 2, 0x0138), 0, VideoSystem::Pal625_50, 50.0},
        {"sequence 10 is beyond NTSC", pal().withShutterWordAt(10, 2, 0x0138), 0, VideoSystem::Ntsc525_60, -1.0},
        {"span ends inside sequence 10", pal().withShutterWordAt(10, 2, 0x0138), 11 * kSequenceBytes - 1,
         VideoSystem::Pal625_50, -1.0},
        {"span holds sequence 10", pal().withShutterWordAt(10, 2, 0x0138), 11 * kSequenceBytes, VideoSystem::Pal625_50,
         50.0},
        {"NTSC sequence 8, slot 1", SyntheticDvFrame::ntsc().withShutterWordAt(8, 1, 0x009C), 0,
         VideoSystem::Ntsc525_60, 101.0},
    };
    for (const auto& c : cases) {
        const auto bytes = c.sizeBytes == 0 ? c.frame.bytes() : c.frame.truncatedTo(c.sizeBytes);
        EXPECT_EQ(DecodeShutter(bytes, c.system), c.shutter) << c.what;
    }
}

TEST(Shutter, reads_one_block_as_far_as_it_goes)
{
    const auto frame = SyntheticDvFrame::pal().withShutterWord(0x0138);
    const auto block = frame.span().subspan(vauxBlockOffset(0, 0), kDifBlockBytes);
    EXPECT_EQ(DecodeShutterInSequence(block, 0, VideoSystem::Pal625_50), 50.0);
    EXPECT_EQ(DecodeShutterInSequence(block, 1, VideoSystem::Pal625_50), -1.0);
    EXPECT_EQ(DecodeShutterInSequence(block.first(18), 0, VideoSystem::Pal625_50), 50.0);
    EXPECT_EQ(DecodeShutterInSequence(block.first(17), 0, VideoSystem::Pal625_50), -1.0);  // slot 1 is a filler
    EXPECT_EQ(DecodeShutterInSequence(block.first(0), 0, VideoSystem::Pal625_50), -1.0);
}

}  // namespace
}  // namespace vantrel::dv
