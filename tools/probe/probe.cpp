// SPDX-License-Identifier: GPL-3.0-or-later
// The probe reads frames as the player's analysis does: OpenDVAvi, then the subcode and VAUX
// blocks of every frame into one reused buffer, AnalyseFrame, and the info line formatter.
#include "tools/probe/probe.h"

#include "avi/dv_avi.h"
#include "avi/frame_batch_analyser.h"
#include "dv/info_lines.h"
#include "dv/pack_decoders.h"

#include <algorithm>
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
        const int n = std::snprintf(digits, sizeof digits, "%lld", value);
        append(std::string_view(digits, static_cast<std::size_t>(n)));
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

void appendJson(LineBuilder& line, long frameNumber, const dv::DVFrameInfo& info,
                const std::optional<dv::TimeCode>& timecode)
{
    char text[64];
    line.append("{\"frame\":");
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
    line.append("}\n");
}

void report(std::FILE* err, const std::string& path, std::string_view reason)
{
    // The reader's messages may already begin with the file's name.
    const std::string prefix = path + ": ";
    if (reason.substr(0, prefix.size()) == prefix) reason.remove_prefix(prefix.size());
    std::fprintf(err, "vantrel-probe: %s: %.*s\n", path.c_str(), static_cast<int>(reason.size()), reason.data());
}

}  // namespace

FileOutcome probeFile(const std::string& path, OutputMode mode, std::FILE* out, std::FILE* err)
{
    auto opened = avi::OpenDVAvi(path);
    if (!opened) {
        report(err, path, opened.error());
        return FileOutcome::Unreadable;
    }
    const avi::DvAvi& file = opened.value();
    FileOutcome outcome = FileOutcome::Read;
    for (const std::string& note : file.reader().notes()) {
        report(err, path, note);
        outcome = FileOutcome::ReadWithDamage;
    }

    const dv::VideoSystem system = file.videoSystem();
    const std::size_t expectedBytes = dv::frameBytes(system);
    // Frames are read and analysed as the player's analysis thread does it. A frame whose read
    // fails shows the metadata of the frame before it, time code included.
    avi::FrameBatchAnalyser analyser;
    constexpr std::size_t kBatch = avi::FrameBatchAnalyser::kBatchFrames;
    std::array<std::size_t, kBatch> batch{};
    std::array<dv::DVFrameInfo, kBatch> infos{};
    std::array<dv::DVFrameInfo*, kBatch> records{};
    for (std::size_t k = 0; k < kBatch; ++k) records[k] = &infos[k];
    std::array<avi::FrameBatchAnalyser::FrameOutcome, kBatch> outcomes{};
    std::optional<dv::TimeCode> timecode;
    std::vector<std::byte> frame(dv::kMaxFrameBytes);  // to read a failed frame again for its error
    dv::InfoLineFormatter formatter;  // remembered shutter starts afresh with each file
    LineBuilder line;
    const std::size_t frames = file.frameCount();
    // A file with many bad frames would drown the output: the first few are named, then a total.
    constexpr std::size_t kNamedDamagedFrames = 10;
    std::size_t damagedFrames = 0;
    const auto reportFrame = [&](std::size_t frameIndex, const std::string& reason) {
        if (++damagedFrames <= kNamedDamagedFrames) report(err, path, "frame " + std::to_string(frameIndex) + reason);
        outcome = FileOutcome::ReadWithDamage;
    };
    for (std::size_t first = 0; first < frames; first += kBatch) {
        const std::size_t count = std::min(kBatch, frames - first);
        for (std::size_t k = 0; k < count; ++k) batch[k] = first + k;
        analyser.analyse(file, std::span<const std::size_t>(batch.data(), count),
                         std::span<dv::DVFrameInfo* const>(records.data(), count),
                         std::span<avi::FrameBatchAnalyser::FrameOutcome>(outcomes.data(), count));
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t i = first + k;
            const auto& result = outcomes[k];
            if (!result.isRead) {
                const auto again = file.readMetadataBlocks(i, frame);
                reportFrame(i, ": " + (again ? std::string("cannot be read") : again.error().message));
            } else {
                if (result.frameBytes < expectedBytes) {
                    reportFrame(i, " has " + std::to_string(result.frameBytes) + " of " +
                                       std::to_string(expectedBytes) + " bytes");
                }
                timecode = dv::DecodeTimeCode(result.analysedBytes, system);
            }
            const long frameNumber = static_cast<long>(i);
            if (mode == OutputMode::Json) {
                appendJson(line, frameNumber, infos[k], timecode);
            } else {
                appendInfoLines(line, frameNumber, formatter.ShowFrameInfo(infos[k], frameNumber));
            }
            line.writeTo(out);
        }
    }
    if (damagedFrames > kNamedDamagedFrames) {
        report(err, path, std::to_string(damagedFrames) + " damaged frames in all (the first " +
                              std::to_string(kNamedDamagedFrames) + " named above)");
    }
    if (std::ferror(out)) {
        report(err, path, "cannot write the output");
        return FileOutcome::Unreadable;
    }
    return outcome;
}

}  // namespace vantrel::probe
