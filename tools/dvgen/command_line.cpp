// SPDX-License-Identifier: GPL-3.0-or-later
// Parses the options of vantrel-dvgen: every value is checked, nothing is guessed.
#include "tools/dvgen/command_line.h"

#include "tools/dvgen/frame_metadata.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace vantrel::dvgen {

const char* const kDvgenUsage =
    "Usage: vantrel-dvgen [OPTION]... -o FILE\n"
    "Writes a DV tape with moving test pictures, a test sound and chosen camcorder metadata.\n"
    "\n"
    "  --system pal|ntsc          video system (pal)\n"
    "  --type 1|2                 DV AVI type: 1 interleaved stream, 2 video and audio streams (2)\n"
    "  --format avi|dv            AVI file or raw DIF stream (avi)\n"
    "  --frames N                 number of frames (250)\n"
    "  --start YYYY-MM-DDTHH:MM:SS  recording date and time of frame 0 (2004-07-14T18:03:09)\n"
    "  --timecode HH:MM:SS:FF     time code of frame 0 (00:00:00:00; NTSC counts drop-frame)\n"
    "  --jump N:+S|N:-S           at frame N the recording clock jumps by S seconds (repeatable)\n"
    "  --camera [N:]K=V,...       camera pack from frame N on; keys iris (0-63), ae (0-15),\n"
    "                             gain (0-15), wb (0-7), light (0-31), focus (byte) (repeatable)\n"
    "  --shutter [N:]D            shutter 1/D second from frame N on (1/50)\n"
    "  --shutter-word [N:]W       the shutter pack's raw word from frame N on (e.g. 0x0138)\n"
    "  --no-timecode A[-B]        frames A to B carry no time code pack (repeatable, as below)\n"
    "  --no-date A[-B]            ... neither recording date nor time packs\n"
    "  --no-time A[-B]            ... a date pack but no time pack\n"
    "  --no-camera A[-B]          ... no camera pack\n"
    "  --no-shutter A[-B]         ... no shutter pack\n"
    "  --damage ID:A[-B]          damaged copies (PC3 0xFF) of subcode pack 13, 62 or 63 in the\n"
    "                             first half of the sequences of frames A to B\n"
    "  --subcode-slots ID,...     pack IDs (hex) of the 6 slots of each subcode block, or of all 12\n"
    "                             (13,62,63,13,62,63); ff is a filler pack\n"
    "  --subcode-from-sequence N  sequences before N carry only filler in the subcode\n"
    "  --date-from-sequence N     subcode slots of sequences before N that would hold the\n"
    "                             recording date or time hold filler instead (0)\n"
    "  --camcorder-layout         the date and time subcode packs only in the second half of the\n"
    "                             sequences, as camcorders write them (same as --date-from-sequence 6\n"
    "                             for PAL, 5 for NTSC)\n"
    "  --camera-slot B:K          VAUX block B (0-2) and slot K (0-14) of the camera pack (0:3)\n"
    "  --camera-from-sequence N   sequences before N carry no camera pack\n"
    "  --shutter-slot 1|2         slot of VAUX block 0 that holds the shutter pack (2)\n"
    "  --audio none|48k|44.1k|32k|32k12  sound: 16-bit at 48, 44.1 or 32 kHz, or 12-bit 32 kHz (48k)\n"
    "  --pattern NAME             moving videotestsrc pattern (ball)\n"
    "  --aspect 4:3|16:9          display aspect in the video source control pack (4:3)\n"
    "  --pictures N               distinct pictures, looped (25)\n"
    "  -o, --output FILE          the file to write\n"
    "  --help                     this text\n"
    "  --version                  the program's version\n"
    "\n"
    "The same options give the same bytes.\n";

namespace {

using Error = std::string;

std::optional<long long> parseInteger(std::string_view text, int base = 10)
{
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X"))) text.remove_prefix(2);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

std::optional<long long> parseNumber(std::string_view text)
{
    if (text.starts_with("0x") || text.starts_with("0X")) return parseInteger(text, 16);
    return parseInteger(text);
}

std::optional<FrameRange> parseRange(std::string_view text)
{
    const auto dash = text.find('-');
    const auto first = parseInteger(text.substr(0, dash));
    const auto last = dash == std::string_view::npos ? first : parseInteger(text.substr(dash + 1));
    if (!first || !last || *first < 0 || *last < *first) return std::nullopt;
    return FrameRange{*first, *last};
}

// Splits "N:rest" into an optional frame number and the rest.
std::pair<std::optional<long long>, std::string_view> splitFramePrefix(std::string_view text, bool& ok)
{
    ok = true;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return {std::nullopt, text};
    const auto frame = parseInteger(text.substr(0, colon));
    if (!frame || *frame < 0) ok = false;
    return {frame, text.substr(colon + 1)};
}

std::optional<std::vector<long long>> parseFields(std::string_view text, char separator, std::size_t count)
{
    std::vector<long long> values;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find(separator, start);
        const auto value = parseInteger(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (!value) return std::nullopt;
        values.push_back(*value);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (values.size() != count) return std::nullopt;
    return values;
}

std::optional<LocalDateTime> parseDateTime(std::string_view text)
{
    // YYYY-MM-DDTHH:MM:SS
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto date = parseFields(text.substr(0, 10), '-', 3);
    const auto time = parseFields(text.substr(11), ':', 3);
    if (!date || !time) return std::nullopt;
    return LocalDateTime{static_cast<int>((*date)[0]), static_cast<int>((*date)[1]), static_cast<int>((*date)[2]),
                         static_cast<int>((*time)[0]), static_cast<int>((*time)[1]), static_cast<int>((*time)[2])};
}

std::optional<CameraValues> parseCamera(std::string_view text, CameraValues values)
{
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(',', start), text.size());
        const std::string_view item = text.substr(start, end - start);
        const auto equals = item.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        const std::string_view key = item.substr(0, equals);
        const auto value = parseNumber(item.substr(equals + 1));
        if (!value || *value < 0) return std::nullopt;
        const auto within = [&](long long maximum) { return *value <= maximum; };
        const auto byte = static_cast<std::uint8_t>(*value);
        if (key == "iris" && within(63)) values.irisCode = byte;
        else if (key == "ae" && within(15)) values.exposureMode = byte;
        else if (key == "gain" && within(15)) values.gainCode = byte;
        else if (key == "wb" && within(7)) values.whiteBalanceMode = byte;
        else if (key == "light" && within(31)) values.whiteBalanceLight = byte;
        else if (key == "focus" && within(255)) values.focusByte = byte;
        else return std::nullopt;
        start = end + 1;
    }
    return values;
}

std::optional<AudioFormat> parseAudio(std::string_view text)
{
    if (text == "none") return AudioFormat::None;
    if (text == "48k") return AudioFormat::Pcm48k16;
    if (text == "44.1k") return AudioFormat::Pcm44k16;
    if (text == "32k") return AudioFormat::Pcm32k16;
    if (text == "32k12") return AudioFormat::Pcm32k12;
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> parseHexList(std::string_view text)
{
    std::vector<std::uint8_t> ids;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(',', start), text.size());
        const auto id = parseInteger(text.substr(start, end - start), 16);
        if (!id || *id < 0 || *id > 0xFF) return std::nullopt;
        ids.push_back(static_cast<std::uint8_t>(*id));
        start = end + 1;
    }
    return ids;
}

// Applies one option with its value; returns an error text naming the option when it fails.
std::optional<Error> applyOption(std::string_view name, std::string_view value, DvgenCommand& command,
                                 std::string& formatName, std::optional<int>& type)
{
    TapeOptions& o = command.options;
    const Error bad = "bad value \"" + std::string(value) + "\" for " + std::string(name);
    bool ok = true;
    if (name == "--system") {
        if (value == "pal") o.system = dv::VideoSystem::Pal625_50;
        else if (value == "ntsc") o.system = dv::VideoSystem::Ntsc525_60;
        else return bad;
    } else if (name == "--type") {
        if (value == "1") type = 1;
        else if (value == "2") type = 2;
        else return bad;
    } else if (name == "--format") {
        if (value != "avi" && value != "dv") return bad;
        formatName = value;
    } else if (name == "--frames") {
        const auto n = parseInteger(value);
        if (!n || *n < 1) return bad;
        o.frameCount = *n;
    } else if (name == "--start") {
        const auto t = parseDateTime(value);
        if (!t) return bad;
        o.start = *t;
    } else if (name == "--timecode") {
        const auto f = parseFields(value, ':', 4);
        if (!f) return bad;
        o.timecode = {static_cast<int>((*f)[0]), static_cast<int>((*f)[1]), static_cast<int>((*f)[2]),
                      static_cast<int>((*f)[3])};
    } else if (name == "--jump") {
        const auto [frame, rest] = splitFramePrefix(value, ok);
        const auto seconds = parseInteger(rest);
        if (!ok || !frame || !seconds || (rest.front() != '+' && rest.front() != '-')) return bad;
        o.jumps.push_back({*frame, *seconds});
    } else if (name == "--camera") {
        const auto [frame, rest] = splitFramePrefix(value, ok);
        const auto camera = parseCamera(rest, o.camera);
        if (!ok || !camera) return bad;
        if (frame) o.cameraChanges.push_back({*frame, *camera});
        else o.camera = *camera;
    } else if (name == "--shutter" || name == "--shutter-word") {
        const auto [frame, rest] = splitFramePrefix(value, ok);
        const auto number = parseNumber(rest);
        if (!ok || !number) return bad;
        // A speed becomes a word once the system is known: the system may come later.
        ShutterChange change{frame.value_or(0), 0, 0};
        if (name == "--shutter") {
            if (*number < 1 || *number > 15720) return bad;
            change.denominator = static_cast<int>(*number);
        } else {
            if (*number < 0 || *number > 0xFFFF) return bad;
            change.word = static_cast<std::uint16_t>(*number);
        }
        if (frame) {
            o.shutterChanges.push_back(change);
        } else {
            o.shutterWord = change.word;
            o.shutterDenominator = change.denominator;
        }
    } else if (name == "--no-timecode" || name == "--no-date" || name == "--no-time" || name == "--no-camera" ||
               name == "--no-shutter") {
        const auto range = parseRange(value);
        if (!range) return bad;
        auto& list = name == "--no-timecode" ? o.withoutTimecode
                   : name == "--no-date"     ? o.withoutDate
                   : name == "--no-time"     ? o.withoutTime
                   : name == "--no-camera"   ? o.withoutCamera
                                             : o.withoutShutter;
        list.push_back(*range);
    } else if (name == "--damage") {
        const auto colon = value.find(':');
        if (colon == std::string_view::npos) return bad;
        const auto id = parseInteger(value.substr(0, colon), 16);
        const auto range = parseRange(value.substr(colon + 1));
        if (!id || !range || (*id != 0x13 && *id != 0x62 && *id != 0x63)) return bad;
        o.damagedPacks.push_back({static_cast<std::uint8_t>(*id), *range});
    } else if (name == "--subcode-slots") {
        const auto ids = parseHexList(value);
        if (!ids || (ids->size() != 6 && ids->size() != 12)) return bad;
        for (std::size_t i = 0; i < o.subcodeSlots.size(); ++i) o.subcodeSlots[i] = (*ids)[i % ids->size()];
    } else if (name == "--subcode-from-sequence" || name == "--date-from-sequence" ||
               name == "--camera-from-sequence" || name == "--shutter-slot" || name == "--pictures") {
        const auto n = parseInteger(value);
        if (!n || *n < 0 || *n > 1000) return bad;
        int& target = name == "--subcode-from-sequence" ? o.subcodeFirstSequence
                    : name == "--date-from-sequence"    ? o.dateFirstSequence
                    : name == "--camera-from-sequence"  ? o.cameraFirstSequence
                    : name == "--shutter-slot"          ? o.shutterVauxSlot
                                                        : o.pictureCount;
        target = static_cast<int>(*n);
    } else if (name == "--camera-slot") {
        const auto f = parseFields(value, ':', 2);
        if (!f) return bad;
        o.cameraVauxBlock = static_cast<int>((*f)[0]);
        o.cameraVauxSlot = static_cast<int>((*f)[1]);
    } else if (name == "--audio") {
        const auto audio = parseAudio(value);
        if (!audio) return bad;
        o.audio = *audio;
    } else if (name == "--pattern") {
        o.pattern = std::string(value);
    } else if (name == "--aspect") {
        if (value == "4:3") o.isWide = false;
        else if (value == "16:9") o.isWide = true;
        else return bad;
    } else if (name == "--camcorder-layout") {
        return "--camcorder-layout takes no value";
    } else if (name == "-o" || name == "--output") {
        command.outputPath = std::string(value);
    } else {
        return "unknown option " + std::string(name);
    }
    return std::nullopt;
}

}  // namespace

Expected<DvgenCommand, std::string> parseDvgenArguments(const std::vector<std::string>& arguments)
{
    DvgenCommand command;
    std::string formatName = "avi";
    std::optional<int> type;
    // The camcorder layout's first date sequence depends on the system, which may come later.
    bool isCamcorderLayout = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view name = arguments[i];
        std::string_view value;
        if (name == "--help" || name == "-h") {
            command.wantsHelp = true;
            return command;
        }
        if (name == "--version") {
            command.wantsVersion = true;
            return command;
        }
        if (name == "--camcorder-layout") {
            isCamcorderLayout = true;
            continue;
        }
        const auto equals = name.find('=');
        if (name.starts_with("--") && equals != std::string_view::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return unexpected("option " + std::string(name) + " needs a value");
        }
        if (auto error = applyOption(name, value, command, formatName, type)) return unexpected(*error);
        if (name == "--date-from-sequence") isCamcorderLayout = false;  // the later of the two counts
    }
    if (isCamcorderLayout) command.options.dateFirstSequence = camcorderDateFirstSequence(command.options.system);
    auto& o = command.options;
    if (o.shutterDenominator > 0) o.shutterWord = shutterWordFor(o.shutterDenominator, o.system);
    for (auto& change : o.shutterChanges)
        if (change.denominator > 0) change.word = shutterWordFor(change.denominator, o.system);
    if (formatName == "dv") {
        if (type) return unexpected(std::string("--type applies to AVI files only"));
        command.options.format = FileFormat::RawDv;
    } else {
        command.options.format = type.value_or(2) == 1 ? FileFormat::AviType1 : FileFormat::AviType2;
    }
    if (command.outputPath.empty()) return unexpected(std::string("no output file given (-o FILE)"));
    return command;
}

}  // namespace vantrel::dvgen
