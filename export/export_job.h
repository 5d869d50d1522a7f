// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a DV file into an H.264 MP4 or Matroska file for viewing, with the recording date on it.
#pragma once

#include "export/burn_in.h"
#include "mediagraph/export_graph.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::exporting {

struct ExportOptions {
    std::string inputPath;
    std::string outputPath;               // .mp4, .m4v or .mkv
    BurnIn burnIn = BurnIn::None;
    bool hasSubtitles = false;            // the date as a soft subtitle stream
    bool hasChapters = false;             // a chapter at each scene
    bool deinterlace = false;
    int crf = 20;
    int sceneGapSeconds = 1;
    std::string dateFormat;               // strftime format of the subtitle text; empty: as the panel
    mediagraph::ExportAudioCodec audioCodec = mediagraph::ExportAudioCodec::Aac;
};

struct ExportProgress {
    std::size_t framesDone = 0;
    std::size_t frameCount = 0;
    double framesPerSecond = 0;
    double secondsLeft = 0;
};

enum class ExportOutcome { Unknown, Done, DoneWithDamage, Failed, Interrupted };

// One export. prepare() does every check that can fail before work begins (the output can be
// created, the input is DV); run() analyses, encodes and muxes into a hidden file beside the
// output, renamed to the output's name only when it is complete. An interrupted or failed run
// removes its hidden file: no half file ever carries the final name.
class ExportJob {
public:
    static std::unique_ptr<ExportJob> prepare(const ExportOptions& options, std::string& error);
    ~ExportJob();
    ExportJob(const ExportJob&) = delete;
    ExportJob& operator=(const ExportJob&) = delete;

    // `progress` is called on the calling thread after frames are handed over; `stop` is polled
    // between frames. `notes` receives the damage found and why a run failed.
    ExportOutcome run(const std::function<void(const ExportProgress&)>& progress, const std::atomic<bool>& stop,
                      std::vector<std::string>& notes);

    // The hidden file the run writes into (for tests of the interruption).
    const std::string& workingPath() const noexcept;

    struct State;

private:
    explicit ExportJob(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

}  // namespace vantrel::exporting
