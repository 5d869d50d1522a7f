// SPDX-License-Identifier: GPL-3.0-or-later
// Builds DV frames in code for tests: valid DIF block IDs, packs where camcorders put them.
#include "support/synthetic_dv_frame.h"

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>

namespace vantrel::testsupport {
namespace {

using dv::DVPack;
using dv::kDifBlockBytes;
using dv::kSequenceBytes;

// Section types in bits 7..5 of a block's first ID byte.
enum class Section : std::uint8_t { Header = 0, Subcode = 1, Vaux = 2, Audio = 3, Video = 4 };

constexpr DVPack kFiller{{0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};

// Subcode slots (of each of the two blocks) per half of the sequences.
constexpr std::initializer_list<std::size_t> kTimecodeSlotsFirstHalf{0, 2, 4};
constexpr std::initializer_list<std::size_t> kTimecodeSlotsSecondHalf{2, 5};
constexpr std::initializer_list<std::size_t> kDateSlots{0, 3};
constexpr std::initializer_list<std::size_t> kTimeSlots{1, 4};

// VAUX places (block, slot) in every sequence.
constexpr std::size_t kCameraSlot = 0;   // block 0
constexpr std::size_t kCamera2Slot = 1;  // block 0
constexpr std::size_t kShutterSlot = 2;  // block 0
constexpr std::size_t kVauxSourceBlock = 2;   // source and source control, then date and time
constexpr std::size_t kVauxSourceSlot = 9;
constexpr std::size_t kVauxSourceControlSlot = 10;
constexpr std::size_t kVauxDateBlock = 2;
constexpr std::size_t kVauxDateSlot = 11;
constexpr std::size_t kVauxTimeSlot = 12;

void checkRange(int value, int low, int high, const char* what)
{
    if (value < low || value > high) throw std::invalid_argument(std::string("synthetic DV frame: bad ") + what);
}

// The block number inside its section of block i (0..149) of a sequence, and its section.
std::pair<Section, std::size_t> sectionOfBlock(std::size_t i)
{
    if (i == 0) return {Section::Header, 0};
    if (i <= 2) return {Section::Subcode, i - 1};
    if (i <= 5) return {Section::Vaux, i - 3};
    const std::size_t n = i - 6;  // audio every 16th block from block 6, video between
    if (n % 16 == 0) return {Section::Audio, n / 16};
    return {Section::Video, n - n / 16 - 1};
}

// Two BCD digits; bits of the byte above `tensBits` digits are set to 1, as tapes carry them.
std::uint8_t bcdByte(int value, int tensBits)
{
    checkRange(value, 0, 99, "BCD value");
    const int tens = value / 10;
    const int tensMask = (1 << tensBits) - 1;
    if (tens > tensMask) throw std::invalid_argument("synthetic DV frame: BCD tens digit does not fit");
    const int reservedBits = (0xF0 << tensBits) & 0xF0;  // bits above the tens digit read 1
    return static_cast<std::uint8_t>(reservedBits | (tens << 4) | (value % 10));
}

}  // namespace

SyntheticDvFrame SyntheticDvFrame::pal() { return SyntheticDvFrame(dv::VideoSystem::Pal625_50); }
SyntheticDvFrame SyntheticDvFrame::ntsc() { return SyntheticDvFrame(dv::VideoSystem::Ntsc525_60); }

SyntheticDvFrame::SyntheticDvFrame(dv::VideoSystem system)
    : m_system(system), m_bytes(dv::frameBytes(system), std::byte{0xFF})
{
    writeBlockIds();
    writeHeaderBlocks();
    writeFillers();
    writeAudioAndVideo();
}

void SyntheticDvFrame::writeBlockIds()
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        for (std::size_t i = 0; i < dv::kBlocksPerSequence; ++i) {
            const auto [section, number] = sectionOfBlock(i);
            const std::size_t at = s * kSequenceBytes + i * kDifBlockBytes;
            m_bytes[at] = std::byte(static_cast<std::uint8_t>(section) << 5 | 0x1F);  // SCT, reserved 1, Arb
            m_bytes[at + 1] = std::byte(static_cast<std::uint8_t>(s << 4 | 0x07));  // Dseq, FSC 0, reserved
            m_bytes[at + 2] = std::byte(static_cast<std::uint8_t>(number));         // DBN
        }
    }
}

void SyntheticDvFrame::writeHeaderBlocks()
{
    const std::uint8_t dsf = m_system == dv::VideoSystem::Pal625_50 ? 0x80 : 0x00;  // 1 for 625/50
    for (std::size_t s = 0; s < sequences(); ++s) {
        const std::size_t at = s * kSequenceBytes;
        m_bytes[at + 3] = std::byte(dsf | 0x3F);
        for (std::size_t i = 4; i < 8; ++i) m_bytes[at + i] = std::byte{0x78};  // APT 0, TF 0 (transmitted)
    }
}

void SyntheticDvFrame::writeFillers()
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        const bool isFirstHalf = s < sequences() / 2;
        for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < dv::kSubcodePacksPerBlock; ++k) {
                const std::size_t pack = dv::subcodePackOffset(s, b, k);
                m_bytes[pack - 3] = std::byte(static_cast<std::uint8_t>((isFirstHalf ? 0x80 : 0x00) | 0x7F));  // FR, AP3
                m_bytes[pack - 2] = std::byte(static_cast<std::uint8_t>(0xF0 | (b * 6 + k)));  // SYB number
                m_bytes[pack - 1] = std::byte{0xFF};
                writePack(pack, kFiller);
            }
        }
        for (std::size_t b = 0; b < dv::kVauxBlocks; ++b)
            for (std::size_t k = 0; k < dv::kVauxPacksPerBlock; ++k) writePack(dv::vauxPackOffset(s, b, k), kFiller);
    }
    writeSourcePacks();
}

void SyntheticDvFrame::writeSourcePacks()
{
    // VAUX source: colour, 50 or 60 fields (PC3 bit 5), SD 25 Mbit/s; source control: 4:3, not copy-protected.
    const std::uint8_t fields = m_system == dv::VideoSystem::Pal625_50 ? 0x20 : 0x00;
    const DVPack source{{0x60, 0xFF, 0xFF, static_cast<std::uint8_t>(0xC0 | fields), 0xFF}};
    const DVPack sourceControl{{0x61, 0x33, 0xC8, 0xFC, 0xFF}};
    for (std::size_t s = 0; s < sequences(); ++s) {
        writePack(dv::vauxPackOffset(s, kVauxSourceBlock, kVauxSourceSlot), source);
        writePack(dv::vauxPackOffset(s, kVauxSourceBlock, kVauxSourceControlSlot), sourceControl);
    }
}

void SyntheticDvFrame::writeAudioAndVideo()
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        for (std::size_t a = 0; a < dv::kAudioBlocks; ++a) {
            const std::size_t at = dv::audioBlockOffset(s, a);
            writePack(at + 3, kFiller);
            std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(at + 8), dv::kAudioPayloadBytes, std::byte{0});
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
    checkRange(date.year, 1950, 2049, "year");
    checkRange(date.month, 1, 12, "month");
    checkRange(date.day, 1, 31, "day");
    checkRange(time.hour, 0, 23, "hour");
    checkRange(time.minute, 0, 59, "minute");
    checkRange(time.second, 0, 59, "second");
    const DVPack datePack{{dv::kRecordingDatePack, 0xFF, bcdByte(date.day, 2), bcdByte(date.month, 1),
                           bcdByte(date.year % 100, 4)}};
    const DVPack timePack{{dv::kRecordingTimePack, 0xFF, bcdByte(time.second, 3), bcdByte(time.minute, 3),
                           bcdByte(time.hour, 2)}};
    return withRecordingDatePacks(datePack, timePack);
}

SyntheticDvFrame& SyntheticDvFrame::withRecordingDatePacks(DVPack datePack, DVPack timePack)
{
    forEachSubcodeSlot(true, datePack, kDateSlots);
    forEachSubcodeSlot(true, timePack, kTimeSlots);
    for (std::size_t s = 0; s < sequences(); ++s) {
        writePack(dv::vauxPackOffset(s, kVauxDateBlock, kVauxDateSlot), datePack);
        writePack(dv::vauxPackOffset(s, kVauxDateBlock, kVauxTimeSlot), timePack);
    }
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withTimecode(Timecode timecode)
{
    checkRange(timecode.hours, 0, 23, "time code hours");
    checkRange(timecode.minutes, 0, 59, "time code minutes");
    checkRange(timecode.seconds, 0, 59, "time code seconds");
    checkRange(timecode.frames, 0, 29, "time code frames");
    const DVPack pack{{dv::kTimeCodePack, bcdByte(timecode.frames, 2), bcdByte(timecode.seconds, 3),
                       bcdByte(timecode.minutes, 3), bcdByte(timecode.hours, 2)}};
    forEachSubcodeSlot(false, pack, kTimecodeSlotsFirstHalf);
    forEachSubcodeSlot(true, pack, kTimecodeSlotsSecondHalf);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withCameraPack(CameraPackFields f)
{
    checkRange(f.irisCode, 0, 63, "iris code");
    checkRange(f.exposureMode, 0, 15, "exposure mode");
    checkRange(f.gainCode, 0, 15, "gain code");
    checkRange(f.whiteBalanceMode, 0, 7, "white balance mode");
    checkRange(f.lightSource, 0, 31, "light source");
    return withCameraPack(static_cast<std::uint8_t>(0xC0 | f.irisCode),
                          static_cast<std::uint8_t>(f.exposureMode << 4 | f.gainCode),
                          static_cast<std::uint8_t>(f.whiteBalanceMode << 5 | f.lightSource),
                          static_cast<std::uint8_t>((f.isManualFocus ? 0x80 : 0x00) | 0x7F));
}

SyntheticDvFrame& SyntheticDvFrame::withCameraPack(std::uint8_t pc1, std::uint8_t pc2, std::uint8_t pc3,
                                                   std::uint8_t pc4)
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        writePack(dv::vauxPackOffset(s, 0, kCameraSlot), DVPack{{dv::kCameraPack, pc1, pc2, pc3, pc4}});
        writePack(dv::vauxPackOffset(s, 0, kCamera2Slot), DVPack{{0x71, 0xFF, 0xFF, 0xFF, 0xFF}});
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
    if (slot != 1 && slot != 2) throw std::invalid_argument("synthetic DV frame: shutter slot is 1 or 2");
    const DVPack pack{{header, 0xFF, 0xFF, static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)}};
    return withVauxPack(sequence, 0, slot, pack);
}

SyntheticDvFrame& SyntheticDvFrame::withSubcodePack(std::size_t sequence, std::size_t block, std::size_t slot,
                                                    DVPack pack)
{
    if (sequence >= sequences() || block >= dv::kSubcodeBlocks || slot >= dv::kSubcodePacksPerBlock)
        throw std::out_of_range("synthetic DV frame: no such subcode slot");
    writePack(dv::subcodePackOffset(sequence, block, slot), pack);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withVauxPack(std::size_t sequence, std::size_t block, std::size_t slot,
                                                 DVPack pack)
{
    if (sequence >= sequences() || block >= dv::kVauxBlocks || slot >= dv::kVauxPacksPerBlock)
        throw std::out_of_range("synthetic DV frame: no such VAUX slot");
    writePack(dv::vauxPackOffset(sequence, block, slot), pack);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withByte(std::size_t offset, std::uint8_t value)
{
    m_bytes.at(offset) = std::byte(value);
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withoutSubcodePacks()
{
    forEachSubcodeSlot(false, kFiller, {0, 1, 2, 3, 4, 5});
    forEachSubcodeSlot(true, kFiller, {0, 1, 2, 3, 4, 5});
    return *this;
}

SyntheticDvFrame& SyntheticDvFrame::withDamagedSubcodePacks(std::uint8_t header)
{
    for (std::size_t s = 0; s < sequences(); ++s) {
        for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < dv::kSubcodePacksPerBlock; ++k) {
                const std::size_t at = dv::subcodePackOffset(s, b, k);
                if (m_bytes[at] != std::byte(header)) continue;
                for (std::size_t i = 2; i < dv::kPackBytes; ++i) m_bytes[at + i] = std::byte{0xFF};
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
