// SPDX-License-Identifier: GPL-3.0-or-later
// Rewrites a long DV recording into the files, cut and named, that the capture job would have written.
#include "pipeline/scene_splitter.h"

#include "dv/pack_decoders.h"
#include "pipeline/capture_split_rule.h"


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
    try {
        if (!m_writer) {
            m_writer = std::make_unique<CAviWriterGraph>(m_options.baseName, m_options.nameFormat,
                                                         m_options.numberWidth, rule.lastRecordingTime(),
                                                         m_options.type == avi::DvAviType::Type2Separate, system);
            m_system = system;
            m_framesInFile = 0;
        }
        m_writer->Deliver(0, frame.data(), static_cast<long>(frame.size()));
    } catch (const std::exception& error) {
        notes.push_back(error.what());
        closeFile(notes);  // the frames written so far stay, in a closed and named file
        return false;
    }
    ++m_framesInFile;
    if (rule.lastRecordingTime() != 0 && m_writer->NameTime() == 0) m_writer->SetNameTime(rule.lastRecordingTime());
    return true;
}

bool SceneSplitter::closeFile(std::vector<std::string>& notes)
{
    if (!m_writer) return true;
    const CAviWriterGraph::Closed closed = m_writer->Close();
    m_writer.reset();
    m_filesWritten.push_back(closed.path);
    if (closed.error) {
        notes.push_back(*closed.error);
        return false;
    }
    return true;
}

bool SceneSplitter::finish(std::vector<std::string>& notes)
{
    return closeFile(notes);
}

}  // namespace vantrel::pipeline
