// SPDX-License-Identifier: GPL-3.0-or-later
// The live picture of a running job: offered frames decoded at half size when the preview is ready.
//
// Design note. A job worker offers every frame it can spare; the preview thread takes one only
// when it has shown the last one and rested about as long as that took (10 ms more, 200 ms at
// most), so a slow decoder costs the worker nothing: Deliver never waits (it gives up rather than
// wait for the lock) and copies a frame only when the thread has asked for one. The thread then
// hands its copy to the decoding graph (OutputFilter → DV demultiplexer → DV decoder at half size → BGR → the owner).
#pragma once

#include "pipeline/output_filter_graph.h"
#include "pipeline/preview_picture_sink.h"

#include <gst/app/gstappsink.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace vantrel::pipeline {

class CPreviewGraph : public COutputFilterGraph {
public:
    // Builds and runs the decoding graph and starts the preview thread. "Error" when the graph
    // cannot be built.
    CPreviewGraph(IPreviewOwner* owner, const CMediaType& type);
    ~CPreviewGraph() override;  // ends the preview thread at once, then the graph

    // Offers one frame (any worker thread); never blocks. Dropped unless the thread waits for one.
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override;
    // Fits the picture in the owner's area again (at construction and on every resize).
    void Layout();
    PreviewRect VideoRect() const;

    // Frames taken and pictures shown so far.
    std::uint64_t FramesTaken() const noexcept { return m_framesTaken.load(std::memory_order_relaxed); }
    std::uint64_t PicturesShown() const noexcept { return m_picturesShown.load(std::memory_order_relaxed); }

private:
    static GstFlowReturn onNewSample(GstAppSink* sink, gpointer self);
    static void onDemultiplexedPad(GstElement* demultiplexer, GstPad* pad, gpointer decoder);
    void runPreview(std::stop_token stop);

    IPreviewOwner* m_owner;
    GstElement* m_pictureSink = nullptr;  // owned by the graph's bin

    mutable std::mutex m_mutex;           // guards the fields below
    std::condition_variable_any m_sampleReady;
    std::vector<std::byte> m_pending;     // one frame, allocated once
    long m_pendingLength = 0;
    REFERENCE_TIME m_pendingDuration = 0;  // stamps the pictures on the graph's own clock
    bool m_isWaitingForFrame = false;     // the thread lends m_pending to the next Deliver
    bool m_isFilled = false;
    PreviewRect m_videoRect;

    std::atomic<std::uint64_t> m_framesTaken{0};
    std::atomic<std::uint64_t> m_picturesShown{0};
    std::jthread m_thread;                // last: joined before the members above go
};

}  // namespace vantrel::pipeline
