// SPDX-License-Identifier: GPL-3.0-or-later
// A writing graph that begins with "OutputFilter": every block given to Deliver becomes a stamped buffer.
//
// Design note. Frames are copied once, into buffers of a pool of max(buffer count, 1) + 2 buffers
// of the media type's sample size (the two spare buffers are for downstream sinks that keep their
// last or preroll buffer); a Deliver that finds every buffer in use waits for one to come back,
// which is the back-pressure on the caller. The buffers are stamped on the holder's own
// clock, which starts at 0 and advances by each frame's duration. With a positive buffer count a
// queue of that many buffers follows the appsrc, and its streaming thread delivers downstream.
#pragma once

#include "pipeline/bridge_filters.h"

#include <gst/app/gstappsrc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vantrel::pipeline {

class COutputFilterGraph : public mediagraph::CDShowGraph, public IFrameSink {
public:
    // type: the frames' caps and sample size (the reading side's GetMediaType). bufferCount: 0
    // delivers one buffer at a time; a positive count puts a queue of that many buffers in between.
    COutputFilterGraph(const CMediaType& type, long bufferCount);
    ~COutputFilterGraph() override;

    // The "OutputFilter" appsrc.
    GstElement* OutputFilter() const noexcept { return m_outputFilter; }
    // The element whose output the writing graph links downstream: the queue, or the appsrc.
    GstElement* OutputElement() const noexcept { return m_queue != nullptr ? m_queue : m_outputFilter; }
    const CMediaType& MediaType() const noexcept { return m_mediaType; }
    long BufferCount() const noexcept { return m_bufferCount; }
    std::uint32_t BufferBytes() const noexcept { return m_bufferBytes; }
    // Frames that may be on their way at once before Deliver waits.
    std::uint32_t PoolBufferCount() const noexcept { return m_poolBuffers; }
    REFERENCE_TIME CurrentTime() const noexcept { return m_currentTime.load(std::memory_order_relaxed); }

    // Copies the frame into a pool buffer and sends it. A block longer than a buffer is cut to the
    // buffer's size. End of stream (no data) is ignored. When no buffer can be had, throws the
    // graph's first error if it has failed downstream (a caller waiting for a buffer is woken by
    // it), else "Error".
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override;
    // Sends end of stream downstream (after the frames already delivered).
    void DeliverEndOfStream();

    // Frames given to Deliver so far.
    std::uint64_t DeliveredCount() const noexcept { return m_delivered.load(std::memory_order_acquire); }
    // Waits until `count` frames have begun to leave the output element downstream, or the timeout;
    // whether they did. The downstream element takes one frame at a time on the streaming thread,
    // so once frame n + 1 begins to leave, frame n has been taken in full.
    bool WaitUntilPassed(std::uint64_t count, std::chrono::milliseconds timeout);

protected:
    void OnFirstError() noexcept override;

private:
    const CMediaType m_mediaType;
    const long m_bufferCount;
    std::uint32_t m_bufferBytes = 0;
    std::uint32_t m_poolBuffers = 0;
    std::atomic<REFERENCE_TIME> m_currentTime{0};  // the caller's thread writes; others may read
    GstElement* m_outputFilter = nullptr;  // owned by the graph's bin
    GstElement* m_queue = nullptr;         // owned by the graph's bin; null for a buffer count of 0
    mediagraph::GstOwned<GstBufferPool> m_pool;
    std::atomic<std::uint64_t> m_delivered{0};
    std::mutex m_passedMutex;
    std::condition_variable m_passedChanged;
    std::uint64_t m_passed = 0;  // frames that began to leave the output element; under m_passedMutex

    static GstPadProbeReturn countPassed(GstPad* pad, GstPadProbeInfo* info, gpointer self);
};

}  // namespace vantrel::pipeline
