// SPDX-License-Identifier: GPL-3.0-or-later
// Analyses the frames of a file on worker threads, batch by batch, and hands the batches out in order.
#pragma once

#include "avi/dv_avi.h"
#include "avi/frame_batch_analyser.h"
#include "dv/dv_frame_info.h"
#include "dv/pack_decoders.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vantrel::probe {

// Design note. The reads cost kernel time, not disk time, so a second core doubles the rate,
// as it does for the player's analysis thread. Each worker takes every W-th batch with its own
// FrameBatchAnalyser and writes it into a slot of a small ring; the caller takes the batches in
// frame order and gives each slot back when it has printed it. Nothing is allocated per frame.
class OrderedAnalysis {
public:
    // A hand-over between threads costs about as much as reading a few frames: the caller gets
    // several of the analyser's batches at a time.
    static constexpr std::size_t kBatchFrames = 4 * avi::FrameBatchAnalyser::kBatchFrames;

    // What the caller needs of one frame, copied out of the analyser's buffers.
    struct Frame {
        dv::DVFrameInfo record;
        std::optional<dv::TimeCode> timecode;  // nothing when the frame has no intact time code
        bool isRead = false;
        bool hasDifHeader = false;
        std::size_t frameBytes = 0;
    };
    struct Batch {
        std::size_t firstFrame = 0;
        std::size_t count = 0;
        std::array<Frame, kBatchFrames> frames{};
    };

    // Starts `workers` threads (at least one) over every frame of `file`, which must outlive this.
    OrderedAnalysis(const avi::DvAvi& file, std::size_t workers);
    ~OrderedAnalysis();  // stops the workers and joins them
    OrderedAnalysis(const OrderedAnalysis&) = delete;
    OrderedAnalysis& operator=(const OrderedAnalysis&) = delete;

    // The next batch in frame order, waiting for it; nullptr after the last. Valid until release().
    const Batch* next();
    void release();

private:
    struct Slot {
        Batch batch;
        bool isReady = false;
    };
    static constexpr std::size_t kSlotsPerWorker = 2;

    void work(std::size_t worker);
    Slot& slotOf(std::size_t batchNumber) { return m_slots[batchNumber % m_slots.size()]; }

    const avi::DvAvi& m_file;
    std::size_t m_batches;
    std::size_t m_workerCount;
    std::vector<Slot> m_slots;
    std::size_t m_nextToTake = 0;   // caller only
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_isStopping = false;      // guarded by m_mutex
    std::vector<std::jthread> m_workers;
};

}  // namespace vantrel::probe
