// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the recording date of a DV file as a SubRip or WebVTT subtitle file.
#include "export/subtitle_export.h"

#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "pipeline/date_subtitles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vantrel::exporting {

SubtitleOutcome exportDateSubtitles(const std::string& inputPath, const std::string& outputPath,
                                    const std::string& dateFormat, std::vector<std::string>& notes)
{
    const pipeline::SubtitleFormat format = pipeline::subtitleFormatOf(outputPath);
    if (format == pipeline::SubtitleFormat::Unknown) {
        notes.push_back(outputPath + ": the subtitle file must end in .srt or .vtt");
        return SubtitleOutcome::CouldNotStart;
    }
    auto opened = avi::OpenDVAvi(inputPath);
    if (!opened) {
        notes.push_back(opened.error());
        return SubtitleOutcome::CouldNotStart;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(outputPath.c_str(), "w"), std::fclose);
    if (!out) {
        notes.push_back("cannot write " + outputPath + ": " + std::strerror(errno));
        return SubtitleOutcome::CouldNotStart;
    }
    auto file = std::make_shared<const avi::DvAvi>(std::move(opened.value()));
    bool isDamaged = false;
    for (const std::string& note : file->reader().notes()) {
        notes.push_back(note);
        isDamaged = true;
    }
    avi::AnalysisThread analysis;
    analysis.start(file);
    analysis.waitUntilFinished();
    if (analysis.readFailures() > 0) {
        notes.push_back(std::to_string(analysis.readFailures()) +
                        " frames cannot be read; each shows the date of the frame before it");
        isDamaged = true;
    }
    pipeline::DateCueBuilder cues(dateFormat);
    for (std::size_t i = 0; i < analysis.frameCount(); ++i) cues.add(analysis.recordFor(i).value_or(dv::DVFrameInfo{}));
    if (!pipeline::writeSubtitles(cues.cues(), format, file->videoSystem(), out.get())) {
        notes.push_back("cannot write " + outputPath);
        return SubtitleOutcome::Failed;
    }
    if (cues.cues().empty()) {
        notes.push_back("no frame carries a recording date: the subtitle file has no cue");
        return SubtitleOutcome::DoneWithoutDates;
    }
    return isDamaged ? SubtitleOutcome::DoneWithDamage : SubtitleOutcome::Done;
}

}  // namespace vantrel::exporting
