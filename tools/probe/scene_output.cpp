// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the scene list of DV files: one line (or JSON object) per scene.
#include "tools/probe/scene_output.h"

#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "pipeline/scene_list.h"

#include <memory>

namespace vantrel::probe {
namespace {

std::string isoText(const std::tm& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02dT%02d:%02d:%02d", static_cast<long long>(t.tm_year) + 1900,
                  static_cast<long long>(t.tm_mon) + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

void printScene(const pipeline::Scene& scene, OutputMode mode, dv::VideoSystem system, std::FILE* out)
{
    const std::string duration = pipeline::sceneDurationText(scene.frameCount(), system);
    if (mode == OutputMode::Json) {
        const auto date = [](const std::optional<std::tm>& t) {
            return t ? "\"" + isoText(*t) + "\"" : std::string("null");
        };
        std::fprintf(out,
                     "{\"first_frame\":%zu,\"last_frame\":%zu,\"first_recorded\":%s,\"last_recorded\":%s,"
                     "\"frames\":%zu,\"duration\":\"%s\",\"first_timecode\":%s}\n",
                     scene.firstFrame, scene.lastFrame, date(scene.firstRecorded).c_str(),
                     date(scene.lastRecorded).c_str(), scene.frameCount(), duration.c_str(),
                     scene.firstTimeCode.starts_with("--") ? "null"
                                                           : ("\"" + scene.firstTimeCode + "\"").c_str());
        return;
    }
    const auto date = [](const std::optional<std::tm>& t) {
        return t ? pipeline::recordedText(*t) : std::string("No recording date !");
    };
    std::fprintf(out, "%zu\t%zu\t%s\t%s\t%zu\t%s\t%s\n", scene.firstFrame, scene.lastFrame,
                 date(scene.firstRecorded).c_str(), date(scene.lastRecorded).c_str(), scene.frameCount(),
                 duration.c_str(), scene.firstTimeCode.c_str());
}

}  // namespace

FileOutcome listScenes(const std::string& path, OutputMode mode, int sceneGapSeconds, std::FILE* out,
                       std::FILE* err)
{
    auto opened = avi::OpenDVAvi(path);
    if (!opened) {
        std::fprintf(err, "vantrel-probe: %s\n", opened.error().c_str());
        return FileOutcome::Unreadable;
    }
    auto file = std::make_shared<const avi::DvAvi>(std::move(opened.value()));
    FileOutcome outcome = FileOutcome::Read;
    for (const std::string& note : file->reader().notes()) {
        std::fprintf(err, "vantrel-probe: %s: %s\n", path.c_str(), note.c_str());
        outcome = FileOutcome::ReadWithDamage;
    }
    avi::AnalysisThread analysis;
    analysis.start(file);
    analysis.waitUntilFinished();
    if (analysis.readFailures() > 0) {
        std::fprintf(err, "vantrel-probe: %s: %zu frames cannot be read; each counts as the frame before it\n",
                     path.c_str(), analysis.readFailures());
        outcome = FileOutcome::ReadWithDamage;
    }
    pipeline::SceneListBuilder scenes(sceneGapSeconds);
    bool hasAnyDate = false;
    for (std::size_t i = 0; i < analysis.frameCount(); ++i) {
        const auto record = analysis.recordFor(i);
        if (!record) break;
        hasAnyDate = hasAnyDate || pipeline::recordingTimeOf(*record) > 0;
        scenes.add(*record);
    }
    if (!hasAnyDate) std::fprintf(err, "vantrel-probe: %s: no frame carries a recording date: one scene\n", path.c_str());
    for (const pipeline::Scene& scene : scenes.scenes()) printScene(scene, mode, file->videoSystem(), out);
    return outcome;
}

}  // namespace vantrel::probe
