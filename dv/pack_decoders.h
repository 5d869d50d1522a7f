// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes the time code, recording date, camera settings and shutter speed of one DV frame.
#pragma once

#include "dv/dif_layout.h"
#include "dv/dv_frame_info.h"
#include "dv/pack_search.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <span>

namespace vantrel::dv {

// Every decoder here reads only the subcode and VAUX blocks (blocks 1..5) of each DIF
// sequence. A reader that wants speed may fill only those 5 x 80 bytes of every sequence
// of its frame buffer; the rest of the buffer may hold anything. Nothing here allocates,
// and nothing reads past the span it is given.

struct TimeCode {
    int hours;
    int minutes;
    int seconds;
    int frames;
};

// The camera settings of one consumer camera pack (0x70). The texts point at fixed strings.
struct CameraSettings {
    double iris;                    // F-number
    int gain;                       // gain code 0..15
    const char* exposure;
    const char* whiteBalanceMode;
    const char* whiteBalance;       // light source
    const char* focus;
};

// Texts of values the frame does not carry or that have no meaning.
inline constexpr const char* kNoDataRecorded = "No data recorded";
inline constexpr const char* kNoTimeCodeLine = "TimeCode --:--:--   --";

// Two BCD digits in one byte: the units in the low nibble, the tens in the bits of the high
// nibble that `tensMask` keeps. The pack searches pass over packs whose digits are above 9.
constexpr int decodeBcd(std::uint8_t byte, std::uint8_t tensMask) noexcept
{
    return (byte & 0x0F) + ((byte >> 4) & tensMask) * 10;
}

// Pack 0x13 of the subcode (player-side search): hours, minutes, seconds, frames.
std::optional<TimeCode> DecodeTimeCode(std::span<const std::byte> frame, VideoSystem system) noexcept;

// Packs 0x62 and 0x63 of the subcode (player-side search) into `tm`, normalised in local time
// by mktime. Two-digit years below 50 are 20yy, the others 19yy. Returns false and writes
// nothing when either pack is missing; returns false after writing when the time lies before
// 1 January 1970 00:00:00 UTC or mktime refuses it.
bool DecodeRecordingDate(std::span<const std::byte> frame, VideoSystem system, std::tm& tm) noexcept;

// The capture side's reading of the same two packs: the frame must be exactly 144000 (PAL)
// or 120000 (NTSC) bytes. Returns the calendar time in seconds since 1970 UTC, or -1 when
// a pack is missing, the length is wrong, or the time is refused as above.
std::int64_t GetRecordingTime(std::span<const std::byte> frame) noexcept;

// Decodes one consumer camera pack. Returns false, and leaves `out` as it was, when the
// pack's header is not 0x70.
bool DecodeCameraPack(const DVPack& pack, CameraSettings& out) noexcept;

// The shutter value of sequence `sequenceIndex` from its first VAUX block (80 bytes, block 3
// of the sequence), or -1.0. Only even sequences count. The word at block offset 16..17
// counts when the pack header at offset 13 is 0x7F; failing that, the word at 11..12 when
// the header at offset 8 is 0x7F. A word of 0xFFFF, v = 0 or v = 255 gives no value.
// The value is (L / v) x R rounded with halves down, L and R being the lines of a field and the
// field rate of the frame's system: 312 and 50 for PAL, 262 and 60 for NTSC.
double DecodeShutterInSequence(std::span<const std::byte> vauxBlock, std::size_t sequenceIndex,
                               VideoSystem system) noexcept;

// The first shutter value over the sequences of the frame, or -1.0.
double DecodeShutter(std::span<const std::byte> frame, VideoSystem system) noexcept;

// Camera pack, shutter and recording date of the frame into `info` (every field but
// szTimeCode). Returns the result of DecodeRecordingDate; tmRecorded is written only as
// DecodeRecordingDate writes it.
bool DecodeFrameInfo(std::span<const std::byte> frame, VideoSystem system, DVFrameInfo& info) noexcept;

// Told about every analysed frame when AnalyseFrame is given one: the capture job shows the
// record at once and repaints the preview still.
class IFrameInfoObserver {
public:
    virtual void frameAnalysed(const DVFrameInfo& info, long frameNumber) = 0;

protected:
    ~IFrameInfoObserver() = default;
};

// Fills `info` from the frame: the time code line ("TimeCode --:--:--   --" without a time
// code pack), the camera settings, the shutter (a whole number) and the recording date
// (tm_sec, tm_min, tm_hour, tm_mon, tm_year set to -1 when there is none; the other tm
// fields keep what they held). Then tells the observer, when one is given.
void AnalyseFrame(std::span<const std::byte> frame, VideoSystem system, DVFrameInfo& info,
                  long frameNumber = 0, IFrameInfoObserver* observer = nullptr);

// How many leading sequences of `frame` decide AnalyseFrame's result: analysing only
// frame.first(n * kSequenceBytes) gives the same record as analysing the whole frame.
// That is one more than the last sequence in which any of the searches (time code, date,
// time, camera pack, shutter) made its hit; a date the calendar refuses still counts.
// Nothing when one of the searches finds nothing in the frame: then only the whole frame
// decides. Never more than searchableSequences(frame, system).
std::optional<std::size_t> SequencesDecidingAnalysis(std::span<const std::byte> frame, VideoSystem system) noexcept;

}  // namespace vantrel::dv
