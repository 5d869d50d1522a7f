// SPDX-License-Identifier: GPL-3.0-or-later
// What a generated tape holds: system, length, pictures, sound and the metadata of every frame.
#pragma once

#include "dv/dif_layout.h"
#include "tools/dvgen/civil_time.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::dvgen {

enum class FileFormat { Unknown, AviType1, AviType2, RawDv };

enum class AudioFormat { Unknown, None, Pcm48k16, Pcm44k16, Pcm32k16, Pcm32k12 };

struct Timecode {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
};

// Inclusive range of frame numbers.
struct FrameRange {
    std::int64_t first = 0;
    std::int64_t last = 0;
    bool contains(std::int64_t frame) const noexcept { return frame >= first && frame <= last; }
};

// The fields of the consumer camera pack (0x70), as codes.
struct CameraValues {
    std::uint8_t irisCode = 16;          // 0..63, F-number 2^(code/8): 16 is F4.0
    std::uint8_t exposureMode = 0;       // 0..15 (PC2 bits 7..4), 0 fully automatic
    std::uint8_t gainCode = 1;           // 0..15, 1 is 0 dB
    std::uint8_t whiteBalanceMode = 0;   // 0..7, 0 automatic
    std::uint8_t whiteBalanceLight = 4;  // 0..31, 4 sunlight
    std::uint8_t focusByte = 0x7F;       // bit 7 manual focus, bits 6..0 position (0x7F: none)
};

// From frame `atFrame` on, the camera pack carries `values`.
struct CameraChange {
    std::int64_t atFrame = 0;
    CameraValues values;
};

// From frame `atFrame` on, the shutter pack (0x7F) carries `word` (little-endian in PC3, PC4).
struct ShutterChange {
    std::int64_t atFrame = 0;
    std::uint16_t word = 0x0138;  // 1/50 s
    int denominator = 0;          // 1/denominator s, the word made for the tape's system; 0: `word` as given
};

// At frame `atFrame` the recording clock jumps by `bySeconds` (a scene cut).
struct DateJump {
    std::int64_t atFrame = 0;
    std::int64_t bySeconds = 0;
};

// In frames of `frames`, the copies of pack `packId` in the first half of the sequences are
// damaged: a wrong value whose PC3 is 0xFF, as a dropout leaves them.
struct DamagedPack {
    std::uint8_t packId = 0x13;
    FrameRange frames;
};

struct TapeOptions {
    dv::VideoSystem system = dv::VideoSystem::Pal625_50;
    FileFormat format = FileFormat::AviType2;
    std::int64_t frameCount = 250;

    // Pictures: a loop of `pictureCount` distinct encoded pictures of a moving test pattern.
    std::string pattern = "ball";
    int pictureCount = 25;
    // The display aspect bits of the video source control pack: 16:9 instead of 4:3.
    bool isWide = false;

    AudioFormat audio = AudioFormat::Pcm48k16;

    // Time code of frame 0; it counts on with the frames (drop-frame counting for NTSC).
    Timecode timecode;
    // Recording date and time of frame 0, advancing one second every 25 (or 30000/1001) frames.
    LocalDateTime start{2004, 7, 14, 18, 3, 9};
    std::vector<DateJump> jumps;
    CameraValues camera;
    std::vector<CameraChange> cameraChanges;
    std::uint16_t shutterWord = 0x0138;
    int shutterDenominator = 0;  // as in ShutterChange
    std::vector<ShutterChange> shutterChanges;

    std::vector<FrameRange> withoutTimecode;
    std::vector<FrameRange> withoutDate;        // neither date (0x62) nor time (0x63)
    std::vector<FrameRange> withoutTime;        // the date pack stays, the time pack (0x63) goes
    std::vector<FrameRange> withoutCamera;
    std::vector<FrameRange> withoutShutter;
    std::vector<DamagedPack> damagedPacks;

    // Pack IDs of the 6 slots of subcode block 0 and of block 1 (0xFF: a filler pack).
    std::array<std::uint8_t, 12> subcodeSlots{0x13, 0x62, 0x63, 0x13, 0x62, 0x63,
                                              0x13, 0x62, 0x63, 0x13, 0x62, 0x63};
    // Sequences before this one carry filler in every subcode slot.
    int subcodeFirstSequence = 0;
    // Sequences before this one carry filler in the subcode slots that would hold the recording
    // date (0x62) or time (0x63); 0..sequence count. Camcorders start at the second half.
    int dateFirstSequence = 0;
    // Where the camera pack lies in the VAUX of each sequence, and from which sequence on.
    int cameraVauxBlock = 0;
    int cameraVauxSlot = 3;
    int cameraFirstSequence = 0;
    // Slot of VAUX block 0 that holds the shutter pack: 2 (the usual) or 1.
    int shutterVauxSlot = 2;
};

// Frames per second as a fraction.
struct FrameRate {
    std::uint32_t rate;
    std::uint32_t scale;
};

constexpr FrameRate frameRate(dv::VideoSystem system) noexcept
{
    return system == dv::VideoSystem::Pal625_50 ? FrameRate{25, 1} : FrameRate{30000, 1001};
}

// The first sequence whose subcode a camcorder gives the recording date and time: the second
// half of the frame (PAL 6 of 12, NTSC 5 of 10). The time code goes into every sequence.
constexpr int camcorderDateFirstSequence(dv::VideoSystem system) noexcept
{
    return static_cast<int>(dv::sequenceCount(system) / 2);
}

}  // namespace vantrel::dvgen
