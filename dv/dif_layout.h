// SPDX-License-Identifier: GPL-3.0-or-later
// Where the camcorder puts things inside one DV frame: sequences, blocks and pack slots.
#pragma once

#include <cstddef>

namespace vantrel::dv {

enum class VideoSystem { Unknown, Pal625_50, Ntsc525_60 };

constexpr std::size_t kDifBlockBytes = 80;          // every DIF block, header included
constexpr std::size_t kBlocksPerSequence = 150;     // 1 header, 2 subcode, 3 VAUX, 9 audio, 135 video
constexpr std::size_t kSequenceBytes = kDifBlockBytes * kBlocksPerSequence;  // 12000
constexpr std::size_t kPalSequences = 12;           // 625/50 lines
constexpr std::size_t kNtscSequences = 10;          // 525/60 lines
constexpr std::size_t kPalFrameBytes = kSequenceBytes * kPalSequences;    // 144000
constexpr std::size_t kNtscFrameBytes = kSequenceBytes * kNtscSequences;  // 120000
constexpr std::size_t kMaxFrameBytes = kPalFrameBytes;

constexpr std::size_t kPackBytes = 5;               // PC0 (the pack's ID) then PC1..PC4
constexpr std::size_t kSubcodeBlocks = 2;           // blocks 1 and 2 of a sequence
constexpr std::size_t kSubcodePacksPerBlock = 6;    // each behind 2 ID bytes and 1 reserved byte
constexpr std::size_t kVauxBlocks = 3;              // blocks 3, 4 and 5 of a sequence
constexpr std::size_t kVauxPacksPerBlock = 15;      // packed back to back after the 3-byte block header
constexpr std::size_t kAudioBlocks = 9;             // one every 16 blocks from block 6
constexpr std::size_t kAudioPayloadBytes = 72;      // 5-byte AAUX pack then 72 bytes of samples

constexpr std::size_t sequenceCount(VideoSystem system) noexcept
{
    return system == VideoSystem::Pal625_50 ? kPalSequences : kNtscSequences;
}

constexpr std::size_t frameBytes(VideoSystem system) noexcept
{
    return sequenceCount(system) * kSequenceBytes;
}

// The subcode block b (0 or 1) of sequence s is block 1 + b; its pack k lies behind
// the 3-byte block header, 3 bytes of ID and reserved, and k earlier 8-byte slots.
constexpr std::size_t subcodePackOffset(std::size_t sequence, std::size_t block, std::size_t pack) noexcept
{
    return sequence * kSequenceBytes + (1 + block) * kDifBlockBytes + 6 + 8 * pack;
}

// The VAUX block b (0..2) of sequence s is block 3 + b; its 15 packs follow the block header.
constexpr std::size_t vauxBlockOffset(std::size_t sequence, std::size_t block) noexcept
{
    return sequence * kSequenceBytes + (3 + block) * kDifBlockBytes;
}

constexpr std::size_t vauxPackOffset(std::size_t sequence, std::size_t block, std::size_t pack) noexcept
{
    return vauxBlockOffset(sequence, block) + 3 + kPackBytes * pack;
}

// Audio block a (0..8) of a sequence is block 6 + 16a: one audio block leads each group of 15 video blocks.
constexpr std::size_t audioBlockOffset(std::size_t sequence, std::size_t audioBlock) noexcept
{
    return sequence * kSequenceBytes + (6 + 16 * audioBlock) * kDifBlockBytes;
}

// Video block v (0..134) of a sequence: 15 video blocks follow each audio block.
constexpr std::size_t videoBlockOffset(std::size_t sequence, std::size_t videoBlock) noexcept
{
    return sequence * kSequenceBytes + (7 + videoBlock + videoBlock / 15) * kDifBlockBytes;
}

static_assert(subcodePackOffset(0, 0, 0) == 86);
static_assert(vauxPackOffset(0, 0, 0) == 243);
static_assert(audioBlockOffset(0, 8) == 134 * kDifBlockBytes);
static_assert(videoBlockOffset(0, 134) == 149 * kDifBlockBytes);

}  // namespace vantrel::dv
