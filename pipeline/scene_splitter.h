// SPDX-License-Identifier: GPL-3.0-or-later
// Rewrites a long DV recording into the files, cut and named, that the capture job would have written.
#pragma once

#include "avi/avi_writer.h"
#include "avi/dv_avi.h"
#include "pipeline/avi_writer_graph.h"

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::pipeline {

struct SceneSplitOptions {
    std::string baseName;                     // folder and prefix, as the capture job's base name
    std::string nameFormat = "%y-%m-%d_%H-%M";
    std::int32_t numberWidth = 2;
    std::int32_t framesPerFile = 90000;
    std::int32_t sceneGapSeconds = 1;
    avi::DvAviType type = avi::DvAviType::Type2Separate;
};

enum class SceneSplitOutcome { Unknown, Done, DoneWithDamage, Failed, Interrupted };

// Feeds the frames of one or more open files, in order, through the capture worker's split rule,
// its file writer and its file naming: a file opens under its working name (a "~" before the date), is named after
// the recording time of its first frame, and gets its final name when it is closed. Frames are
// copied as they are, never decoded. `stop` is polled between frames; the open file is then
// closed and named as when a capture stops.
class SceneSplitter {
public:
    explicit SceneSplitter(SceneSplitOptions options);
    ~SceneSplitter();

    // Every frame of `file`; a frame that cannot be read whole is left out and named in `notes`.
    SceneSplitOutcome addFile(const avi::DvAvi& file, const std::atomic<bool>& stop, std::vector<std::string>& notes);
    // Closes and names the open file. False with a note when that failed.
    bool finish(std::vector<std::string>& notes);

    // The final names of the files closed so far, in order.
    const std::vector<std::string>& filesWritten() const noexcept { return m_filesWritten; }

private:
    bool writeFrame(std::span<const std::byte> frame, dv::VideoSystem system, std::vector<std::string>& notes);
    bool closeFile(std::vector<std::string>& notes);

    SceneSplitOptions m_options;
    struct Rule;
    std::unique_ptr<Rule> m_rule;
    std::unique_ptr<CAviWriterGraph> m_writer;   // the capture job's file writer
    std::int64_t m_framesInFile = 0;
    dv::VideoSystem m_system = dv::VideoSystem::Unknown;
    std::vector<std::string> m_filesWritten;
};

}  // namespace vantrel::pipeline
