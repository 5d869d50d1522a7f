// SPDX-License-Identifier: GPL-3.0-or-later
// Pack search: order over sequences, blocks and slots, the filler and value-range tests, sequence
// counts, short spans, on both the player and the capture side.
#include "dv/pack_search.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace vantrel::dv {
namespace {

using testsupport::SyntheticDvFrame;

enum class Area { Subcode, Vaux };

struct Placed {
    Area area;
    std::size_t sequence;
    std::size_t block;
    std::size_t slot;
    DVPack pack;
};

constexpr int kNone = -1;
constexpr std::size_t kWhole = kPalFrameBytes;

struct SearchCase {
    const char* name;
    std::vector<Placed> packs;  // into a PAL frame, in this order; all of one area
    std::size_t spanBytes;      // the frame cut to this length
    VideoSystem readAs;         // given to the player-side subcode search and the VAUX search
    int found;                  // the placed pack that search returns, or kNone
    int foundBySize;            // the placed pack the capture-side subcode search returns, or kNone
};

constexpr DVPack tc(std::uint8_t marker) { return DVPack{{kTimeCodePack, marker, 0x11, 0x22, 0x03}}; }
constexpr DVPack tcWith(std::size_t index, std::uint8_t value)
{
    DVPack pack = tc(0x01);
    pack.pc[index] = value;
    return pack;
}
constexpr DVPack camera(std::uint8_t marker) { return DVPack{{kCameraPack, marker, 0, 0, 0}}; }

constexpr auto S = Area::Subcode;
constexpr auto V = Area::Vaux;
constexpr auto kPal = VideoSystem::Pal625_50;
constexpr auto kNtsc = VideoSystem::Ntsc525_60;

// An intact copy of the same pack, further on in the frame, that a search must reach past a damaged one.
DVPack intactCopyOf(const DVPack& pack)
{
    switch (pack.header()) {
    case kTimeCodePack: return DVPack{{kTimeCodePack, 0x07, 0x06, 0x05, 0x04}};
    case kRecordingDatePack: return DVPack{{kRecordingDatePack, 0xFF, 0x14, 0x07, 0x04}};
    default: return DVPack{{kRecordingTimePack, 0xFF, 0x09, 0x03, 0x18}};
    }
}

// A copy whose values are `isIntact` or not, in sequence 0, and an intact one in sequence 4.
SearchCase inRange(const char* name, VideoSystem system, DVPack pack, bool isIntact)
{
    const int found = isIntact ? 0 : 1;
    const std::size_t bytes = system == kPal ? kWhole : kNtscFrameBytes;
    return {name, {{S, 0, 0, 0, pack}, {S, 4, 1, 3, intactCopyOf(pack)}}, bytes, system, found, found};
}

const SearchCase kSearchCases[] = {
    {"sequence before block before slot", {{S, 1, 0, 0, tc(1)}, {S, 0, 1, 5, tc(2)}, {S, 0, 1, 4, tc(3)}}, kWhole, kPal, 2, 2},
    {"first block before second", {{S, 0, 1, 4, tc(3)}, {S, 0, 0, 5, tc(4)}}, kWhole, kPal, 1, 1},
    {"0xFF in PC2 is a damaged copy", {{S, 0, 0, 0, tcWith(2, 0xFF)}, {S, 0, 0, 1, tc(2)}}, kWhole, kPal, 1, 1},
    {"0xFF in PC3 is a damaged copy", {{S, 0, 0, 0, tcWith(3, 0xFF)}, {S, 0, 0, 1, tc(2)}}, kWhole, kPal, 1, 1},
    {"0xFF in PC4 is a damaged copy", {{S, 0, 0, 0, tcWith(4, 0xFF)}, {S, 0, 0, 1, tc(2)}}, kWhole, kPal, 1, 1},
    // A pack without value ranges (here binary group 0x14): only the player side tests the data bytes.
    {"0xFF in PC3 of a pack without ranges", {{S, 0, 0, 0, {{0x14, 1, 2, 0xFF, 4}}}, {S, 0, 0, 1, {{0x14, 1, 2, 3, 4}}}},
     kWhole, kPal, 1, 0},
    {"only damaged copies", {{S, 0, 0, 0, tcWith(3, 0xFF)}, {S, 5, 1, 2, tcWith(2, 0xFF)}}, kWhole, kPal, kNone, kNone},
    // The filler test leaves PC1 alone, but 0xFF frames are out of range on both sides.
    {"0xFF in PC1", {{S, 0, 0, 0, tc(0xFF)}}, kWhole, kPal, kNone, kNone},
    {"sequence 10 of PAL, whole pack", {{S, 10, 1, 2, {{kTimeCodePack, 0xC5, 0xD4, 0xD7, 0x04}}}}, kWhole, kPal, 0, 0},
    {"sequence 10 read as NTSC", {{S, 10, 1, 2, tc(1)}}, kWhole, VideoSystem::Ntsc525_60, kNone, 0},
    {"sequence 10 read as unknown", {{S, 10, 1, 2, tc(1)}}, kWhole, VideoSystem::Unknown, kNone, 0},
    {"last slot of a whole frame", {{S, 11, 1, 5, tc(1)}}, kWhole, kPal, 0, 0},
    {"a byte short of PAL: NTSC's ten sequences", {{S, 11, 1, 5, tc(1)}}, kPalFrameBytes - 1, kPal, kNone, kNone},
    {"sequence 9 of an NTSC-sized span", {{S, 9, 1, 5, tc(1)}}, kNtscFrameBytes, kPal, 0, 0},
    {"sequence 2 not whole", {{S, 2, 0, 0, tc(1)}}, 2 * kSequenceBytes + 480, kPal, kNone, kNone},
    {"empty span", {{S, 0, 0, 0, tc(1)}}, 0, kPal, kNone, kNone},
    {"one block", {{S, 0, 0, 0, tc(1)}}, 91, kPal, kNone, kNone},
    {"a byte short of a sequence", {{S, 0, 0, 0, tc(1)}}, kSequenceBytes - 1, kPal, kNone, kNone},
    {"VAUX: sequence before block", {{V, 1, 0, 0, camera(1)}, {V, 0, 2, 14, camera(2)}}, kWhole, kPal, 1, kNone},
    {"VAUX: block 1 before block 2", {{V, 0, 2, 14, camera(2)}, {V, 0, 1, 0, camera(3)}}, kWhole, kPal, 1, kNone},
    {"VAUX: block before slot", {{V, 0, 1, 0, camera(3)}, {V, 0, 0, 14, camera(4)}}, kWhole, kPal, 1, kNone},
    {"VAUX: slot order", {{V, 0, 0, 14, camera(4)}, {V, 0, 0, 2, camera(5)}}, kWhole, kPal, 1, kNone},
    {"VAUX: any data bytes", {{V, 11, 2, 14, {{kCameraPack, 0xFF, 0xFF, 0xFF, 0xFF}}}}, kWhole, kPal, 0, kNone},
    {"VAUX: sequence 11 read as NTSC", {{V, 11, 2, 14, camera(1)}}, kWhole, VideoSystem::Ntsc525_60, kNone, kNone},
    {"VAUX: sequence 2 not whole", {{V, 2, 0, 0, camera(1)}}, 2 * kSequenceBytes + 480, kPal, kNone, kNone},
    {"VAUX: sequence 2 whole", {{V, 2, 0, 0, camera(1)}}, 3 * kSequenceBytes, kPal, 0, kNone},
    // Value ranges: the tens digit is masked as the decoders mask it (flag and reserved bits set
    // as tapes carry them); what is left must be a real time or date.
    inRange("pal frame 24", kPal, {{kTimeCodePack, 0x24, 0x00, 0x00, 0x00}}, true),
    inRange("pal frame 25", kPal, {{kTimeCodePack, 0x25, 0x00, 0x00, 0x00}}, false),
    inRange("ntsc frame 29 drop flag", kNtsc, {{kTimeCodePack, 0x40 | 0x29, 0x00, 0x00, 0x00}}, true),
    inRange("ntsc frame 30", kNtsc, {{kTimeCodePack, 0x30, 0x00, 0x00, 0x00}}, false),
    inRange("frame units digit a", kPal, {{kTimeCodePack, 0x0A, 0x00, 0x00, 0x00}}, false),
    inRange("seconds 59 flag bit", kPal, {{kTimeCodePack, 0x00, 0x80 | 0x59, 0x00, 0x00}}, true),
    inRange("seconds 60", kPal, {{kTimeCodePack, 0x00, 0x60, 0x00, 0x00}}, false),
    inRange("minutes 60", kPal, {{kTimeCodePack, 0x00, 0x00, 0x60, 0x00}}, false),
    inRange("hours 23 flag bits", kPal, {{kTimeCodePack, 0x00, 0x00, 0x00, 0xC0 | 0x23}}, true),
    inRange("hours 24", kPal, {{kTimeCodePack, 0x00, 0x00, 0x00, 0x24}}, false),
    inRange("random 17 70 61 35", kPal, {{kTimeCodePack, 0x35, 0x61, 0x70, 0x17}}, false),
    inRange("day 31", kPal, {{kRecordingDatePack, 0xFF, 0xC0 | 0x31, 0xE0 | 0x12, 0x04}}, true),
    inRange("day 0", kPal, {{kRecordingDatePack, 0xFF, 0xC0, 0xE3, 0x04}}, false),
    inRange("day 32", kPal, {{kRecordingDatePack, 0xFF, 0x32, 0x03, 0x04}}, false),
    inRange("month 0", kPal, {{kRecordingDatePack, 0xFF, 0x05, 0xE0, 0x04}}, false),
    inRange("month 13", kPal, {{kRecordingDatePack, 0xFF, 0xC5, 0xF3, 0x04}}, false),
    inRange("year 99", kPal, {{kRecordingDatePack, 0xFF, 0x05, 0x03, 0x99}}, true),
    inRange("year tens digit a", kPal, {{kRecordingDatePack, 0xFF, 0x05, 0x03, 0xA1}}, false),
    inRange("time 23 59 59", kPal, {{kRecordingTimePack, 0xFF, 0x80 | 0x59, 0x80 | 0x59, 0xC0 | 0x23}}, true),
    inRange("time hour 24", kPal, {{kRecordingTimePack, 0xFF, 0x00, 0x00, 0x24}}, false),
    inRange("time minute digit f", kPal, {{kRecordingTimePack, 0xFF, 0x00, 0x0F, 0x12}}, false),
};

// Which placed pack `found` is (compared byte for byte), kNone for nothing, -2 for another.
int whichPack(const std::optional<DVPack>& found, const std::vector<Placed>& packs)
{
    if (!found) return kNone;
    for (std::size_t i = 0; i < packs.size(); ++i)
        if (std::memcmp(found->pc, packs[i].pack.pc, kPackBytes) == 0) return static_cast<int>(i);
    return -2;
}

TEST(PackSearch, returns_the_first_acceptable_copy_in_sequence_block_slot_order_within_whole_sequences)
{
    for (const auto& c : kSearchCases) {
        SCOPED_TRACE(c.name);
        auto frame = SyntheticDvFrame::pal();
        for (const auto& p : c.packs) {
            if (p.area == S) frame.withSubcodePack(p.sequence, p.block, p.slot, p.pack);
            else frame.withVauxPack(p.sequence, p.block, p.slot, p.pack);
        }
        const auto bytes = frame.truncatedTo(c.spanBytes);
        const std::uint8_t id = c.packs[0].pack.header();
        if (c.packs[0].area == V) {
            EXPECT_EQ(whichPack(FindVauxPack(bytes, c.readAs, id), c.packs), c.found);
            continue;
        }
        EXPECT_EQ(whichPack(FindSubcodePack(bytes, c.readAs, id), c.packs), c.found);
        EXPECT_EQ(whichPack(FindSubcodePackIn(bytes, id), c.packs), c.foundBySize) << "capture side";
    }
}

TEST(PackSearch, reads_headers_only_at_pack_slots)
{
    auto frame = SyntheticDvFrame::pal();
    const auto seq0 = subcodePackOffset(0, 0, 0);
    frame.withByte(seq0 - 1, kTimeCodePack)                       // reserved byte before the first subcode pack
        .withByte(seq0 + 3, kTimeCodePack)                        // inside the pack
        .withByte(subcodePackOffset(0, 0, 5) + 5, kTimeCodePack)  // behind the last slot
        .withByte(vauxBlockOffset(0, 0) + 2, kCameraPack)         // block number byte of the VAUX block header
        .withByte(vauxBlockOffset(0, 2) + 78, kCameraPack)        // behind the 15th VAUX slot
        .withByte(vauxPackOffset(0, 0, 1) + 1, kCameraPack);      // inside a pack
    EXPECT_FALSE(FindSubcodePack(frame.span(), kPal, kTimeCodePack));
    EXPECT_FALSE(FindSubcodePackIn(frame.span(), kTimeCodePack));
    EXPECT_FALSE(FindVauxPack(frame.span(), kPal, kCameraPack));
}

}  // namespace
}  // namespace vantrel::dv
