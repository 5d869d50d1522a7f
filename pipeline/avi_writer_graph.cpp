// SPDX-License-Identifier: GPL-3.0-or-later
// One capture file: written under its "~" working name, renamed to its final name when closed.
#include "pipeline/avi_writer_graph.h"

#include "mediagraph/graph_errors.h"
#include "pipeline/capture_file_name.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <span>
#include <unistd.h>

namespace vantrel::pipeline {
namespace {

constexpr int kRenameAttempts = 100;  // each failed attempt means another file took the name meanwhile

// rename without replacing: RENAME_NOREPLACE, or a hard link and an unlink where the file system
// refuses the flag. 0, or -1 with errno.
int renameNoReplace(const std::string& from, const std::string& to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (link(from.c_str(), to.c_str()) != 0)
        return -1;
    unlink(from.c_str());
    return 0;
}

}  // namespace

std::optional<std::string> RenameToCaptureName(const std::string& from, const std::string& base,
                                               const std::string& format, std::int32_t width, std::int64_t time)
{
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        const std::string name = MakeCaptureFileName(base, format, width, time);
        if (renameNoReplace(from, name) == 0)
            return name;
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

CAviWriterGraph::CAviWriterGraph(std::string base, std::string format, std::int32_t width, std::int64_t nameTime,
                                 bool isType2, dv::VideoSystem system)
    : m_base(std::move(base)), m_format(std::move(format)), m_width(width), m_nameTime(nameTime)
{
    m_workingName = MakeCaptureFileName(m_base, WorkingNameFormat(m_format), m_width, m_nameTime);
    const avi::AviWriterOptions options{isType2 ? avi::DvAviType::Type2Separate : avi::DvAviType::Type1Interleaved,
                                        system};
    auto writer = avi::AviWriter::create(m_workingName, options);
    if (!writer)
        mediagraph::ThrowGraphError(writer.error().message);
    m_writer.emplace(std::move(*writer));
}

CAviWriterGraph::~CAviWriterGraph()
{
    Close();
}

std::uint64_t CAviWriterGraph::FramesWritten() const noexcept
{
    return m_writer ? m_writer->framesWritten() : 0;
}

void CAviWriterGraph::Deliver(REFERENCE_TIME, const std::byte* data, long length)
{
    if (data == nullptr || m_closed)
        return;
    if (m_writeError)
        mediagraph::ThrowGraphError(*m_writeError);
    const auto written = m_writer->writeFrame(std::span(data, static_cast<std::size_t>(std::max(length, 0L))));
    if (written)
        return;
    if (written.error().code == avi::AviWriteErrorCode::InvalidFrame)
        return;  // a torn block from the device: the file goes on without it
    m_writeError = written.error().message;
    mediagraph::ThrowGraphError(*m_writeError);
}

const CAviWriterGraph::Closed& CAviWriterGraph::Close() noexcept
{
    if (m_closed)
        return *m_closed;
    Closed closed{m_workingName, std::nullopt};
    try {
        if (!m_writeError) {
            if (auto finished = m_writer->finish(); !finished)
                closed.error = finished.error().message;
        }
        m_writer.reset();  // closes the file
        if (auto name = RenameToCaptureName(m_workingName, m_base, m_format, m_width, m_nameTime)) {
            closed.path = *name;
        } else if (!closed.error) {
            closed.error = m_workingName + " cannot be renamed: " + std::strerror(errno);
        }
    } catch (const std::exception& e) {
        closed.error = e.what();
    }
    m_closed = std::move(closed);
    return *m_closed;
}

}  // namespace vantrel::pipeline
