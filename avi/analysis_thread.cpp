// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes every frame of the open DV AVI file into the frame store on a worker thread.
#include "avi/analysis_thread.h"

#include "dv/pack_decoders.h"

#include <chrono>
#include <cstring>

namespace vantrel::avi {

namespace {

// AnalyseFrame calls mktime, whose time-zone state glibc guards with a lock of its own that the
// thread sanitizer cannot see; decoding one frame at a time keeps the analysis thread and an
// on-demand decode from meeting there. Uncontended, it costs nanoseconds a frame.
std::mutex& analyseFrameMutex()
{
    static std::mutex mutex;
    return mutex;
}

}  // namespace

AnalysisThread::AnalysisThread()
    : m_threadBuffer(dv::kMaxFrameBytes), m_onDemandBuffer(dv::kMaxFrameBytes)
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
        m_readMode.store(MetadataReadMode::Unknown, std::memory_order_relaxed);
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

std::size_t AnalysisThread::decodeFrame(std::size_t frameIndex, MetadataReadMode mode, std::vector<std::byte>& buffer,
                                        std::size_t previousBytes, dv::DVFrameInfo& record)
{
    auto read = mode == MetadataReadMode::OneSpan ? m_file->readMetadataSpan(frameIndex, buffer)
                                                  : m_file->readMetadataBlocks(frameIndex, buffer);
    std::size_t bytes = previousBytes;
    if (read) {
        bytes = *read;
    } else {
        // As with a failed read of the whole frame: the buffer still holds the frame before.
        m_readFailures.fetch_add(1, std::memory_order_relaxed);
    }
    std::lock_guard lock(analyseFrameMutex());
    dv::AnalyseFrame(std::span<const std::byte>(buffer.data(), bytes), m_file->videoSystem(), record,
                     static_cast<long>(frameIndex));
    return bytes;
}

void AnalysisThread::AnalysisThreadProc(std::stop_token stop)
{
    // start() wrote m_file and sized the store before this thread began; neither changes until it is joined.
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kTimedFrames = 16;  // read both ways in turn before choosing
    Clock::duration timeOf[2] = {};           // SeparateBlocks, OneSpan
    MetadataReadMode chosen = MetadataReadMode::Unknown;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < m_store.size() && !stop.stop_requested(); ++i) {
        if (i == kTimedFrames) {
            chosen = timeOf[1] < timeOf[0] ? MetadataReadMode::OneSpan : MetadataReadMode::SeparateBlocks;
            m_readMode.store(chosen, std::memory_order_relaxed);
        }
        if (!m_store.tryClaim(i)) continue;  // decoded on demand already
        const bool isTimed = i < kTimedFrames;
        const auto mode = isTimed ? (i % 2 == 0 ? MetadataReadMode::SeparateBlocks : MetadataReadMode::OneSpan) : chosen;
        const auto start = isTimed ? Clock::now() : Clock::time_point{};
        bytes = decodeFrame(i, mode, m_threadBuffer, bytes, m_store.claimedRecord(i));
        m_store.publish(i);
        if (isTimed) timeOf[i % 2] += Clock::now() - start;
    }
    {
        std::lock_guard lock(m_finishMutex);
        m_isFinished.store(true, std::memory_order_release);
    }
    m_finished.notify_all();
}

std::optional<dv::DVFrameInfo> AnalysisThread::recordFor(std::size_t frameNumber)
{
    std::shared_lock fileLock(m_fileMutex);
    if (!m_file || frameNumber >= m_store.size()) return std::nullopt;
    if (auto record = m_store.published(frameNumber)) return record;

    std::lock_guard bufferLock(m_onDemandMutex);
    if (m_store.tryClaim(frameNumber)) {
        auto& record = m_store.claimedRecord(frameNumber);
        decodeFrame(frameNumber, MetadataReadMode::SeparateBlocks, m_onDemandBuffer, 0, record);
        m_store.publish(frameNumber);
        return record;
    }
    if (auto record = m_store.published(frameNumber)) return record;
    // The thread is writing this very record now: decode a copy rather than wait for it.
    dv::DVFrameInfo record{};
    decodeFrame(frameNumber, MetadataReadMode::SeparateBlocks, m_onDemandBuffer, 0, record);
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
