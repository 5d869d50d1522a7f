// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the encoded streams into MP4 or Matroska with a date subtitle stream and chapters.
#pragma once

#include "mediagraph/export_graph.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::mediagraph {

enum class ContainerFormat { Unknown, Mp4, Matroska };

struct MuxerChapter {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string title;
};

struct MuxerSubtitle {
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::string text;
};

struct ExportMuxerOptions {
    ContainerFormat format = ContainerFormat::Unknown;
    int pixelAspectNum = 1;        // the picture's pixel shape: 4:3 or 16:9 on a 720-wide frame
    int pixelAspectDen = 1;
    int frameRateNum = 25;
    int frameRateDen = 1;
    bool hasAudio = true;
    std::vector<MuxerChapter> chapters;
    bool hasSubtitles = false;     // a text stream: mov_text in MP4, SubRip in Matroska
    std::vector<MuxerSubtitle> subtitles;  // in time order; written as the video reaches them
    std::string subtitleLanguage = "und";
};

// An IEncodedSink that muxes with libavformat (mp4mux has no chapters). The header is written
// once both streams have told their set-up; packets that come before wait in memory. Safe for
// the two streaming threads at once.
class ExportMuxer final : public IEncodedSink {
public:
    // Opens `path` for writing (an existing file is replaced). Nothing on failure, with `error`.
    static std::unique_ptr<ExportMuxer> open(const std::string& path, const ExportMuxerOptions& options,
                                             std::string& error);
    ~ExportMuxer();

    void videoStreamReady(const EncodedStreamInfo& info) override;
    void audioStreamReady(const EncodedStreamInfo& info) override;
    void videoPacket(const EncodedPacket& packet) override;
    void audioPacket(const EncodedPacket& packet) override;

    // Writes the cues not yet written, then the trailer. False with `error` when anything failed
    // on the way; the file is then incomplete.
    bool finish(std::string& error);

    std::uint64_t videoPacketsWritten() const noexcept;

    struct State;

private:
    explicit ExportMuxer(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

// The container a file name asks for: ".mp4"/".m4v" or ".mkv", any case.
ContainerFormat containerFormatOf(const std::string& path) noexcept;

}  // namespace vantrel::mediagraph
