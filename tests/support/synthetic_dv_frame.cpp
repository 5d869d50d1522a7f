// SPDX-License-Identifier: GPL-3.0-or-later
// The frame around the packs (block IDs, header, fillers, silent audio, grey video) built here;
// the packs themselves are the generator's.
#include "support/synthetic_dv_frame.h"

#include "tools/dvgen/frame_metadata.h"

#include <algorithm>
#include <initializer_list>

namespace vantrel::testsupport {
namespace {

using dv::DVPack;
using dv::kDifBlockBytes;
using dv::kSequenceBytes;

constexpr DVPack kFiller{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};

// VAUX slots of block 0 (camera, second camera pack, shutter) and block 2 (source packs, date).
constexpr std::size_t kCameraSlot = 0;
constexpr std::size_t kShutterSlot = 2;
constexpr std::size_t kSourceBlock = 2;
constexpr std::size_t kSourceSlot = 9;
constexpr std::size_t kDateSlot = 11;

DVPack packOf(const dvgen::PackBytes& bytes)
{
    DVPack pack{};
    std::copy(bytes.begin(), bytes.end(), pack.pc);
    return pack;
}

// Section type (bits 7..5 of the first ID byte) and number inside its section of block i of a
// sequence: header, 2 subcode, 3 VAUX, then an audio block before every 15 video blocks.
std::pair<std::uint8_t, std::size_t> sectionOfBlock(std::size_t i)
{
    if (i == 0) return {0, 0};
    if (i <= 2) return {1, i - 1};
    if (i <= 5) return {2, i - 3};
    const std::size_t n = i - 6;
    if (n % 16 == 0) return {3, n / 16};
    return {4, n - n / 16 - 1};
}

}  // namespace

SyntheticDvFrame SyntheticDvFrame::pal() { return SyntheticDvFrame(dv::VideoSystem::Pal625_50); }
SyntheticDvFrame SyntheticDvFrame::ntsc() { return SyntheticDvFrame(dv::VideoSystem::Ntsc525_60); }

SyntheticDvFrame::SyntheticDvFrame(dv::VideoSystem system)
    : m_system(system), m_bytes(dv::frameBytes(system), std::byte{0xFF})
{
    const bool isPal = system == dv::VideoSystem::Pal625_50;
    // VAUX source: colour, 50 or 60 fields (PC3 bit 5), SD 25 Mbit/s; source control: 4:3, not copy-protected.
    const DVPack source{{0x60, 0xFF, 0xFF, static_cast<std::uint8_t>(isPal ? 0xE0 : 0xC0), 0xFF}};
    const DVPack sourceControl{{0x61, 0x33, 0xC8, 0xFC, 0xFF}};
    for (std::size_t s = 0; s < sequences(); ++s) {
        for (std::size_t i = 0; i < dv::kBlocksPerSequence; ++i) {
            const auto [section, number] = sectionOfBlock(i);
            const std::size_t at = s * kSequenceBytes + i * kDifBlockBytes;
            m_bytes[at] = std::byte(static_cast<std::uint8_t>(section << 5 | 0x1F));  // SCT, reserved 1, Arb
            m_bytes[at + 1] = std::byte(static_cast<std::uint8_t>(s << 4 | 0x07));   // Dseq, FSC 0, reserved
            m_bytes[at + 2] = std::byte(static_cast<std::uint8_t>(number));          // DBN
        }
        // Header: the system flag (1 for 625/50), APT 0 and TF 0 (every area transmitted).
        m_bytes[s * kSequenceBytes + 3] = std::byte(isPal ? 0xBF : 0x3F);
        std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(s * kSequenceBytes + 4), 4, std::byte{0x78});
        // Subcode pack IDs: FR set in the first half, AP3 and the SYB number.
        for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < dv::kSubcodePacksPerBlock; ++k) {
                const std::size_t pack = dv::subcodePackOffset(s, b, k);
                m_bytes[pack - 3] = std::byte(static_cast<std::uint8_t>((s < sequences() / 2 ? 0x80 : 0x00) | 0x7F));
                m_bytes[pack - 2] = std::byte(static_cast<std::uint8_t>(0xF0 | (b * 6 + k)));
            }
        }
        writePack(dv::vauxPackOffset(s, kSourceBlock, kSourceSlot), source);
        writePack(dv::vauxPackOffset(s, kSourceBlock, kSourceSlot + 1), sourceControl);
        for (std::size_t a = 0; a < dv::kAudioBlocks; ++a) {
            const auto payload = m_bytes.begin() + static_cast<std::ptrdiff_t>(dv::audioBlockOffset(s, a) + 8);
            std::fill_n(payload, dv::kAudioPayloadBytes, std::byte{0});
        }
        // Mid-grey: every DCT block holds DC 0 followed at once by the end-of-block code 0110.
        for (std::size_t v = 0; v < 135; ++v) {
            const std::size_t at = dv::videoBlockOffset(s, v);
            std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(at + 3), 77, std::byte{0});
            for (std::size_t dct : {4, 18, 32, 46, 60, 70}) m_bytes[at + dct + 1] = std::byte{0x06};
        }
    }
}

void SyntheticDvFrame::writePack(std::size_t offset, const DVPack& pack)
{
    for (std::size_t i = 0; i < dv::kPackBytes; ++i) m_bytes.at(offset + i) = std::byte(pack.pc[i]);
}

void SyntheticDvFrame::forEachSubcodeSlot(bool secondHalf, const DVPack& pack, std::initializer_list<std::size_t> slots)
{
    const std::size_t half = sequences() / 2;
    for (std::size_t s = secondHalf ? half : 0; s < (secondHalf ? sequences() : half); ++s)
        for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b)
            for (std::size_t k : slots) writePack(dv::subcodePackOffset(s, b, k), pack);
}

SyntheticDvFrame& SyntheticDvFrame::withRecordingDate(Date date, TimeOfDay time)
{
    const dvgen::LocalDateTime t{date.year, date.month, date.day, time.hour, time.minute, time.second};
    return withRecordingDatePacks(packOf(dvgen::recordingDatePack(dv::kRecordingDatePack, t)),
                                  packOf(dvgen::recordingTimePack(dv::kRecordingTimePack, t)));
}

SyntheticDvFrame& SyntheticDvFrame::withRecordingDatePacks(DVPack datePack, DVPack timePack)
{
    // Slots 0 and 3 (date) and 1 and 4 (time) of both subcode blocks in the second half.
    forEachSubcodeSlot(true, datePack, {0, 3});
    forEachSubcodeSlot(true, timePack, {1, 4});
    for (std::size_t s = 0; s < sequences(); ++s) {
        writePack(dv::vauxPackOffset(s, kSourceBlock, kDateSlot), datePack);
        writePack(dv::vauxPackOffset(s, kSourceBlock, kDateSlot + 1), timePack);
    }
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withTimecode(Timecode timecode)
{
    const DVPack pack = packOf(dvgen::timecodePack(timecode, m_system == dv::VideoSystem::Ntsc525_60));
    // Slots of each of the two subcode blocks: 0, 2 and 4 in the first half, 2 and 5 in the second.
    forEachSubcodeSlot(false, pack, {0, 2, 4});
    forEachSubcodeSlot(true, pack, {2, 5});
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withCameraPack(CameraPackFields fields)
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        writePack(dv::vauxPackOffset(s, 0, kCameraSlot), packOf(dvgen::cameraPack(fields)));
        writePack(dv::vauxPackOffset(s, 0, kCameraSlot + 1), DVPack{{0x71, 0xFF, 0xFF, 0xFF, 0xFF}});
    }
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withShutterWord(std::uint16_t word)
{
    for (std::size_t s = 0; s < sequences(); ++s) withShutterWordAt(s, kShutterSlot, word);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withShutterWordAt(std::size_t sequence, std::size_t slot, std::uint16_t word,
                                                      std::uint8_t header)
{
    DVPack pack = packOf(dvgen::shutterPack(word));
    pack.pc[0] = header;
    return withVauxPack(sequence, 0, slot, pack);
}

SyntheticDvFrame& SyntheticDvFrame::withSubcodePack(std::size_t sequence, std::size_t block, std::size_t slot,
                                                    DVPack pack)
{
    writePack(dv::subcodePackOffset(sequence, block, slot), pack);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withVauxPack(std::size_t sequence, std::size_t block, std::size_t slot,
                                                 DVPack pack)
{
    writePack(dv::vauxPackOffset(sequence, block, slot), pack);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withByte(std::size_t offset, std::uint8_t value)
{
    m_bytes.at(offset) = std::byte(value);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withDamagedSubcodePacks(std::uint8_t header)
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < dv::kSubcodePacksPerBlock; ++k) {
                const std::size_t at = dv::subcodePackOffset(s, b, k);
                if (m_bytes[at] == std::byte(header)) std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(at + 2), 3, std::byte{0xFF});
            }
        }
    }
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withOnlyMetadataBlocks(std::uint8_t value)
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        const auto sequence = m_bytes.begin() + static_cast<std::ptrdiff_t>(s * kSequenceBytes);
        std::fill(sequence, sequence + kDifBlockBytes, std::byte(value));
        std::fill(sequence + 6 * kDifBlockBytes, sequence + kSequenceBytes, std::byte(value));
    }
    return *this;
}

std::vector<std::byte> SyntheticDvFrame::truncatedTo(std::size_t size) const
{
    const std::size_t kept = std::min(size, m_bytes.size());
    return {m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(kept)};
}

}  // namespace vantrel::testsupport
