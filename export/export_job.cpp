// SPDX-License-Identifier: GPL-3.0-or-later
// Turns a DV file into an H.264 MP4 or Matroska file for viewing, with the recording date on it.
#include "export/export_job.h"

#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "dv/display_aspect.h"
#include "mediagraph/export_muxer.h"
#include "pipeline/date_subtitles.h"
#include "pipeline/scene_list.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace vantrel::exporting {
namespace {

namespace fs = std::filesystem;

// A hidden name beside the output, made unique by mkstemps: ".holiday.mp4.AbC123.part".
// Creating it proves that the folder can be written before any work starts.
std::string createWorkingFile(const std::string& outputPath, std::string& error)
{
    const fs::path output(outputPath);
    if (fs::is_directory(output)) {
        error = "cannot write " + outputPath + ": it is a folder";
        return {};
    }
    const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + output.filename().string() + ".XXXXXX.part")).string();
    const int fd = ::mkstemps(pattern.data(), 5);
    if (fd < 0) {
        error = "cannot write " + outputPath + ": " + std::strerror(errno);
        return {};
    }
    ::close(fd);
    return pattern;
}

std::int64_t frameMs(std::size_t frameIndex, dv::VideoSystem system)
{
    return pipeline::frameTimeMs(frameIndex, system);
}

// The pixel shape that gives a 720-pixel-wide frame its display aspect.
void pixelAspect(dv::DisplayAspect aspect, dv::VideoSystem system, int& num, int& den)
{
    const bool isPal = system == dv::VideoSystem::Pal625_50;
    if (aspect == dv::DisplayAspect::Wide16x9) {
        num = isPal ? 64 : 32;
        den = isPal ? 45 : 27;
    } else {
        num = isPal ? 16 : 8;
        den = isPal ? 15 : 9;
    }
}

}  // namespace

struct ExportJob::State {
    ExportOptions options;
    std::string workingPath;
    std::shared_ptr<const avi::DvAvi> file;
    bool isRenamed = false;

    ~State()
    {
        if (!isRenamed && !workingPath.empty()) ::unlink(workingPath.c_str());
    }
};

ExportJob::ExportJob(std::unique_ptr<State> state) : m_state(std::move(state)) {}
ExportJob::~ExportJob() = default;

const std::string& ExportJob::workingPath() const noexcept { return m_state->workingPath; }

std::unique_ptr<ExportJob> ExportJob::prepare(const ExportOptions& options, std::string& error)
{
    if (mediagraph::containerFormatOf(options.outputPath) == mediagraph::ContainerFormat::Unknown) {
        error = options.outputPath + ": the output must end in .mp4, .m4v or .mkv";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->options = options;
    state->workingPath = createWorkingFile(options.outputPath, error);
    if (state->workingPath.empty()) return nullptr;
    auto opened = avi::OpenDVAvi(options.inputPath);
    if (!opened) {
        error = opened.error();
        return nullptr;  // the state's destructor removes the working file
    }
    state->file = std::make_shared<const avi::DvAvi>(std::move(opened.value()));
    return std::unique_ptr<ExportJob>(new ExportJob(std::move(state)));
}

ExportOutcome ExportJob::run(const std::function<void(const ExportProgress&)>& progress,
                             const std::atomic<bool>& stop, std::vector<std::string>& notes)
{
    State& s = *m_state;
    const ExportOptions& o = s.options;
    const avi::DvAvi& file = *s.file;
    const dv::VideoSystem system = file.videoSystem();
    const std::size_t frames = file.frameCount();
    bool isDamaged = false;
    for (const std::string& note : file.reader().notes()) {
        notes.push_back(note);
        isDamaged = true;
    }

    // The records of every frame first: scenes, cues and the burn-in text all come from them.
    avi::AnalysisThread analysis;
    analysis.start(s.file);
    analysis.waitUntilFinished();
    std::vector<dv::DVFrameInfo> records(frames);
    pipeline::SceneListBuilder scenes(o.sceneGapSeconds);
    pipeline::DateCueBuilder cues(o.dateFormat);
    for (std::size_t i = 0; i < frames; ++i) {
        records[i] = analysis.recordFor(i).value_or(dv::DVFrameInfo{});
        scenes.add(records[i]);
        cues.add(records[i]);
    }

    mediagraph::ExportMuxerOptions muxing;
    muxing.format = mediagraph::containerFormatOf(o.outputPath);
    const bool isPal = system == dv::VideoSystem::Pal625_50;
    muxing.frameRateNum = isPal ? 25 : 30000;
    muxing.frameRateDen = isPal ? 1 : 1001;
    std::vector<std::byte> frame(dv::kMaxFrameBytes);
    dv::DisplayAspect aspect = dv::DisplayAspect::Unknown;
    for (std::size_t i = 0; i < frames && aspect == dv::DisplayAspect::Unknown && i < 250; ++i) {
        if (auto read = file.readFrame(i, frame)) aspect = dv::DecodeDisplayAspect({frame.data(), *read}, system);
    }
    pixelAspect(aspect, system, muxing.pixelAspectNum, muxing.pixelAspectDen);
    if (o.hasChapters) {
        int number = 0;
        for (const pipeline::Scene& scene : scenes.scenes()) {
            std::string title = "Scene " + std::to_string(++number);
            if (scene.firstRecorded) title += " " + pipeline::recordedText(*scene.firstRecorded);
            muxing.chapters.push_back({frameMs(scene.firstFrame, system), frameMs(scene.lastFrame + 1, system), title});
        }
    }
    muxing.hasSubtitles = o.hasSubtitles;
    if (o.hasSubtitles) {
        for (const pipeline::SubtitleCue& cue : cues.cues()) {
            muxing.subtitles.push_back({frameMs(cue.firstFrame, system), frameMs(cue.endFrame, system), cue.text});
        }
    }

    std::string error;
    auto muxer = mediagraph::ExportMuxer::open(s.workingPath, muxing, error);
    if (!muxer) {
        notes.push_back(error);
        return ExportOutcome::Failed;
    }
    // The hook runs on the video streaming thread, frames in order; only it uses these.
    DateBurnIn dateBurnIn;
    std::unique_ptr<PanelBurnIn> panelBurnIn;
    mediagraph::FrameHook hook;
    if (o.burnIn == BurnIn::Date) {
        hook = [&](std::size_t frameIndex, const mediagraph::RawPicture& picture) {
            if (frameIndex < records.size()) dateBurnIn.draw(records[frameIndex], picture);
        };
    } else if (o.burnIn == BurnIn::Panel) {
        panelBurnIn = std::make_unique<PanelBurnIn>();
        hook = [&](std::size_t frameIndex, const mediagraph::RawPicture& picture) {
            if (frameIndex < records.size()) panelBurnIn->draw(records[frameIndex], frameIndex, picture);
        };
    }
    mediagraph::ExportGraphOptions encoding;
    encoding.system = system;
    encoding.audioCodec = o.audioCodec;
    encoding.deinterlace = o.deinterlace;
    encoding.crf = o.crf;
    auto graph = mediagraph::ExportGraph::create(encoding, *muxer, hook, error);
    if (!graph) {
        notes.push_back(error);
        return ExportOutcome::Failed;
    }

    const std::size_t expectedBytes = dv::frameBytes(system);
    std::size_t damagedFrames = 0;
    const auto noteDamage = [&](std::string text) {
        if (++damagedFrames <= 10) notes.push_back(std::move(text));
        isDamaged = true;
    };
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < frames; ++i) {
        if (stop.load(std::memory_order_relaxed)) {
            graph->abort();
            notes.push_back("interrupted at frame " + std::to_string(i) + "; no file written");
            return ExportOutcome::Interrupted;
        }
        const auto read = file.readFrame(i, frame);
        if (!read) {
            noteDamage("frame " + std::to_string(i) + " cannot be read (" + read.error().message + "); left out");
        } else if (*read < expectedBytes) {
            noteDamage("frame " + std::to_string(i) + " has " + std::to_string(*read) + " of " +
                       std::to_string(expectedBytes) + " bytes; left out");
        } else if (!graph->pushFrame(i, {frame.data(), expectedBytes})) {
            break;  // finish() names the graph's error
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ExportProgress p;
        p.framesDone = i + 1;
        p.frameCount = frames;
        p.framesPerSecond = seconds > 0 ? static_cast<double>(i + 1) / seconds : 0;
        p.secondsLeft = p.framesPerSecond > 0 ? static_cast<double>(frames - i - 1) / p.framesPerSecond : 0;
        if (progress) progress(p);
    }
    if (damagedFrames > 10) notes.push_back(std::to_string(damagedFrames) + " damaged frames in all, the first 10 named");
    if (isDamaged) notes.push_back(std::to_string(frames - damagedFrames) + " frames exported of " + std::to_string(frames) + " found");
    if (!graph->finish(error) || !muxer->finish(error)) {
        notes.push_back(error);
        return ExportOutcome::Failed;
    }
    std::error_code renameError;
    fs::rename(s.workingPath, o.outputPath, renameError);
    if (renameError) {
        notes.push_back("cannot name the file " + o.outputPath + ": " + renameError.message());
        return ExportOutcome::Failed;
    }
    s.isRenamed = true;
    return isDamaged ? ExportOutcome::DoneWithDamage : ExportOutcome::Done;
}

}  // namespace vantrel::exporting
