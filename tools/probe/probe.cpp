// SPDX-License-Identifier: GPL-3.0-or-later
// The probe reads frames as the player's analysis does: OpenDVAvi, then the subcode and VAUX
// blocks of every frame into one reused buffer, AnalyseFrame, and the info line formatter.
#include "tools/probe/probe.h"

#include "avi/dv_avi.h"
#include "avi/analysis_thread.h"
#include "tools/probe/ordered_analysis.h"
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

namespace vantrel::probe {
namespace {

// Appends text to a fixed line buffer; the caller sizes it for the longest line.
class LineBuilder {
public:
    void append(std::string_view text) noexcept
    {
        const std::size_t n = std::min(text.size(), m_buffer.size() - m_size);
        std::memcpy(m_buffer.data() + m_size, text.data(), n);
        m_size += n;
    }
    void append(char c) noexcept
    {
        if (m_size < m_buffer.size()) m_buffer[m_size++] = c;
    }
    void appendNumber(long long value) noexcept
    {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, value);
        append(std::string_view(digits, static_cast<std::size_t>(written.ptr - digits)));
    }
    // A JSON string, escaped.
    void appendJsonString(std::string_view text) noexcept
    {
        append('"');
        for (char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if (c == '"' || c == '\\') {
                append('\\');
                append(c);
            } else if (u < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
                append(escaped);
            } else {
                append(c);
            }
        }
        append('"');
    }
    void writeTo(std::FILE* out) noexcept
    {
        std::fwrite(m_buffer.data(), 1, m_size, out);
        m_size = 0;
    }

private:
    std::array<char, 2048> m_buffer{};
    std::size_t m_size = 0;
};

void appendInfoLines(LineBuilder& line, long frameNumber, const dv::InfoLines& lines)
{
    line.appendNumber(frameNumber);
    line.append('\t');
    line.append(lines.line1);
    line.append('\t');
    line.append(lines.line2);
    line.append('\t');
    line.append(lines.line3);
    line.append('\t');
    line.append(lines.timeCode);
    line.append('\n');
}

bool hasCameraPack(const dv::DVFrameInfo& info) noexcept
{
    return std::strcmp(info.szExposure, dv::kNoDataRecorded) != 0;
}

bool hasRecordingDate(const std::tm& t) noexcept
{
    return t.tm_mday != -1 && t.tm_mon != -1 && t.tm_year != -1 && t.tm_hour != -1 && t.tm_min != -1 &&
           t.tm_sec != -1;
}

// A JSON string for text that may hold any bytes (a file name): escaped, and each byte that is
// not part of valid UTF-8 replaced by U+FFFD, so that the output always parses.
std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        const std::size_t length = u < 0x80 ? 1 : (u >> 5) == 0x6 ? 2 : (u >> 4) == 0xE ? 3 : (u >> 3) == 0x1E ? 4 : 0;
        bool isValid = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; isValid && k < length; ++k) {
            isValid = (static_cast<unsigned char>(text[i + k]) >> 6) == 0x2;
        }
        if (!isValid) {
            out += "\\ufffd";
            ++i;
        } else if (u == '"' || u == '\\') {
            out += '\\';
            out += static_cast<char>(u);
            ++i;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out + "\"";
}

// A name or message as it may go to a terminal: as it is when every byte is printable, else in
// $'...' with its control bytes escaped (a newline in a file name must not start a new line).
std::string quotedForTerminal(std::string_view text)
{
    const bool isPlain = std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u != 0x7F;
    });
    if (isPlain) return std::string(text);
    std::string out = "$'";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\'' || c == '\\') (out += '\\') += c;
        else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "'";
}

// A frame whose read failed carries its error and no values: nothing of another frame's.
void appendJsonError(LineBuilder& line, const std::string& fileJson, long frameNumber, const std::string& error)
{
    line.append("{\"file\":");
    line.append(fileJson);
    line.append(",\"frame\":");
    line.appendNumber(frameNumber);
    line.append(",\"timecode\":null,\"recorded\":null,\"shutter\":null,\"iris\":null,\"gain_db\":null,"
                "\"exposure\":null,\"white_balance_mode\":null,\"white_balance\":null,\"focus\":null,\"error\":");
    line.appendJsonString(error);
    line.append("}\n");
}

void appendJson(LineBuilder& line, const std::string& fileJson, long frameNumber, const dv::DVFrameInfo& info,
                const std::optional<dv::TimeCode>& timecode, const char* error)
{
    char text[64];
    line.append("{\"file\":");
    line.append(fileJson);
    line.append(",\"frame\":");
    line.appendNumber(frameNumber);
    line.append(",\"timecode\":");
    if (timecode) {
        std::snprintf(text, sizeof text, "\"%02d:%02d:%02d:%02d\"", timecode->hours, timecode->minutes,
                      timecode->seconds, timecode->frames);
        line.append(text);
    } else {
        line.append("null");
    }
    line.append(",\"recorded\":");
    const std::tm& t = info.tmRecorded;
    if (hasRecordingDate(t)) {
        std::snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", t.tm_year + 1900, t.tm_mon + 1,
                      t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        line.append(text);
    } else {
        line.append("null");
    }
    line.append(",\"shutter\":");
    if (info.dShutter != -1.0) line.appendNumber(static_cast<long long>(info.dShutter));
    else line.append("null");
    const bool camera = hasCameraPack(info);
    line.append(",\"iris\":");
    if (camera) {
        std::snprintf(text, sizeof text, "%.3f", info.dIris);
        line.append(text);
    } else {
        line.append("null");
    }
    line.append(",\"gain_db\":");
    if (camera) line.appendNumber(dv::gainDecibels(info.nGain));
    else line.append("null");
    line.append(",\"exposure\":");
    line.appendJsonString(info.szExposure);
    line.append(",\"white_balance_mode\":");
    line.appendJsonString(info.szWhiteBalanceMode);
    line.append(",\"white_balance\":");
    line.appendJsonString(info.szWhiteBalance);
    line.append(",\"focus\":");
    line.appendJsonString(info.szFocus);
    line.append(",\"error\":");
    if (error) line.appendJsonString(error);
    else line.append("null");
    line.append("}\n");
}

void report(std::FILE* err, const std::string& path, std::string_view reason)
{
    // The reader's messages may already begin with the file's name.
    const std::string prefix = path + ": ";
    if (reason.substr(0, prefix.size()) == prefix) reason.remove_prefix(prefix.size());
    std::fprintf(err, "vantrel-probe: %s: %s\n", quotedForTerminal(path).c_str(), quotedForTerminal(reason).c_str());
}

constexpr const char* kNoDifHeader = "does not begin with a DIF header block (damaged)";

}  // namespace

void reportWriteError(std::FILE* err, int error)
{
    std::fprintf(err, "vantrel-probe: write error: %s\n", std::strerror(error));
}

FileOutcome probeFile(const std::string& path, OutputMode mode, std::FILE* out, std::FILE* err)
{
    auto opened = avi::OpenDVAvi(path);
    if (!opened) {
        report(err, path, opened.error());
        return FileOutcome::Unreadable;
    }
    const avi::DvAvi& file = opened.value();
    FileOutcome outcome = FileOutcome::Read;
    for (const std::string& note : file.notes()) {
        report(err, path, note);
        outcome = FileOutcome::ReadWithDamage;
    }

    const std::size_t expectedBytes = dv::frameBytes(file.videoSystem());
    // Frames are read and analysed as the player's analysis thread does it, on as many workers.
    // In the info lines a frame whose read fails shows the metadata of the frame before it, as
    // the panel would; in JSON it carries its error and no values.
    OrderedAnalysis analysis(file, avi::AnalysisThread::defaultWorkerCount());
    std::optional<dv::TimeCode> timecode;
    dv::DVFrameInfo lastRecord{};
    dv::AnalyseFrame({}, file.videoSystem(), lastRecord);  // what a frame 0 that cannot be read shows
    std::vector<std::byte> frame(dv::kMaxFrameBytes);  // to read a failed frame again for its error
    dv::InfoLineFormatter formatter;  // remembered shutter starts afresh with each file
    const std::string fileJson = jsonString(path);
    LineBuilder line;
    // A file with many bad frames would drown the output: the first few are named, then a total.
    constexpr std::size_t kNamedDamagedFrames = 10;
    std::size_t damagedFrames = 0;
    const auto reportFrame = [&](std::size_t frameIndex, const std::string& reason) {
        if (++damagedFrames <= kNamedDamagedFrames) report(err, path, "frame " + std::to_string(frameIndex) + reason);
        outcome = FileOutcome::ReadWithDamage;
    };
    for (const OrderedAnalysis::Batch* batch = analysis.next(); batch; analysis.release(), batch = analysis.next()) {
        for (std::size_t k = 0; k < batch->count; ++k) {
            const std::size_t i = batch->firstFrame + k;
            const auto& result = batch->frames[k];
            const long frameNumber = static_cast<long>(i);
            std::string readError;
            const char* damage = nullptr;
            if (!result.isRead) {
                const auto again = file.readMetadataBlocks(i, frame);
                readError = "cannot be read: " + (again ? std::string("a read failed") : again.error().message);
                reportFrame(i, " " + readError);
            } else {
                if (!result.hasDifHeader) {
                    damage = kNoDifHeader;
                    reportFrame(i, std::string(" ") + kNoDifHeader);
                } else if (result.frameBytes < expectedBytes) {
                    reportFrame(i, " has " + std::to_string(result.frameBytes) + " of " +
                                       std::to_string(expectedBytes) + " bytes");
                }
                timecode = result.timecode;
                lastRecord = result.record;
            }
            if (mode == OutputMode::Json) {
                if (!result.isRead) appendJsonError(line, fileJson, frameNumber, readError);
                else appendJson(line, fileJson, frameNumber, result.record, timecode, damage);
            } else {
                appendInfoLines(line, frameNumber, formatter.ShowFrameInfo(lastRecord, frameNumber));
            }
            line.writeTo(out);
            if (std::ferror(out)) {
                reportWriteError(err, errno);
                return FileOutcome::OutputFailed;
            }
        }
    }
    if (damagedFrames > kNamedDamagedFrames) {
        report(err, path, std::to_string(damagedFrames) + " damaged frames in all (the first " +
                              std::to_string(kNamedDamagedFrames) + " named above)");
    }
    return outcome;
}

}  // namespace vantrel::probe
