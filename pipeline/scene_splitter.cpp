// SPDX-License-Identifier: GPL-3.0-or-later
// Rewrites a long DV recording into the files, cut and named, that the capture job would have written.
#include "pipeline/scene_splitter.h"

#include "dv/pack_decoders.h"
#include "pipeline/capture_file_name.h"
#include "pipeline/capture_split_rule.h"

#include <cstdio>
#include <filesystem>

namespace vantrel::pipeline {

struct SceneSplitter::Rule {
    CaptureSplitRule rule;
};

SceneSplitter::SceneSplitter(SceneSplitOptions options)
    : m_options(std::move(options)),
      m_rule(std::make_unique<Rule>(Rule{CaptureSplitRule(m_options.framesPerFile, m_options.sceneGapSeconds)}))
{
}

SceneSplitter::~SceneSplitter()
{
    std::vector<std::string> ignored;
    closeFile(ignored);
}

SceneSplitOutcome SceneSplitter::addFile(const avi::DvAvi& file, const std::atomic<bool>& stop,
                                         std::vector<std::string>& notes)
{
    bool isDamaged = false;
    for (const std::string& note : file.reader().notes()) {
        notes.push_back(note);
        isDamaged = true;
    }
    const dv::VideoSystem system = file.videoSystem();
    const std::size_t expectedBytes = dv::frameBytes(system);
    std::vector<std::byte> frame(dv::kMaxFrameBytes);
    std::size_t damagedFrames = 0;
    for (std::size_t i = 0; i < file.frameCount(); ++i) {
        if (stop.load(std::memory_order_relaxed)) return SceneSplitOutcome::Interrupted;
        const auto read = file.readFrame(i, frame);
        if (!read || *read != expectedBytes) {
            if (++damagedFrames <= 10) {
                notes.push_back("frame " + std::to_string(i) + " " +
                                (read ? "has " + std::to_string(*read) + " of " + std::to_string(expectedBytes) + " bytes"
                                      : "cannot be read (" + read.error().message + ")") +
                                "; left out");
            }
            isDamaged = true;
            continue;
        }
        if (!writeFrame({frame.data(), expectedBytes}, system, notes)) return SceneSplitOutcome::Failed;
    }
    if (damagedFrames > 10) notes.push_back(std::to_string(damagedFrames) + " damaged frames in all, the first 10 named");
    return isDamaged ? SceneSplitOutcome::DoneWithDamage : SceneSplitOutcome::Done;
}

// The capture worker's steps for one recorded frame: the jump, the split, a new file named
// after the last recording time, the frame, and the name time once a date is known.
bool SceneSplitter::writeFrame(std::span<const std::byte> frame, dv::VideoSystem system,
                               std::vector<std::string>& notes)
{
    CaptureSplitRule& rule = m_rule->rule;
    const std::int64_t jump = rule.takeRecordingTime(dv::GetRecordingTime(frame));
    // A file of another video system cannot go on in the same AVI.
    const bool isOtherSystem = m_writer && system != m_system;
    if (m_writer && (rule.startsNewFile(m_framesInFile, jump) || isOtherSystem)) {
        if (!closeFile(notes)) return false;
    }
    if (!m_writer) {
        m_nameTime = rule.lastRecordingTime();
        m_workingName = MakeCaptureFileName(m_options.baseName, WorkingNameFormat(m_options.nameFormat),
                                            m_options.numberWidth, m_nameTime);
        auto created = avi::AviWriter::create(m_workingName, {m_options.type, system});
        if (!created) {
            notes.push_back(created.error().message);
            return false;
        }
        m_writer.emplace(std::move(created.value()));
        m_system = system;
        m_framesInFile = 0;
    }
    if (const auto written = m_writer->writeFrame(frame); !written) {
        notes.push_back(written.error().message);
        return false;
    }
    ++m_framesInFile;
    if (rule.lastRecordingTime() != 0 && m_nameTime == 0) m_nameTime = rule.lastRecordingTime();
    return true;
}

bool SceneSplitter::closeFile(std::vector<std::string>& notes)
{
    if (!m_writer) return true;
    const auto finished = m_writer->finish();
    m_writer.reset();
    if (!finished) {
        notes.push_back(finished.error().message);
        return false;
    }
    const std::string finalName = MakeCaptureFileName(m_options.baseName, m_options.nameFormat, m_options.numberWidth,
                                                      m_nameTime);
    std::error_code error;
    std::filesystem::rename(m_workingName, finalName, error);
    if (error) {
        notes.push_back("cannot rename " + m_workingName + " to " + finalName + ": " + error.message());
        return false;
    }
    m_filesWritten.push_back(finalName);
    return true;
}

bool SceneSplitter::finish(std::vector<std::string>& notes)
{
    return closeFile(notes);
}

}  // namespace vantrel::pipeline
