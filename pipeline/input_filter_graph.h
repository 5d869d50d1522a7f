// SPDX-License-Identifier: GPL-3.0-or-later
// A reading graph that ends in "InputFilter": every DV frame it receives goes to a frame sink as a block.
#pragma once

#include "pipeline/bridge_filters.h"

#include <gst/app/gstappsink.h>

#include <atomic>

namespace vantrel::pipeline {

// The caps that "InputFilter" takes: interleaved DV (video and audio in the frames).
inline constexpr const char* kInterleavedDvCaps = "video/x-dv, systemstream=(boolean)true";

class CInputFilterGraph : public mediagraph::CDShowGraph, public IFrameSource {
public:
    CInputFilterGraph();  // the graph with the "InputFilter" appsink added
    ~CInputFilterGraph() override;

    // The element that the reading graph links its last output to.
    GstElement* InputFilter() const noexcept { return m_inputFilter; }

    // The connected caps (the filter's caps before connection) with a sample size of at least 144000.
    void GetMediaType(CMediaType* type) override;
    mediagraph::StateChangeResult Start(IFrameSink* sink) override;
    void Stop() override;

private:
    static GstFlowReturn onNewSample(GstAppSink* sink, gpointer self);
    static void onEndOfStream(GstAppSink* sink, gpointer self);
    GstFlowReturn deliverSample(GstSample* sample);
    // Runs a delivery, turning an exception into the graph's recorded error. False when it threw.
    template <class Delivery>
    bool deliverGuarded(Delivery&& delivery) noexcept;

    GstElement* m_inputFilter = nullptr;  // owned by the graph's bin
    std::atomic<IFrameSink*> m_sink{nullptr};  // set by the controlling thread, read by the streaming thread
};

}  // namespace vantrel::pipeline
