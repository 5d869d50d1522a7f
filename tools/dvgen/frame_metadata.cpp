// SPDX-License-Identifier: GPL-3.0-or-later
// Builds the time code, date, camera, shutter and sound packs of every frame of a generated tape.
#include "tools/dvgen/frame_metadata.h"

#include <algorithm>
#include <cmath>

namespace vantrel::dvgen {
namespace {

constexpr std::int64_t kPalFramesPerDay = 24LL * 3600 * 25;
constexpr std::int64_t kNtscFramesPerTenMinutes = 17982;  // 10 x 1800, less 9 x 2 dropped labels
constexpr std::int64_t kNtscFramesPerDay = 144 * kNtscFramesPerTenMinutes;

bool inAny(const std::vector<FrameRange>& ranges, std::int64_t frame) noexcept
{
    return std::any_of(ranges.begin(), ranges.end(), [frame](const FrameRange& r) { return r.contains(frame); });
}

bool isDamaged(const TapeOptions& options, std::uint8_t packId, std::int64_t frame) noexcept
{
    return std::any_of(options.damagedPacks.begin(), options.damagedPacks.end(),
                       [&](const DamagedPack& d) { return d.packId == packId && d.frames.contains(frame); });
}

bool isPal(const TapeOptions& options) noexcept { return options.system == dv::VideoSystem::Pal625_50; }

// Frame count of a time code label. NTSC counts drop-frame: labels ;00 and ;01 are skipped
// at the start of every minute that is not a tenth minute.
std::int64_t labelToFrames(const Timecode& tc, bool isNtsc) noexcept
{
    if (!isNtsc) return ((tc.hours * 60LL + tc.minutes) * 60 + tc.seconds) * 25 + tc.frames;
    const std::int64_t totalMinutes = tc.hours * 60LL + tc.minutes;
    return tc.hours * 108000LL + tc.minutes * 1800LL + tc.seconds * 30LL + tc.frames -
           2 * (totalMinutes - totalMinutes / 10);
}

Timecode framesToLabel(std::int64_t frames, bool isNtsc) noexcept
{
    int framesPerSecond = 25;
    if (isNtsc) {
        framesPerSecond = 30;
        frames %= kNtscFramesPerDay;
        const std::int64_t tens = frames / kNtscFramesPerTenMinutes;
        const std::int64_t rest = frames % kNtscFramesPerTenMinutes;
        frames += 18 * tens + (rest < 2 ? 0 : 2 * ((rest - 2) / 1798));
    } else {
        frames %= kPalFramesPerDay;
    }
    Timecode tc;
    tc.frames = static_cast<int>(frames % framesPerSecond);
    const std::int64_t seconds = frames / framesPerSecond;
    tc.seconds = static_cast<int>(seconds % 60);
    tc.minutes = static_cast<int>(seconds / 60 % 60);
    tc.hours = static_cast<int>(seconds / 3600 % 24);
    return tc;
}

template <class Change, class Value>
Value lastChangeAt(const std::vector<Change>& changes, std::int64_t frame, Value initial, Value Change::*member) noexcept
{
    std::int64_t bestFrame = -1;
    Value value = initial;
    for (const Change& change : changes) {
        if (change.atFrame <= frame && change.atFrame >= bestFrame) {
            bestFrame = change.atFrame;
            value = change.*member;
        }
    }
    return value;
}

void putPack(std::span<std::byte> frame, std::size_t offset, const PackBytes& pack) noexcept
{
    for (std::size_t i = 0; i < pack.size(); ++i) frame[offset + i] = static_cast<std::byte>(pack[i]);
}

// A wrong value with PC3 = 0xFF: what a dropout leaves of a pack.
PackBytes damagedPack(std::uint8_t packId) noexcept
{
    switch (packId) {
    case 0x13: return {0x13, 0x11, 0x11, 0xFF, 0x11};
    case 0x62: return {0x62, 0xFF, 0xD1, 0xFF, 0x11};
    case 0x63: return {0x63, 0xFF, 0x91, 0xFF, 0xD1};
    default: return {packId, 0x11, 0x11, 0xFF, 0x11};
    }
}

PackBytes subcodePack(std::uint8_t packId, const TapeOptions& options, std::int64_t frameIndex, bool isFirstHalf) noexcept
{
    const bool hasDate = !inAny(options.withoutDate, frameIndex);
    switch (packId) {
    case 0x13:
        if (inAny(options.withoutTimecode, frameIndex)) return kFillerPack;
        break;
    case 0x62:
        if (!hasDate) return kFillerPack;
        break;
    case 0x63:
        if (!hasDate || inAny(options.withoutTime, frameIndex)) return kFillerPack;
        break;
    case 0xFF:
        return kFillerPack;
    default:
        return {packId, 0xFF, 0xFF, 0xFF, 0xFF};
    }
    if (isFirstHalf && isDamaged(options, packId, frameIndex)) return damagedPack(packId);
    if (packId == 0x13) return timecodePack(timecodeAt(options, frameIndex), !isPal(options));
    const LocalDateTime t = recordedAt(options, frameIndex);
    return packId == 0x62 ? recordingDatePack(0x62, t) : recordingTimePack(0x63, t);
}

// The pack ID that subcode slot `slot` (0..11, block 0 then block 1) of sequence `sequence` holds.
std::uint8_t subcodeSlotId(const TapeOptions& options, int sequence, std::size_t slot) noexcept
{
    if (sequence < options.subcodeFirstSequence) return 0xFF;
    const std::uint8_t id = options.subcodeSlots[slot];
    const bool isDateOrTime = id == 0x62 || id == 0x63;
    return isDateOrTime && sequence < options.dateFirstSequence ? std::uint8_t{0xFF} : id;
}

void writeSubcode(std::span<std::byte> frame, const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    const std::size_t sequences = dv::sequenceCount(options.system);
    for (std::size_t s = 0; s < sequences; ++s) {
        const bool isFirstHalf = s < sequences / 2;
        for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b) {
            for (std::size_t k = 0; k < dv::kSubcodePacksPerBlock; ++k) {
                const std::uint8_t id =
                    subcodeSlotId(options, static_cast<int>(s), b * dv::kSubcodePacksPerBlock + k);
                putPack(frame, dv::subcodePackOffset(s, b, k), subcodePack(id, options, frameIndex, isFirstHalf));
            }
        }
    }
}

// The encoder writes 4:3 into its video source control packs (0x61); PC2 bits 2..0 hold the
// display aspect: 0 for 4:3, 2 for 16:9.
void setDisplayAspect(std::span<std::byte> frame, std::size_t sequence, bool isWide) noexcept
{
    for (std::size_t b = 0; b < dv::kVauxBlocks; ++b) {
        for (std::size_t k = 0; k < dv::kVauxPacksPerBlock; ++k) {
            const std::size_t at = dv::vauxPackOffset(sequence, b, k);
            if (frame[at] != std::byte{0x61}) continue;
            const auto pc2 = static_cast<std::uint8_t>(frame[at + 2]);
            frame[at + 2] = std::byte(static_cast<std::uint8_t>((pc2 & 0xF8) | (isWide ? 0x02 : 0x00)));
        }
    }
}

// VAUX of each sequence: the encoder's video source and control packs (slots 0, 1, 9 and 10 of
// every block) stay; the shutter pack goes to slot 2 of block 0, the camera pack to slot 3 of
// block 0, and the recording date and time to slots 2 and 3 of block 1.
void writeVaux(std::span<std::byte> frame, const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    const std::size_t sequences = dv::sequenceCount(options.system);
    const bool hasDate = !inAny(options.withoutDate, frameIndex);
    const bool hasTime = hasDate && !inAny(options.withoutTime, frameIndex);
    const bool hasCamera = !inAny(options.withoutCamera, frameIndex);
    const bool hasShutter = !inAny(options.withoutShutter, frameIndex);
    const LocalDateTime t = recordedAt(options, frameIndex);
    const PackBytes camera = cameraPack(cameraAt(options, frameIndex));
    const PackBytes shutter = shutterPack(shutterWordAt(options, frameIndex));
    for (std::size_t s = 0; s < sequences; ++s) {
        setDisplayAspect(frame, s, options.isWide);
        putPack(frame, dv::vauxPackOffset(s, 0, static_cast<std::size_t>(options.shutterVauxSlot)),
                hasShutter ? shutter : kFillerPack);
        putPack(frame, dv::vauxPackOffset(s, 1, 2), hasDate ? recordingDatePack(0x62, t) : kFillerPack);
        putPack(frame, dv::vauxPackOffset(s, 1, 3), hasTime ? recordingTimePack(0x63, t) : kFillerPack);
        const bool cameraHere = hasCamera && static_cast<int>(s) >= options.cameraFirstSequence;
        putPack(frame,
                dv::vauxPackOffset(s, static_cast<std::size_t>(options.cameraVauxBlock),
                                   static_cast<std::size_t>(options.cameraVauxSlot)),
                cameraHere ? camera : kFillerPack);
    }
}

// AAUX: one pack in each of the 9 audio blocks. Even sequences carry the source pack in audio
// block 3 and the source control in block 4; odd sequences in blocks 0 and 1; the date and
// time follow them.
void writeAaux(std::span<std::byte> frame, const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    const std::uint32_t samples = audioSamplesInFrame(options, frameIndex);
    const bool pal = isPal(options);
    std::uint32_t minimumSamples = 0;
    std::uint8_t frequencyCode = 0;
    switch (options.audio) {
    case AudioFormat::Pcm48k16: minimumSamples = pal ? 1896 : 1580; frequencyCode = 0; break;
    case AudioFormat::Pcm44k16: minimumSamples = pal ? 1742 : 1452; frequencyCode = 1; break;
    case AudioFormat::Pcm32k16:
    case AudioFormat::Pcm32k12: minimumSamples = pal ? 1264 : 1053; frequencyCode = 2; break;
    default: return;
    }
    const bool is12Bit = options.audio == AudioFormat::Pcm32k12;
    const bool isLocked = options.audio != AudioFormat::Pcm44k16;
    const PackBytes source{
        0x50,
        static_cast<std::uint8_t>((isLocked ? 0x00 : 0x80) | 0x40 | ((samples - minimumSamples) & 0x3F)),
        0x00,  // one channel pair per block, audio mode 0
        static_cast<std::uint8_t>(0xC0 | (pal ? 0x20 : 0x00)),  // 50-field system bit; type 0, 2 channels
        static_cast<std::uint8_t>(0x80 | (frequencyCode << 3) | (is12Bit ? 1 : 0))};
    const PackBytes sourceControl{0x51, 0x33, 0xCF, 0xA0, 0xFF};
    const LocalDateTime t = recordedAt(options, frameIndex);
    const bool hasDate = !inAny(options.withoutDate, frameIndex);
    const PackBytes date = hasDate ? recordingDatePack(0x52, t) : kFillerPack;
    const PackBytes time = hasDate ? recordingTimePack(0x53, t) : kFillerPack;
    const std::size_t sequences = dv::sequenceCount(options.system);
    for (std::size_t s = 0; s < sequences; ++s) {
        const std::size_t first = s % 2 == 0 ? 3 : 0;
        for (std::size_t a = 0; a < dv::kAudioBlocks; ++a) {
            const std::size_t role = (a + dv::kAudioBlocks - first) % dv::kAudioBlocks;
            const PackBytes& pack = role == 0 ? source : role == 1 ? sourceControl : role == 2 ? date
                                  : role == 3 ? time : kFillerPack;
            putPack(frame, dv::audioBlockOffset(s, a) + 3, pack);
        }
    }
}

}  // namespace

std::uint8_t toBcd(int value) noexcept
{
    return static_cast<std::uint8_t>((value / 10 % 10) << 4 | value % 10);
}

PackBytes timecodePack(const Timecode& tc, bool isDropFrame) noexcept
{
    // PC1 bit 6: the drop-frame flag. The binary group flags and the polarity bit above the
    // seconds, minutes and hours carry nothing on a consumer tape and read 1.
    return {0x13, static_cast<std::uint8_t>((isDropFrame ? 0x40 : 0x00) | toBcd(tc.frames)),
            static_cast<std::uint8_t>(0x80 | toBcd(tc.seconds)), static_cast<std::uint8_t>(0x80 | toBcd(tc.minutes)),
            static_cast<std::uint8_t>(0xC0 | toBcd(tc.hours))};
}

PackBytes recordingDatePack(std::uint8_t packId, const LocalDateTime& t) noexcept
{
    // PC1 0xFF: no time zone. PC2: two reserved bits then the day. PC3: weekday then month.
    return {packId, 0xFF, static_cast<std::uint8_t>(0xC0 | toBcd(t.day)),
            static_cast<std::uint8_t>(weekday(t) << 5 | toBcd(t.month)), toBcd(t.year % 100)};
}

PackBytes recordingTimePack(std::uint8_t packId, const LocalDateTime& t) noexcept
{
    // PC1 0xFF: no frame count. Reserved bits above each BCD field are set.
    return {packId, 0xFF, static_cast<std::uint8_t>(0x80 | toBcd(t.second)),
            static_cast<std::uint8_t>(0x80 | toBcd(t.minute)), static_cast<std::uint8_t>(0xC0 | toBcd(t.hour))};
}

PackBytes cameraPack(const CameraValues& v) noexcept
{
    return {0x70, static_cast<std::uint8_t>(0xC0 | (v.irisCode & 0x3F)),
            static_cast<std::uint8_t>((v.exposureMode & 0x0F) << 4 | (v.gainCode & 0x0F)),
            static_cast<std::uint8_t>((v.whiteBalanceMode & 0x07) << 5 | (v.whiteBalanceLight & 0x1F)), v.focusByte};
}

PackBytes shutterPack(std::uint16_t word) noexcept
{
    return {0x7F, 0xFF, 0xFF, static_cast<std::uint8_t>(word & 0xFF), static_cast<std::uint8_t>(word >> 8)};
}

std::uint16_t shutterWordFor(int denominator, dv::VideoSystem system) noexcept
{
    // A reader shows lines x fields / v for the value v of the word (312 x 50 = 15600 for PAL,
    // 262 x 60 = 15720 for NTSC), rounded with halves down; words from 0x8138 carry v + 0x8000,
    // smaller words only their low nine bits. v = 255 means no value.
    const bool isPal = system == dv::VideoSystem::Pal625_50;
    const double lines = isPal ? 312.0 : 262.0;
    const double fields = isPal ? 50.0 : 60.0;
    const int product = static_cast<int>(lines * fields);
    const int wanted = std::clamp(denominator, 1, product);
    const auto shown = [&](int v) {
        const double x = (lines / v) * fields;
        return x - std::trunc(x) > 0.5 ? std::ceil(x) : std::floor(x);
    };
    int best = 1;
    for (int v : {product / wanted, product / wanted + 1}) {
        if (v < 1 || v > product || v == 255) continue;
        if (std::fabs(shown(v) - wanted) < std::fabs(shown(best) - wanted)) best = v;
    }
    return static_cast<std::uint16_t>(best <= 312 ? best : 0x8000 + best);
}

Timecode timecodeAt(const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    const bool isNtsc = !isPal(options);
    return framesToLabel(labelToFrames(options.timecode, isNtsc) + frameIndex, isNtsc);
}

LocalDateTime recordedAt(const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    const FrameRate fps = frameRate(options.system);
    std::int64_t seconds = frameIndex * fps.scale / fps.rate;
    for (const DateJump& jump : options.jumps) {
        if (jump.atFrame <= frameIndex) seconds += jump.bySeconds;
    }
    return addSeconds(options.start, seconds);
}

CameraValues cameraAt(const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    return lastChangeAt(options.cameraChanges, frameIndex, options.camera, &CameraChange::values);
}

std::uint16_t shutterWordAt(const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    return lastChangeAt(options.shutterChanges, frameIndex, options.shutterWord, &ShutterChange::word);
}

std::uint32_t audioSampleRateHz(AudioFormat audio) noexcept
{
    switch (audio) {
    case AudioFormat::Pcm48k16: return 48000;
    case AudioFormat::Pcm44k16: return 44100;
    case AudioFormat::Pcm32k16:
    case AudioFormat::Pcm32k12: return 32000;
    default: return 0;
    }
}

std::uint64_t audioSamplesBefore(const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    const FrameRate fps = frameRate(options.system);
    return static_cast<std::uint64_t>(frameIndex) * audioSampleRateHz(options.audio) * fps.scale / fps.rate;
}

std::uint32_t audioSamplesInFrame(const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    return static_cast<std::uint32_t>(audioSamplesBefore(options, frameIndex + 1) -
                                      audioSamplesBefore(options, frameIndex));
}

void writeFrameMetadata(std::span<std::byte> frame, const TapeOptions& options, std::int64_t frameIndex) noexcept
{
    if (frame.size() < dv::frameBytes(options.system)) return;
    writeSubcode(frame, options, frameIndex);
    writeVaux(frame, options, frameIndex);
    writeAaux(frame, options, frameIndex);
}

}  // namespace vantrel::dvgen
