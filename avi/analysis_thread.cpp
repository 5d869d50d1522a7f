// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes every frame of the open DV AVI file into the frame store on a worker thread.
#include "avi/analysis_thread.h"

#include "dv/pack_decoders.h"

#include <array>

namespace vantrel::avi {

AnalysisThread::AnalysisThread(ReadBackend backend)
    : m_analyser(backend), m_onDemandBuffer(dv::kMaxFrameBytes)
{
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
        m_readBackend.store(ReadBackend::Unknown, std::memory_order_relaxed);
        m_analyser.reset();
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
    m_readBackend.store(m_analyser.backend(), std::memory_order_relaxed);
    constexpr std::size_t kBatch = FrameBatchAnalyser::kBatchFrames;
    std::array<std::size_t, kBatch> batch{};
    std::array<dv::DVFrameInfo*, kBatch> records{};
    std::array<FrameBatchAnalyser::FrameOutcome, kBatch> outcomes{};
    std::size_t next = 0;
    while (next < m_store.size() && !stop.stop_requested()) {
        std::size_t count = 0;
        for (; count < kBatch && next < m_store.size(); ++next) {
            if (!m_store.tryClaim(next)) continue;  // decoded on demand already
            batch[count] = next;
            records[count] = &m_store.claimedRecord(next);
            ++count;
        }
        if (count == 0) break;
        m_analyser.analyse(*m_file, std::span<const std::size_t>(batch.data(), count),
                           std::span<dv::DVFrameInfo* const>(records.data(), count),
                           std::span<FrameBatchAnalyser::FrameOutcome>(outcomes.data(), count));
        for (std::size_t i = 0; i < count; ++i) {
            if (!outcomes[i].isRead) m_readFailures.fetch_add(1, std::memory_order_relaxed);
            m_store.publish(batch[i]);
        }
    }
    {
        std::lock_guard lock(m_finishMutex);
        m_isFinished.store(true, std::memory_order_release);
    }
    m_finished.notify_all();
}

void AnalysisThread::decodeOnDemand(std::size_t frameIndex, dv::DVFrameInfo& record)
{
    const auto read = m_file->readMetadataBlocks(frameIndex, m_onDemandBuffer);
    const std::size_t bytes = read ? *read : 0;
    if (!read) m_readFailures.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard lock(analyseFrameMutex());
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
