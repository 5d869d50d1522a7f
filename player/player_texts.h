// SPDX-License-Identifier: GPL-3.0-or-later
// The player's numbers and texts: frame number of a position, position label, host text, refused files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::player {

inline constexpr const char* kMessageCaption = "Reelpane Sample";
inline constexpr const char* kOpenDialogTitle = "Open Media File...";
inline constexpr const char* kProductTitle = "Vantrel ver. 2.0";

// The open dialog's filters in Qt's form ("description (patterns)"): the file kinds the program
// offers first, then every file. Raw DV streams are listed with the videos.
extern const char* const kOpenDialogFilters;

inline constexpr std::int64_t kUnitsPerMillisecond = 10000;  // positions are in 100 ns units
inline constexpr std::int64_t kUnitsPerSecond = 10000000;
inline constexpr std::int64_t kStepBackUnits = 400000;       // 40 ms, whatever the standard

// The frame shown at a position: whole milliseconds divided by 40.0 (PAL) or 33.3333 (NTSC), truncated.
long frameNumberOfPosition(std::int64_t position100ns, bool isPal) noexcept;

// "Position: %02dm:%02ds": minutes are not wrapped into hours.
std::string positionLabelText(std::int64_t position100ns);

// The text of the player's host: the product title without a file, else "%s [%s] %s%s%s"
// with the file part of the name, "Audio"/"Video", "(Muted)", "(Paused)" and the rate.
struct HostTextFacts {
    std::string fileName;   // empty: nothing loaded
    bool isAudioOnly = true;
    bool isMuted = false;
    bool isPaused = false;
    double rate = 1.0;
};
std::string hostText(const HostTextFacts& facts);

// Why a chosen name is refused; the name is the lower-cased one and the test looks anywhere in it.
enum class Refusal { Invalid, Accepted, PlayList, WindowsMedia };
Refusal refusalOf(std::string_view lowerCasedName) noexcept;
const char* refusalMessage(Refusal refusal) noexcept;  // nullptr for Accepted

// ASCII lower-casing of a name, as the player stores it.
std::string lowerCased(std::string_view name);

}  // namespace vantrel::player
