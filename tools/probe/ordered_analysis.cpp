// SPDX-License-Identifier: GPL-3.0-or-later
// Analyses the frames of a file on worker threads, batch by batch, and hands the batches out in order.
#include "tools/probe/ordered_analysis.h"

#include <algorithm>

namespace vantrel::probe {

OrderedAnalysis::OrderedAnalysis(const avi::DvAvi& file, std::size_t workers)
    : m_file(file),
      m_batches((file.frameCount() + kBatchFrames - 1) / kBatchFrames),
      m_workerCount(std::max<std::size_t>(workers, 1)),
      m_slots(m_workerCount * kSlotsPerWorker)
{
    for (std::size_t w = 0; w < m_workerCount; ++w) m_workers.emplace_back([this, w] { work(w); });
}

OrderedAnalysis::~OrderedAnalysis()
{
    {
        std::lock_guard lock(m_mutex);
        m_isStopping = true;
    }
    m_changed.notify_all();
}

void OrderedAnalysis::work(std::size_t worker)
{
    avi::FrameBatchAnalyser analyser;
    std::array<std::size_t, kBatchFrames> frames{};
    std::array<dv::DVFrameInfo*, kBatchFrames> records{};
    std::array<avi::FrameBatchAnalyser::FrameOutcome, avi::FrameBatchAnalyser::kBatchFrames> outcomes{};
    const dv::VideoSystem system = m_file.videoSystem();
    for (std::size_t number = worker; number < m_batches; number += m_workerCount) {
        Slot& slot = slotOf(number);
        {
            // The slot is free once the caller has released the batch kSlots before this one.
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_isStopping || !slot.isReady; });
            if (m_isStopping) return;
        }
        Batch& batch = slot.batch;
        batch.firstFrame = number * kBatchFrames;
        batch.count = std::min(kBatchFrames, m_file.frameCount() - batch.firstFrame);
        for (std::size_t k = 0; k < batch.count; ++k) {
            frames[k] = batch.firstFrame + k;
            records[k] = &batch.frames[k].record;
        }
        for (std::size_t first = 0; first < batch.count; first += avi::FrameBatchAnalyser::kBatchFrames) {
            const std::size_t count = std::min(avi::FrameBatchAnalyser::kBatchFrames, batch.count - first);
            analyser.analyse(m_file, std::span<const std::size_t>(frames.data() + first, count),
                             std::span<dv::DVFrameInfo* const>(records.data() + first, count), outcomes);
            for (std::size_t k = 0; k < count; ++k) {  // the analysed bytes last until the next call
                Frame& frame = batch.frames[first + k];
                frame.isRead = outcomes[k].isRead;
                frame.hasDifHeader = outcomes[k].hasDifHeader;
                frame.frameBytes = outcomes[k].frameBytes;
                frame.timecode = frame.isRead ? dv::DecodeTimeCode(outcomes[k].analysedBytes, system) : std::nullopt;
            }
        }
        {
            std::lock_guard lock(m_mutex);
            slot.isReady = true;
        }
        m_changed.notify_all();
    }
}

const OrderedAnalysis::Batch* OrderedAnalysis::next()
{
    if (m_nextToTake >= m_batches) return nullptr;
    Slot& slot = slotOf(m_nextToTake);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return slot.isReady; });
    return &slot.batch;
}

void OrderedAnalysis::release()
{
    {
        std::lock_guard lock(m_mutex);
        slotOf(m_nextToTake).isReady = false;
    }
    ++m_nextToTake;
    m_changed.notify_all();
}

}  // namespace vantrel::probe
