// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes every frame of the open DV AVI file into the frame store on a worker thread.
#include "avi/analysis_thread.h"

#include "dv/pack_decoders.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace vantrel::avi {

AnalysisThread::AnalysisThread(ReadBackend backend, std::size_t workers)
    : m_onDemandBuffer(dv::kMaxFrameBytes)
{
    if (workers == 0) workers = defaultWorkerCount();
    workers = std::min(workers, kMaxWorkers);
    for (std::size_t i = 0; i < workers; ++i) m_analysers.push_back(std::make_unique<FrameBatchAnalyser>(backend));
}

std::size_t AnalysisThread::defaultWorkerCount() noexcept
{
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxWorkers);
}

AnalysisThread::~AnalysisThread()
{
    stop();
}

void AnalysisThread::stop()
{
    if (m_thread.joinable()) {
        m_thread.request_stop();
        m_thread.join();
    }
    m_isFinished.store(true, std::memory_order_release);
    m_finished.notify_all();
}

void AnalysisThread::start(std::shared_ptr<const DvAvi> file)
{
    stop();
    {
        std::unique_lock lock(m_fileMutex);
        m_file = std::move(file);
        m_store.reset(m_file ? m_file->frameCount() : 0);
        m_readFailures.store(0, std::memory_order_relaxed);
        m_damagedFrames.store(0, std::memory_order_relaxed);
        m_readBackend.store(ReadBackend::Unknown, std::memory_order_relaxed);
        for (auto& analyser : m_analysers) analyser->reset();
        m_nextFrame.store(0, std::memory_order_relaxed);
        m_isFinished.store(false, std::memory_order_release);
    }
    m_thread = std::jthread([this](std::stop_token stop) { AnalysisThreadProc(stop); });
}

void AnalysisThread::waitUntilFinished()
{
    std::unique_lock lock(m_finishMutex);
    m_finished.wait(lock, [this] { return isFinished(); });
}

std::size_t AnalysisThread::frameCount() const
{
    std::shared_lock lock(m_fileMutex);
    return m_store.size();
}

void AnalysisThread::AnalysisThreadProc(std::stop_token stop)
{
    // start() wrote m_file and sized the store before this thread began; neither changes until it is joined.
    m_readBackend.store(m_analysers.front()->backend(), std::memory_order_relaxed);
    {
        std::vector<std::jthread> helpers;  // joined at the end of this block
        const std::size_t batches = (m_store.size() + FrameBatchAnalyser::kBatchFrames - 1) / FrameBatchAnalyser::kBatchFrames;
        for (std::size_t w = 1; w < m_analysers.size() && w < batches; ++w) {
            helpers.emplace_back([this, stop, w] { analyseBatches(stop, *m_analysers[w]); });
        }
        analyseBatches(stop, *m_analysers.front());
    }
    for (auto& analyser : m_analysers) analyser->releaseFile();
    {
        std::lock_guard lock(m_finishMutex);
        m_isFinished.store(true, std::memory_order_release);
    }
    m_finished.notify_all();
}

void AnalysisThread::analyseBatches(std::stop_token stop, FrameBatchAnalyser& analyser)
{
    constexpr std::size_t kBatch = FrameBatchAnalyser::kBatchFrames;
    std::array<std::size_t, kBatch> batch{};
    std::array<dv::DVFrameInfo*, kBatch> records{};
    std::array<FrameBatchAnalyser::FrameOutcome, kBatch> outcomes{};
    while (!stop.stop_requested()) {
        const std::size_t first = m_nextFrame.fetch_add(kBatch, std::memory_order_relaxed);
        if (first >= m_store.size()) break;
        const std::size_t end = std::min(first + kBatch, m_store.size());
        std::size_t count = 0;
        for (std::size_t i = first; i < end; ++i) {
            if (!m_store.tryClaim(i)) continue;  // decoded on demand already
            batch[count] = i;
            records[count] = &m_store.claimedRecord(i);
            ++count;
        }
        if (count == 0) continue;
        analyser.analyse(*m_file, std::span<const std::size_t>(batch.data(), count),
                         std::span<dv::DVFrameInfo* const>(records.data(), count),
                         std::span<FrameBatchAnalyser::FrameOutcome>(outcomes.data(), count));
        std::size_t failedHead = 0;
        while (failedHead < count && !outcomes[failedHead].isRead) ++failedHead;
        if (failedHead > 0 && batch[0] > 0 &&
            !repeatRecordBefore(stop, batch[0], std::span<dv::DVFrameInfo* const>(records.data(), failedHead))) {
            // Stopped while waiting: the claimed records stay unpublished; the on-demand
            // decode copies them afresh when they are asked for.
            return;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!outcomes[i].isRead) m_readFailures.fetch_add(1, std::memory_order_relaxed);
            else if (!outcomes[i].hasDifHeader) m_damagedFrames.fetch_add(1, std::memory_order_relaxed);
            m_store.publish(batch[i]);
        }
    }
}

bool AnalysisThread::repeatRecordBefore(std::stop_token stop, std::size_t firstFrame,
                                        std::span<dv::DVFrameInfo* const> records)
{
    for (;;) {
        if (const auto before = m_store.published(firstFrame - 1)) {
            for (auto* record : records) *record = *before;
            return true;
        }
        if (stop.stop_requested()) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

void AnalysisThread::decodeOnDemand(std::size_t frameIndex, dv::DVFrameInfo& record)
{
    const auto read = m_file->readMetadataBlocks(frameIndex, m_onDemandBuffer);
    const std::size_t bytes = read ? *read : 0;
    if (!read) m_readFailures.fetch_add(1, std::memory_order_relaxed);
    dv::AnalyseFrame(std::span<const std::byte>(m_onDemandBuffer.data(), bytes), m_file->videoSystem(), record,
                     static_cast<long>(frameIndex));
}

std::optional<dv::DVFrameInfo> AnalysisThread::recordFor(std::size_t frameNumber)
{
    std::shared_lock fileLock(m_fileMutex);
    if (!m_file || frameNumber >= m_store.size()) return std::nullopt;
    if (auto record = m_store.published(frameNumber)) return record;

    std::lock_guard bufferLock(m_onDemandMutex);
    if (m_store.tryClaim(frameNumber)) {
        auto& record = m_store.claimedRecord(frameNumber);
        decodeOnDemand(frameNumber, record);
        m_store.publish(frameNumber);
        return record;
    }
    if (auto record = m_store.published(frameNumber)) return record;
    // The thread is writing this very record now: decode a copy rather than wait for it.
    dv::DVFrameInfo record{};
    decodeOnDemand(frameNumber, record);
    return record;
}

bool AnalysisThread::ShowAnalysedFrame(long frameNumber, dv::InfoLineFormatter& formatter)
{
    if (frameNumber < 0) return false;
    auto record = recordFor(static_cast<std::size_t>(frameNumber));
    if (!record) return false;
    formatter.ShowFrameInfo(*record, frameNumber);
    return true;
}

}  // namespace vantrel::avi
