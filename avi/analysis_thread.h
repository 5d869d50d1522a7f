// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes every frame of the open DV AVI file into the frame store on a worker thread.
#pragma once

#include "avi/dv_avi.h"
#include "avi/frame_batch_analyser.h"
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
#include <span>
#include <stop_token>
#include <thread>
#include <vector>

namespace vantrel::avi {

// One analysis run per opened file. start() stops and joins the previous run before the store
// is reused, so two runs never write it at once. Records can be asked for at any time from any
// thread: a record the thread has not reached yet is decoded on the spot, so nobody sees an
// empty record. The thread reads and analyses through a FrameBatchAnalyser: only the metadata
// blocks that decide each frame, a batch of frames at a time. On a machine with several cores
// a second worker takes batches too, since the reads cost kernel time, not disk time.
class AnalysisThread {
public:
    // Two workers analyse a one-hour tape in a fraction of a second and leave the other cores
    // to the player and the desktop.
    static constexpr std::size_t kMaxWorkers = 2;

    // `backend`: how the thread asks for its reads; Pread for machines where io_uring misbehaves.
    // `workers`: threads reading batches at once; 0 is one per core, at most kMaxWorkers.
    explicit AnalysisThread(ReadBackend backend = ReadBackend::Mapped, std::size_t workers = 0);
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
    // Frames whose read failed; each repeats the record of the frame before it.
    std::size_t readFailures() const noexcept { return m_readFailures.load(std::memory_order_relaxed); }
    // Frames read whole that do not begin with a DIF header block: damaged, analysed as they are.
    std::size_t damagedFrames() const noexcept { return m_damagedFrames.load(std::memory_order_relaxed); }

    // The record of frame n: the stored one, or decoded now when the thread has not reached it.
    // Nothing when n is not a frame of the file (or no file is open).
    std::optional<dv::DVFrameInfo> recordFor(std::size_t frameNumber);

    // Has `formatter` format and show the record of frame n. False when there is none.
    bool ShowAnalysedFrame(long frameNumber, dv::InfoLineFormatter& formatter);

    // Threads that read batches during a run.
    std::size_t workerCount() const noexcept { return m_analysers.size(); }
    // The workers a thread made with `workers` = 0 has on this machine.
    static std::size_t defaultWorkerCount() noexcept;

    // How the current run reads its frames, once it has begun (Unknown before).
    ReadBackend readBackend() const noexcept { return m_readBackend.load(std::memory_order_relaxed); }

private:
    void AnalysisThreadProc(std::stop_token stop);
    // Takes batches of frames from the shared cursor until none is left or the run is stopped.
    void analyseBatches(std::stop_token stop, FrameBatchAnalyser& analyser);
    // Gives the frames at the head of a batch whose read failed the record of the frame before
    // the batch, which another worker may still be writing. False when the run was stopped first.
    bool repeatRecordBefore(std::stop_token stop, std::size_t firstFrame, std::span<dv::DVFrameInfo* const> records);

    // Reads frame i's metadata blocks into the on-demand buffer and decodes them; the caller
    // holds m_onDemandMutex. A frame that cannot be read decodes as one without metadata.
    void decodeOnDemand(std::size_t frameIndex, dv::DVFrameInfo& record);

    // Guards the file and the store's size against start() while recordFor() reads them.
    mutable std::shared_mutex m_fileMutex;
    std::shared_ptr<const DvAvi> m_file;
    FrameStore m_store;
    // One per worker, each used by its worker only (start() resets them while none runs).
    std::vector<std::unique_ptr<FrameBatchAnalyser>> m_analysers;
    std::atomic<std::size_t> m_nextFrame{0};   // the next batch's first frame; workers take batches
    std::mutex m_onDemandMutex;
    std::vector<std::byte> m_onDemandBuffer;   // guarded by m_onDemandMutex
    std::atomic<bool> m_isFinished{true};      // analysis thread writes, anyone reads
    std::atomic<std::size_t> m_readFailures{0};
    std::atomic<std::size_t> m_damagedFrames{0};
    std::atomic<ReadBackend> m_readBackend{ReadBackend::Unknown};  // analysis thread writes
    std::mutex m_finishMutex;
    std::condition_variable m_finished;
    std::jthread m_thread;
};

}  // namespace vantrel::avi
