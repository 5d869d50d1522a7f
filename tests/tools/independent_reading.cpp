// SPDX-License-Identifier: GPL-3.0-or-later
// How the info panel reads a DV frame, written out plainly for comparison with the real engine.
#include "tools/independent_reading.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace vantrel::tests {
namespace {

constexpr std::size_t kSequence = 12000;

int bcd(std::uint8_t byte, int tensMask) { return (byte & 0x0F) + ((byte >> 4) & tensMask) * 10; }

// Player side: subcode pack with the ID whose PC2, PC3 and PC4 are not 0xFF.
const std::uint8_t* subcodePack(const std::uint8_t* f, std::size_t sequences, std::uint8_t id)
{
    for (std::size_t s = 0; s < sequences; ++s) {
        for (std::size_t block = 1; block <= 2; ++block) {
            for (std::size_t slot = 0; slot < 6; ++slot) {
                const std::uint8_t* p = f + s * kSequence + block * 80 + 3 + slot * 8 + 3;
                if (p[0] == id && p[2] != 0xFF && p[3] != 0xFF && p[4] != 0xFF) return p;
            }
        }
    }
    return nullptr;
}

const std::uint8_t* vauxPack(const std::uint8_t* f, std::size_t sequences, std::uint8_t id)
{
    for (std::size_t s = 0; s < sequences; ++s) {
        for (std::size_t block = 3; block <= 5; ++block) {
            for (std::size_t slot = 0; slot < 15; ++slot) {
                const std::uint8_t* p = f + s * kSequence + block * 80 + 3 + slot * 5;
                if (p[0] == id) return p;
            }
        }
    }
    return nullptr;
}

// -1 when no even sequence gives a value. A word counts only under a shutter pack header (0x7F);
// a word whose value is 0 gives none either.
int shutterOf(const std::uint8_t* f, std::size_t sequences)
{
    for (std::size_t s = 0; s < sequences; s += 2) {
        const std::uint8_t* block = f + s * kSequence + 240;
        unsigned word = block[13] == 0x7F ? (block[16] | block[17] << 8) : 0xFFFF;
        if (word == 0xFFFF) word = block[8] == 0x7F ? (block[11] | block[12] << 8) : 0xFFFF;
        if (word == 0xFFFF) continue;
        const int v = word < 0x8138 ? static_cast<int>(word & 0x1FF) : static_cast<int>(word - 0x8000);
        if (v == 255 || v == 0) continue;
        const double x = (312.0 / v) * 50.0;
        const double rounded = x - std::trunc(x) > 0.5 ? std::ceil(x) : std::floor(x);
        return static_cast<int>(std::ceil(rounded));
    }
    return -1;
}

// Local time from the date and time packs; false when missing or before 1970 (years below 50 are 20yy).
bool recordedTime(const std::uint8_t* f, std::size_t sequences, std::tm& tm)
{
    const std::uint8_t* date = subcodePack(f, sequences, 0x62);
    const std::uint8_t* time = subcodePack(f, sequences, 0x63);
    if (date == nullptr || time == nullptr) return false;
    const int yy = bcd(date[4], 0xF);
    tm = std::tm{};
    tm.tm_mday = bcd(date[2], 0x3);
    tm.tm_mon = bcd(date[3], 0x1) - 1;
    tm.tm_year = (yy < 50 ? 2000 + yy : 1900 + yy) - 1900;
    tm.tm_sec = bcd(time[2], 0x7);
    tm.tm_min = bcd(time[3], 0x7);
    tm.tm_hour = bcd(time[4], 0x3);
    tm.tm_isdst = -1;
    const long long t = static_cast<long long>(std::mktime(&tm));
    return t >= 0;
}

const char* exposureText(int code)
{
    static const char* const texts[] = {"Fully automatic", "Gain priority", "Shutter priority", "Iris priority",
                                        "Manual"};
    return code <= 4 ? texts[code] : "No information";
}

const char* whiteBalanceModeText(int code)
{
    static const char* const texts[] = {"auto", "Hold", "One Push", "Preset"};
    if (code <= 3) return texts[code];
    return code == 7 ? "No Information" : "Invalid";
}

}  // namespace

std::string IndependentReading::probeLine(const std::uint8_t* f, std::size_t size, bool isPal, long frameNumber)
{
    const std::size_t sequences = isPal ? 12 : 10;
    if (size < sequences * kSequence) return "frame too short";
    char timecode[64] = "TimeCode --:--:--   --";
    if (const std::uint8_t* p = subcodePack(f, sequences, 0x13)) {
        std::snprintf(timecode, sizeof timecode, "TimeCode %02d:%02d:%02d   %02d", bcd(p[4], 0x3), bcd(p[3], 0x7),
                      bcd(p[2], 0x7), bcd(p[1], 0x3));
    }

    const int shutter = shutterOf(f, sequences);
    char shutterText[16] = "--";
    if (shutter != -1 || m_lastShutter != -1) {
        std::snprintf(shutterText, sizeof shutterText, "%d", shutter != -1 ? shutter : m_lastShutter);
    }
    if (shutter != -1) m_lastShutter = shutter;

    char line1[160];
    std::tm tm{};
    if (recordedTime(f, sequences, tm)) {
        std::snprintf(line1, sizeof line1, "%02d.%02d.%04d %02d:%02d:%02d Frame %ld Shutter 1/%s sec", tm.tm_mday,
                      tm.tm_mon + 1, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, frameNumber, shutterText);
    } else {
        std::snprintf(line1, sizeof line1, "No recording date ! Frame %ld Shutter 1/%s sec", frameNumber, shutterText);
    }

    double iris = 0.0;
    int gainDb = 0;
    const char* exposure = "No data recorded";
    const char* whiteBalanceMode = "No data recorded";
    const char* focus = "No data recorded";
    if (const std::uint8_t* p = vauxPack(f, sequences, 0x70)) {
        iris = std::pow(2.0, (p[1] & 0x3F) * 0.125);
        exposure = exposureText(p[2] >> 4);
        const int gain = p[2] & 0x0F;
        gainDb = gain == 0 ? 0 : gain * 3 - 3;
        whiteBalanceMode = whiteBalanceModeText(p[3] >> 5);
        focus = (p[4] & 0x80) != 0 ? "manual" : "auto";
    }
    char line2[160];
    std::snprintf(line2, sizeof line2, "%1.3fF Exposition %s ", iris, exposure);
    char line3[160];
    std::snprintf(line3, sizeof line3, "White balance %s  Gain %d dB  Focus %s  ", whiteBalanceMode, gainDb, focus);
    return std::to_string(frameNumber) + "\t" + line1 + "\t" + line2 + "\t" + line3 + "\t" + timecode;
}

}  // namespace vantrel::tests
