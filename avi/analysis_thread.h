// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes every frame of the open DV AVI file into the frame store on a worker thread.
#pragma once

#include "avi/dv_avi.h"
#include "avi/frame_store.h"
#include "dv/dv_frame_info.h"
#include "dv/info_lines.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace vantrel::avi {

// How the thread reads the metadata of a frame. Separate blocks copy the least (5 blocks of each
// sequence, one call each); one span needs a single call but copies the gaps too. Which is
// faster depends on what a system call costs on the machine, so each run times both on its
// first frames and keeps the faster.
enum class MetadataReadMode { Unknown, SeparateBlocks, OneSpan };

// One analysis run per opened file. start() stops and joins the previous run before the store
// is reused, so two runs never write it at once. Records can be asked for at any time from any
// thread: a record the thread has not reached yet is decoded on the spot, so nobody sees an
// empty record. The thread reads only the subcode and VAUX blocks of each frame.
class AnalysisThread {
public:
    AnalysisThread();
    ~AnalysisThread();  // stops and joins the run
    AnalysisThread(const AnalysisThread&) = delete;
    AnalysisThread& operator=(const AnalysisThread&) = delete;

    // Stops a running analysis, sizes the store for the file, and starts decoding it.
    void start(std::shared_ptr<const DvAvi> file);
    // Stops the run early and waits for the thread to end; the records written so far stay.
    void stop();
    // Waits until the run has decoded every frame (or was stopped).
    void waitUntilFinished();

    std::size_t frameCount() const;
    // Frames decoded so far by the thread or on demand; readable from any thread.
    std::size_t framesDone() const noexcept { return m_store.publishedCount(); }
    bool isFinished() const noexcept { return m_isFinished.load(std::memory_order_acquire); }
    // Frames whose read failed; each was decoded from the bytes of the frame before it.
    std::size_t readFailures() const noexcept { return m_readFailures.load(std::memory_order_relaxed); }

    // The record of frame n: the stored one, or decoded now when the thread has not reached it.
    // Nothing when n is not a frame of the file (or no file is open).
    std::optional<dv::DVFrameInfo> recordFor(std::size_t frameNumber);

    // Has `formatter` format and show the record of frame n. False when there is none.
    bool ShowAnalysedFrame(long frameNumber, dv::InfoLineFormatter& formatter);

    // The way the current run reads frames, once its first frames have been timed.
    MetadataReadMode metadataReadMode() const noexcept { return m_readMode.load(std::memory_order_relaxed); }

private:
    void AnalysisThreadProc(std::stop_token stop);
    // Reads and decodes frame i into `record`, with `buffer` (144000 bytes) holding the frame
    // read before it; returns the bytes of the frame now in the buffer.
    std::size_t decodeFrame(std::size_t frameIndex, MetadataReadMode mode, std::vector<std::byte>& buffer,
                            std::size_t previousBytes, dv::DVFrameInfo& record);

    // Guards the file and the store's size against start() while recordFor() reads them.
    mutable std::shared_mutex m_fileMutex;
    std::shared_ptr<const DvAvi> m_file;
    FrameStore m_store;
    std::vector<std::byte> m_threadBuffer;     // the analysis thread's frame buffer
    std::mutex m_onDemandMutex;
    std::vector<std::byte> m_onDemandBuffer;   // guarded by m_onDemandMutex
    std::atomic<bool> m_isFinished{true};      // analysis thread writes, anyone reads
    std::atomic<std::size_t> m_readFailures{0};
    std::atomic<MetadataReadMode> m_readMode{MetadataReadMode::Unknown};  // analysis thread writes
    std::mutex m_finishMutex;
    std::condition_variable m_finished;
    std::jthread m_thread;
};

}  // namespace vantrel::avi
