// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes the time code, recording date, camera settings and shutter speed of one DV frame.
#include "dv/pack_decoders.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <mutex>

namespace vantrel::dv {
namespace {

// Consumer camera pack, PC2 bits 7..4.
constexpr std::array<const char*, 16> kExposureModeTexts{
    "Fully automatic", "Gain priority",  "Shutter priority", "Iris priority",
    "Manual",          "No information", "No information",   "No information",
    "No information",  "No information", "No information",   "No information",
    "No information",  "No information", "No information",   "No information",
};

// Consumer camera pack, PC3 bits 7..5. Note the capital I of this table's "No Information".
constexpr std::array<const char*, 8> kWhiteBalanceModeTexts{
    "auto", "Hold", "One Push", "Preset", "Invalid", "Invalid", "Invalid", "No Information",
};

// Consumer camera pack, PC3 bits 4..0; codes 7..31 have no meaning.
constexpr std::array<const char*, 7> kLightSourceTexts{
    "Candle",         "Incandescent lamp", "Incandescent lamp (low temp)", "Incandescent lamp (high temp)",
    "Sunlight",       "Cloudiness",        "others",
};
constexpr const char* kNoInformation = "No information";

// Consumer camera pack, PC4 bit 7.
constexpr std::array<const char*, 2> kFocusModeTexts{"auto", "manual"};

// Where the first VAUX block of a sequence keeps the shutter pack: the camcorder writes the
// consumer camera shutter pack (0x7F) into slot 2 and some models into slot 1; the shutter
// word is PC3 (low byte) and PC4 (high byte) of that pack.
struct ShutterSlot {
    std::size_t headerOffset;
    std::size_t wordOffset;
};
constexpr ShutterSlot kPreferredShutterSlot{13, 16};
constexpr ShutterSlot kFallbackShutterSlot{8, 11};
constexpr std::uint16_t kNoShutterWord = 0xFFFF;

constexpr int kCenturyPivot = 50;  // two-digit years below this are 20yy

template <std::size_t N>
void copyText(char (&destination)[N], const char* text) noexcept
{
    std::snprintf(destination, N, "%s", text);
}

void fillRecordingTm(const DVPack& date, const DVPack& time, std::tm& tm) noexcept
{
    const int day = decodeBcd(date.pc[2], 0x3);
    const int month = decodeBcd(date.pc[3], 0x1);
    const int twoDigitYear = decodeBcd(date.pc[4], 0xF);
    tm.tm_sec = decodeBcd(time.pc[2], 0x7);
    tm.tm_min = decodeBcd(time.pc[3], 0x7);
    tm.tm_hour = decodeBcd(time.pc[4], 0x3);
    tm.tm_mday = day;
    tm.tm_mon = month - 1;
    tm.tm_year = (twoDigitYear < kCenturyPivot ? 2000 + twoDigitYear : 1900 + twoDigitYear) - 1900;
    tm.tm_wday = -1;
    tm.tm_yday = -1;
    tm.tm_isdst = -1;
}

// The fields of `from`, one by one, so that the padding of `to` keeps its bytes.
void copyTmFields(const std::tm& from, std::tm& to) noexcept
{
    to.tm_sec = from.tm_sec;
    to.tm_min = from.tm_min;
    to.tm_hour = from.tm_hour;
    to.tm_mday = from.tm_mday;
    to.tm_mon = from.tm_mon;
    to.tm_year = from.tm_year;
    to.tm_wday = from.tm_wday;
    to.tm_yday = from.tm_yday;
    to.tm_isdst = from.tm_isdst;
    to.tm_gmtoff = from.tm_gmtoff;
    to.tm_zone = from.tm_zone;
}

bool haveSameGivenFields(const std::tm& a, const std::tm& b) noexcept
{
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour && a.tm_mday == b.tm_mday &&
           a.tm_mon == b.tm_mon && a.tm_year == b.tm_year && a.tm_isdst == b.tm_isdst;
}

// mktime in local time; times before the 1970 epoch are refused like mktime's own failure.
// glibc's mktime assigns a whole struct tm of its stack, padding included, so it works on a
// copy: records of equal frames then stay equal byte for byte.
// mktime works on time-zone state that glibc shares between threads under a lock of its own,
// which the thread sanitizer cannot see: the calls go one at a time through a lock of ours.
// A tape carries the same date and time for a second's worth of frames, so each thread keeps
// its last conversion: mktime runs about once per second of video, and threads seldom meet.
std::int64_t toCalendarTime(std::tm& tm) noexcept
{
    struct Conversion {
        std::tm given;
        std::tm normalised;
        std::time_t time;
        bool isSet;
    };
    thread_local Conversion last{};
    if (!last.isSet || !haveSameGivenFields(last.given, tm)) {
        static std::mutex mktimeMutex;
        std::tm normalised = tm;
        std::time_t t = -1;
        {
            std::lock_guard lock(mktimeMutex);
            t = std::mktime(&normalised);
        }
        last = Conversion{tm, normalised, t, true};
    }
    copyTmFields(last.normalised, tm);
    if (last.time == static_cast<std::time_t>(-1) || last.time < 0) return -1;
    return static_cast<std::int64_t>(last.time);
}

std::uint16_t shutterWord(std::span<const std::byte> vauxBlock, ShutterSlot slot) noexcept
{
    if (vauxBlock.size() < slot.wordOffset + 2) return kNoShutterWord;
    if (static_cast<std::uint8_t>(vauxBlock[slot.headerOffset]) != kCameraShutterPack) return kNoShutterWord;
    const auto low = static_cast<std::uint16_t>(vauxBlock[slot.wordOffset]);
    const auto high = static_cast<std::uint16_t>(vauxBlock[slot.wordOffset + 1]);
    return static_cast<std::uint16_t>(low | (high << 8));
}

// Rounds half down: only a fraction above .5 goes up.
double roundHalfDown(double x) noexcept
{
    const double fraction = x - std::trunc(x);
    return fraction > 0.5 ? std::ceil(x) : std::floor(x);
}

struct ShutterHit {
    double shutter;
    std::size_t sequence;
};

// The first sequence whose first VAUX block gives a shutter value, and that value.
std::optional<ShutterHit> findShutter(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    const auto sequences = searchableSequences(frame, system);
    for (std::size_t s = 0; s < sequences; ++s) {
        const auto block = frame.subspan(vauxBlockOffset(s, 0), kDifBlockBytes);
        const double shutter = DecodeShutterInSequence(block, s, system);
        if (shutter != -1.0) return ShutterHit{shutter, s};
    }
    return std::nullopt;
}

}  // namespace

std::optional<TimeCode> DecodeTimeCode(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    const auto pack = FindSubcodePack(frame, system, kTimeCodePack);
    if (!pack) return std::nullopt;
    return TimeCode{
        decodeBcd(pack->pc[4], 0x3),
        decodeBcd(pack->pc[3], 0x7),
        decodeBcd(pack->pc[2], 0x7),
        decodeBcd(pack->pc[1], 0x3),
    };
}

bool DecodeRecordingDate(std::span<const std::byte> frame, VideoSystem system, std::tm& tm) noexcept
{
    const auto date = FindSubcodePack(frame, system, kRecordingDatePack);
    if (!date) return false;
    const auto time = FindSubcodePack(frame, system, kRecordingTimePack);
    if (!time) return false;
    fillRecordingTm(*date, *time, tm);
    return toCalendarTime(tm) != -1;
}

std::int64_t GetRecordingTime(std::span<const std::byte> frame) noexcept
{
    if (frame.size() != kPalFrameBytes && frame.size() != kNtscFrameBytes) return -1;
    const auto date = FindSubcodePackIn(frame, kRecordingDatePack);
    const auto time = FindSubcodePackIn(frame, kRecordingTimePack);
    if (!date || !time) return -1;
    std::tm tm{};
    fillRecordingTm(*date, *time, tm);
    return toCalendarTime(tm);
}

bool DecodeCameraPack(const DVPack& pack, CameraSettings& out) noexcept
{
    if (pack.header() != kCameraPack) return false;
    out.focus = kFocusModeTexts[pack.pc[4] >> 7];
    out.exposure = kExposureModeTexts[pack.pc[2] >> 4];
    out.gain = pack.pc[2] & 0x0F;
    out.iris = std::pow(2.0, (pack.pc[1] & 0x3F) * 0.125);
    out.whiteBalanceMode = kWhiteBalanceModeTexts[pack.pc[3] >> 5];
    const auto lightSource = static_cast<std::size_t>(pack.pc[3] & 0x1F);
    out.whiteBalance = lightSource < kLightSourceTexts.size() ? kLightSourceTexts[lightSource] : kNoInformation;
    return true;
}

double DecodeShutterInSequence(std::span<const std::byte> vauxBlock, std::size_t sequenceIndex,
                               VideoSystem system) noexcept
{
    if (sequenceIndex % 2 != 0) return -1.0;
    auto word = shutterWord(vauxBlock, kPreferredShutterSlot);
    if (word == kNoShutterWord) word = shutterWord(vauxBlock, kFallbackShutterSlot);
    if (word == kNoShutterWord) return -1.0;
    // Below 0x8138 only the low nine bits count; from there on the word less its top bit.
    const int v = word < 0x8138 ? (word & 0x1FF) : (word - 0x8000);
    if (v == 255 || v == 0) return -1.0;
    // v counts lines of a field: an NTSC camcorder's 1/100 s is 157 of its 262 lines at 60 fields a
    // second, which PAL's 312 lines at 50 would show as 1/99.
    const bool isPal = system == VideoSystem::Pal625_50;
    const double linesPerField = isPal ? 312.0 : 262.0;
    const double fieldsPerSecond = isPal ? 50.0 : 60.0;
    return roundHalfDown((linesPerField / v) * fieldsPerSecond);
}

double DecodeShutter(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    const auto hit = findShutter(frame, system);
    return hit ? hit->shutter : -1.0;
}

bool DecodeFrameInfo(std::span<const std::byte> frame, VideoSystem system, DVFrameInfo& info) noexcept
{
    CameraSettings camera{0.0, 0, kNoDataRecorded, kNoDataRecorded, kNoDataRecorded, kNoDataRecorded};
    if (const auto pack = FindVauxPack(frame, system, kCameraPack)) DecodeCameraPack(*pack, camera);
    info.dIris = camera.iris;
    info.nGain = camera.gain;
    copyText(info.szExposure, camera.exposure);
    copyText(info.szWhiteBalanceMode, camera.whiteBalanceMode);
    copyText(info.szWhiteBalance, camera.whiteBalance);
    copyText(info.szFocus, camera.focus);
    info.dShutter = DecodeShutter(frame, system);
    return DecodeRecordingDate(frame, system, info.tmRecorded);
}

void AnalyseFrame(std::span<const std::byte> frame, VideoSystem system, DVFrameInfo& info, long frameNumber,
                  IFrameInfoObserver* observer)
{
    if (const auto timeCode = DecodeTimeCode(frame, system)) {
        std::snprintf(info.szTimeCode, sizeof info.szTimeCode, "TimeCode %02d:%02d:%02d   %02d", timeCode->hours,
                      timeCode->minutes, timeCode->seconds, timeCode->frames);
    } else {
        copyText(info.szTimeCode, kNoTimeCodeLine);
    }
    if (!DecodeFrameInfo(frame, system, info)) {
        info.tmRecorded.tm_sec = -1;
        info.tmRecorded.tm_min = -1;
        info.tmRecorded.tm_hour = -1;
        info.tmRecorded.tm_mon = -1;
        info.tmRecorded.tm_year = -1;
    }
    if (info.dShutter != -1.0) info.dShutter = static_cast<double>(static_cast<std::int32_t>(std::ceil(info.dShutter)));
    if (observer) observer->frameAnalysed(info, frameNumber);
}

std::optional<std::size_t> SequencesDecidingAnalysis(std::span<const std::byte> frame, VideoSystem system) noexcept
{
    std::size_t lastHit = 0;
    for (const std::uint8_t id : {kTimeCodePack, kRecordingDatePack, kRecordingTimePack}) {
        const auto hit = findSubcodePackHit(frame, system, id);
        if (!hit) return std::nullopt;
        lastHit = std::max(lastHit, hit->sequence);
    }
    const auto camera = findVauxPackHit(frame, system, kCameraPack);
    if (!camera) return std::nullopt;
    const auto shutter = findShutter(frame, system);
    if (!shutter) return std::nullopt;
    return std::max({lastHit, camera->sequence, shutter->sequence}) + 1;
}

}  // namespace vantrel::dv
