// SPDX-License-Identifier: GPL-3.0-or-later
// The files of a print list, read one after another into one stream of frames without a gap.
//
// Design note. Both AVI types (and raw .dv) hold whole DIF frames, so a file is read through our
// AVI reader rather than a splitter and multiplexer graph: CFileSourceGraph reads its frames on
// its own streaming thread and hands them to the sink, then ends its stream. CFileListSource
// passes the frames on to the job and, when a file ends, its reader thread opens the next one and
// starts it, so the job's ring sees one stream. A file that cannot be opened or read ends the
// whole stream at that point; the reason stays in FirstError() for the job to report.
#pragma once

#include "avi/dv_avi.h"
#include "pipeline/bridge_filters.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::pipeline {

// The items of a "|"-separated list: trimmed, empty ones skipped, wildcards expanded (the matches
// of one item sorted without regard to case, the items in their own order). Throws
// CDShowException "ITEM: file not found" for an item that matches nothing, "No file selected"
// when no file is left.
std::vector<std::string> ExpandFileList(const std::string& fileList);

// One file's frames, read on a thread of its own once started.
class CFileSourceGraph : public IFrameSource {
public:
    // Opens the DV stream of the file; throws CDShowException with the reason when it cannot.
    explicit CFileSourceGraph(const std::string& path);
    ~CFileSourceGraph() override;  // Stop()

    void GetMediaType(CMediaType* type) override;
    // Starts reading: every frame to the sink, then Deliver(-1, nullptr, 0).
    mediagraph::StateChangeResult Start(IFrameSink* sink) override;
    // Waits for the reading thread (unblock the sink first) and detaches the sink.
    void Stop() override;

    // Why reading stopped before the end of the file, once it has.
    std::optional<std::string> ReadError() const;
    const std::string& Path() const noexcept { return m_path; }

private:
    void readFrames(std::stop_token stop, IFrameSink* sink);

    std::string m_path;
    std::optional<avi::DvAvi> m_file;
    REFERENCE_TIME m_frameDuration = 0;
    mutable std::mutex m_errorMutex;
    std::optional<std::string> m_readError;
    std::vector<std::byte> m_frame;  // one frame, allocated once; reading thread only
    std::jthread m_thread;
};

class CFileListSource : public IFrameSource, public IFrameSink {
public:
    // Expands the list (ExpandFileList) and opens the first file.
    explicit CFileListSource(const std::string& fileList);
    ~CFileListSource() override;  // Stop()

    void GetMediaType(CMediaType* type) override;
    mediagraph::StateChangeResult Start(IFrameSink* sink) override;
    // Joins the reader thread, then stops and deletes the current file's graph.
    void Stop() override;
    // From the current file's graph.
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override;

    const std::vector<std::string>& Files() const noexcept { return m_files; }
    // The first file that could not be opened or read, with the reason; any thread.
    std::optional<std::string> FirstError() const;

private:
    void runReader(std::stop_token stop);
    void recordError(const std::string& message);

    std::atomic<IFrameSink*> m_outerSink{nullptr};
    std::vector<std::string> m_files;
    std::unique_ptr<CFileSourceGraph> m_currentGraph;  // the reader thread swaps it while running
    std::mutex m_nextFileMutex;
    std::condition_variable_any m_nextFile;
    bool m_hasFileEnded = false;
    std::size_t m_nextIndex = 0;
    std::atomic<bool> m_isStopping{false};
    mutable std::mutex m_errorMutex;
    std::optional<std::string> m_firstError;
    std::jthread m_reader;
};

}  // namespace vantrel::pipeline
