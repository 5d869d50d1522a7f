// SPDX-License-Identifier: GPL-3.0-or-later
// Builds DV frames in code for tests: valid DIF block IDs, and the generator's packs where
// camcorders put them.
//
// A new frame has every DIF block ID set (section type, sequence and block numbers), a header
// block with the system flag, 0xFF filler packs in every subcode, VAUX and AAUX slot, silent
// audio and mid-grey video that DV decoders accept. The with... methods then write the packs
// that vantrel-dvgen writes (tools/dvgen/frame_metadata.h):
//   subcode: the time code (0x13) in the first half of the sequences, recording date and time
//            (0x62, 0x63) and the time code in the second half, as camcorders do;
//   VAUX:    camera pack 0x70 in slot 0, 0x71 in slot 1 and the shutter pack 0x7F in slot 2 of
//            the first VAUX block; source and source control (0x60, 0x61, always written) and
//            recording date and time in slots 9..12 of the third; in every sequence.
#pragma once

#include "dv/dif_layout.h"
#include "dv/pack_search.h"
#include "tools/dvgen/tape_options.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace vantrel::testsupport {

struct Date {
    int year;   // four digits; the pack keeps year % 100
    int month;  // 1..12
    int day;    // 1..31
};

struct TimeOfDay {
    int hour;
    int minute;
    int second;
};

using Timecode = dvgen::Timecode;        // hours, minutes, seconds, frames
using CameraPackFields = dvgen::CameraValues;

class SyntheticDvFrame {
public:
    static SyntheticDvFrame pal();
    static SyntheticDvFrame ntsc();
    static SyntheticDvFrame of(dv::VideoSystem system) { return SyntheticDvFrame(system); }

    dv::VideoSystem system() const noexcept { return m_system; }
    std::size_t sequences() const noexcept { return dv::sequenceCount(m_system); }

    // Recording date and time: subcode of the second half of the sequences, and VAUX.
    SyntheticDvFrame& withRecordingDate(Date date, TimeOfDay time);
    // Raw BCD bytes, for codes that no calendar date gives (year code 0x25, day 0, ...).
    SyntheticDvFrame& withRecordingDatePacks(dv::DVPack datePack, dv::DVPack timePack);
    SyntheticDvFrame& withTimecode(Timecode timecode);
    // Camera pack 0x70 and beside it an empty 0x71 pack, in every sequence.
    SyntheticDvFrame& withCameraPack(CameraPackFields fields);
    // Shutter pack 0x7F in slot 2 of the first VAUX block of every sequence, word in PC3/PC4.
    SyntheticDvFrame& withShutterWord(std::uint16_t word);
    // One shutter slot: slot 1 or 2 of the first VAUX block of `sequence`, under `header`.
    SyntheticDvFrame& withShutterWordAt(std::size_t sequence, std::size_t slot, std::uint16_t word,
                                        std::uint8_t header = dv::kCameraShutterPack);

    // Any pack into any slot.
    SyntheticDvFrame& withSubcodePack(std::size_t sequence, std::size_t block, std::size_t slot, dv::DVPack pack);
    SyntheticDvFrame& withVauxPack(std::size_t sequence, std::size_t block, std::size_t slot, dv::DVPack pack);
    SyntheticDvFrame& withByte(std::size_t offset, std::uint8_t value);

    // Tape dropout: PC2..PC4 of every subcode pack with this header become 0xFF.
    SyntheticDvFrame& withDamagedSubcodePacks(std::uint8_t header);
    // Every byte outside the subcode and VAUX blocks set to `value` (the fast readers' contract).
    SyntheticDvFrame& withOnlyMetadataBlocks(std::uint8_t value = 0xA5);

    const std::vector<std::byte>& bytes() const noexcept { return m_bytes; }
    std::span<const std::byte> span() const noexcept { return m_bytes; }
    std::vector<std::byte> truncatedTo(std::size_t size) const;

private:
    explicit SyntheticDvFrame(dv::VideoSystem system);
    void writePack(std::size_t offset, const dv::DVPack& pack);
    void forEachSubcodeSlot(bool secondHalf, const dv::DVPack& pack, std::initializer_list<std::size_t> slots);

    dv::VideoSystem m_system;
    std::vector<std::byte> m_bytes;
};

}  // namespace vantrel::testsupport
