// SPDX-License-Identifier: GPL-3.0-or-later
// The player's numbers and texts: frame number of a position, position label, host text, refused files.
#include "player/player_texts.h"

#include <cstdio>

namespace vantrel::player {

const char* const kOpenDialogFilters =
    "Video Files (*.avi *.dv *.dif *.qt *.mov *.mpg *.mpeg *.m1v);;"
    "Audio files (*.wav *.mpa *.mp2 *.mp3 *.au *.aif *.aiff *.snd);;"
    "MIDI Files (*.mid *.midi *.rmi);;"
    "Image Files (*.jpg *.bmp *.gif *.tga);;"
    "All Files (*)";

namespace {
constexpr double kPalFramePeriodMs = 40.0;
constexpr double kNtscFramePeriodMs = 33.3333;
constexpr std::size_t kMaxNameChecked = 259;  // the refusal test reads this much of the name
constexpr std::size_t kMaxFilePart = 259;
}  // namespace

long frameNumberOfPosition(std::int64_t position100ns, bool isPal) noexcept
{
    const std::int64_t milliseconds = position100ns / kUnitsPerMillisecond;
    return static_cast<long>(static_cast<double>(milliseconds) / (isPal ? kPalFramePeriodMs : kNtscFramePeriodMs));
}

std::string positionLabelText(std::int64_t position100ns)
{
    const std::int64_t seconds = position100ns / kUnitsPerSecond;
    char text[64];
    std::snprintf(text, sizeof text, "Position: %02dm:%02ds", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
    return text;
}

std::string hostText(const HostTextFacts& facts)
{
    if (facts.fileName.empty())
        return kProductTitle;
    const std::size_t slash = facts.fileName.find_last_of("\\/");
    std::string filePart = slash == std::string::npos ? facts.fileName : facts.fileName.substr(slash + 1);
    filePart.resize(std::min(filePart.size(), kMaxFilePart));
    char ratePart[21] = "";
    if (facts.rate != 1.0)
        std::snprintf(ratePart, sizeof ratePart, "(Rate:%2.2f)", facts.rate);
    std::string text = filePart + " [" + (facts.isAudioOnly ? "Audio" : "Video") + "] ";
    text += facts.isMuted ? "(Muted)" : "";
    text += facts.isPaused ? "(Paused)" : "";
    text += ratePart;
    return text;
}

Refusal refusalOf(std::string_view lowerCasedName) noexcept
{
    if (lowerCasedName.find(".asx") != std::string_view::npos)
        return Refusal::PlayList;
    const std::string_view checked = lowerCasedName.substr(0, kMaxNameChecked);
    for (const std::string_view extension : {".asf", ".wma", ".wmv"})
        if (checked.find(extension) != std::string_view::npos)
            return Refusal::WindowsMedia;
    return Refusal::Accepted;
}

const char* refusalMessage(Refusal refusal) noexcept
{
    switch (refusal) {
    case Refusal::PlayList:
        return "ASX Playlists are not supported by this application.\n\nPlease select a valid media file.";
    case Refusal::WindowsMedia:
        return "Windows Media files (ASF,WMV,WMA) are not supported by this application.\n\n"
               "To play Windows Media files, use the ReelpaneASF or Spindle samples.";
    case Refusal::Accepted:
    case Refusal::Invalid: break;
    }
    return nullptr;
}

std::string lowerCased(std::string_view name)
{
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace vantrel::player
