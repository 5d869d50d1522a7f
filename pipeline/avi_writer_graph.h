// SPDX-License-Identifier: GPL-3.0-or-later
// One capture file: written under its "~" working name, renamed to its final name when closed.
//
// Design note. The frames go straight into our AVI writer on the caller's thread (the capture
// worker): both AVI types hold whole DIF frames, so no multiplexing graph stands in between, and
// the writer keeps the file readable at every moment (an interrupted capture opens by scanning).
// Closing computes the final name against the disk at that moment and renames without ever
// replacing a file: when another file took the name meanwhile, the next free number is taken.
// A file whose writing failed (disk full) is closed and renamed all the same: every frame that
// reached it before the failure is kept.
#pragma once

#include "avi/avi_writer.h"
#include "dv/dif_layout.h"
#include "pipeline/bridge_filters.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vantrel::pipeline {

class CAviWriterGraph : public IFrameSink {
public:
    // Creates the file under MakeCaptureFileName(base, "~" + format, width, nameTime), type 2
    // (video and audio streams) when isType2, else type 1. Throws CDShowException with the
    // writer's reason (it names the file) when the file cannot be created.
    CAviWriterGraph(std::string base, std::string format, std::int32_t width, std::int64_t nameTime, bool isType2,
                    dv::VideoSystem system);
    ~CAviWriterGraph() override;  // Close()
    CAviWriterGraph(const CAviWriterGraph&) = delete;
    CAviWriterGraph& operator=(const CAviWriterGraph&) = delete;

    // Writes one frame. A block that is not one whole frame of the file's standard is skipped;
    // a failed write (disk full, file removed) throws CDShowException with the reason, and the
    // file takes nothing more.
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override;

    struct Closed {
        std::string path;                 // the name the file has now
        std::optional<std::string> error;  // why its indexes could not be written, or it not renamed
    };
    // Finishes the file (indexes and headers, unless writing failed before), closes it and gives
    // it its final name. Only the first call acts; later ones return the same. Never throws.
    const Closed& Close() noexcept;

    std::int64_t NameTime() const noexcept { return m_nameTime; }
    void SetNameTime(std::int64_t nameTime) noexcept { m_nameTime = nameTime; }
    const std::string& WorkingName() const noexcept { return m_workingName; }
    std::uint64_t FramesWritten() const noexcept;
    bool HasFailed() const noexcept { return m_writeError.has_value(); }

private:
    std::string m_base;
    std::string m_format;
    std::int32_t m_width;
    std::int64_t m_nameTime;
    std::string m_workingName;
    std::optional<avi::AviWriter> m_writer;
    std::optional<std::string> m_writeError;
    std::optional<Closed> m_closed;
};

// Moves the file at `from` to the capture name MakeCaptureFileName(base, format, width, time)
// gives, never replacing an existing file. Returns the name it got, or nothing with errno set.
std::optional<std::string> RenameToCaptureName(const std::string& from, const std::string& base,
                                               const std::string& format, std::int32_t width, std::int64_t time);

}  // namespace vantrel::pipeline
