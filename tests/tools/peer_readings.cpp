// SPDX-License-Identifier: GPL-3.0-or-later
// Parses MediaInfo's DV analysis table: frames separated by '&', fields by tabs. --ParseSpeed=1
// makes it analyse every frame, not only the first few hundred.
#include "tools/peer_readings.h"

#include "tools/tool_runner.h"

#include <cstdio>

namespace vantrel::tests {
namespace {

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace

std::vector<MediaInfoFrame> mediaInfoFrames(const std::string& path)
{
    const CommandResult result = runCommand({"mediainfo", "--ParseSpeed=1", "--File_DvDif_Analysis=1", "-f", path});
    std::vector<MediaInfoFrame> frames;
    for (const std::string& line : splitLines(result.out)) {
        // The key is exactly "Errors_Stats", padded with blanks up to the colon.
        if (line.rfind("Errors_Stats ", 0) != 0) continue;
        const auto colon = line.find(": ");
        if (colon == std::string::npos) continue;
        for (const std::string& record : splitFields(line.substr(colon + 2), '&')) {
            const auto fields = splitFields(record, '\t');
            if (fields.size() < 5) continue;
            MediaInfoFrame frame;
            try {
                frame.frame = std::stol(trim(fields[0]));
            } catch (...) {
                continue;
            }
            frame.timecode = trim(fields[2]);
            if (frame.timecode.size() == 11 && frame.timecode[8] == ';') frame.timecode[8] = ':';
            frame.recorded = trim(fields[4]);
            // MediaInfo marks a frame without the pack with X digits.
            if (frame.timecode.rfind("XX", 0) == 0) frame.timecode.clear();
            if (frame.recorded.rfind("XX", 0) == 0) frame.recorded.clear();
            frames.push_back(frame);
        }
    }
    return frames;
}

MediaInfoFrame probeLineAsMediaInfo(const std::string& line)
{
    const auto fields = splitFields(line, '\t');
    MediaInfoFrame frame;
    if (fields.size() != 5) return frame;
    frame.frame = std::stol(fields[0]);
    int hh = 0, mm = 0, ss = 0, ff = 0;
    if (std::sscanf(fields[4].c_str(), "TimeCode %d:%d:%d %d", &hh, &mm, &ss, &ff) == 4) {
        char text[32];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", hh, mm, ss, ff);
        frame.timecode = text;
    }
    int day = 0, month = 0, year = 0;
    if (std::sscanf(fields[1].c_str(), "%d.%d.%d %d:%d:%d", &day, &month, &year, &hh, &mm, &ss) == 6) {
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hh, mm, ss);
        frame.recorded = text;
    }
    return frame;
}

}  // namespace vantrel::tests
