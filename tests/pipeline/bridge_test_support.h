// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the bridge filter tests: distinct DV frames, a recording frame sink, and a
// collector appsink for the end of writing graphs.
#pragma once

#include "mediagraph/gst_handles.h"
#include "mediagraph/video_devices.h"
#include "pipeline/bridge_filters.h"
#include "pipeline/input_filter_graph.h"
#include "support/synthetic_dv_frame.h"

#include <gst/app/gstappsink.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace vantrel::pipeline::testing {

// A PAL frame that differs from the others in its time code and in one byte of video.
inline std::vector<std::byte> distinctPalFrame(int index)
{
    constexpr std::size_t kVideoByteOffset = 7 * 80 + 10;  // inside the first video block of sequence 0
    return testsupport::SyntheticDvFrame::pal()
        .withTimecode({0, index / 1500, (index / 25) % 60, index % 25})
        .withByte(kVideoByteOffset, static_cast<std::uint8_t>(index * 7 + 1))
        .withByte(kVideoByteOffset + 1, static_cast<std::uint8_t>(index >> 8))
        .bytes();
}

// A device's capture source linked into "InputFilter".
class DeviceCaptureGraph : public CInputFilterGraph {
public:
    explicit DeviceCaptureGraph(mediagraph::IVideoDevice& device) { Link(AddElement(device.MakeCaptureSource()), InputFilter()); }
};

struct DeliveredFrame {
    REFERENCE_TIME duration = 0;
    std::vector<std::byte> bytes;
    bool hadData = false;
};

// Keeps a copy of every delivery, in order; any thread.
class RecordingFrameSink : public IFrameSink {
public:
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override
    {
        std::lock_guard lock(m_mutex);
        DeliveredFrame& frame = m_frames.emplace_back(DeliveredFrame{duration, {}, data != nullptr});
        if (data != nullptr && length > 0)
            frame.bytes.assign(data, data + length);
    }
    std::vector<DeliveredFrame> frames() const
    {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<DeliveredFrame> m_frames;
};

struct CollectedBuffer {
    std::vector<std::byte> bytes;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    GstClockTime duration = GST_CLOCK_TIME_NONE;
};

// An appsink at the end of a writing graph that keeps every buffer; it can be held shut.
class Collector {
public:
    explicit Collector(GstElement* appSink) : m_appSink(appSink)
    {
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &Collector::onNewSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(appSink), &callbacks, this, nullptr);
    }
    ~Collector()
    {
        GstAppSinkCallbacks none{};
        gst_app_sink_set_callbacks(GST_APP_SINK(m_appSink), &none, nullptr, nullptr);
    }

    void hold() { setHeld(true); }
    void release() { setHeld(false); }
    std::vector<CollectedBuffer> buffers() const
    {
        std::lock_guard lock(m_mutex);
        return m_buffers;
    }

private:
    void setHeld(bool isHeld)
    {
        {
            std::lock_guard lock(m_mutex);
            m_isHeld = isHeld;
        }
        m_changed.notify_all();
    }
    static GstFlowReturn onNewSample(GstAppSink* sink, gpointer self)
    {
        auto* collector = static_cast<Collector*>(self);
        mediagraph::GstMiniOwned<GstSample> sample = mediagraph::adoptMini(gst_app_sink_pull_sample(sink));
        if (!sample)
            return GST_FLOW_EOS;
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        CollectedBuffer collected;
        {
            mediagraph::MappedBuffer map{buffer, GST_MAP_READ};
            collected.bytes.assign(map.bytes().begin(), map.bytes().end());
        }
        collected.pts = GST_BUFFER_PTS(buffer);
        collected.duration = GST_BUFFER_DURATION(buffer);
        std::unique_lock lock(collector->m_mutex);
        collector->m_buffers.push_back(std::move(collected));
        collector->m_changed.wait(lock, [collector] { return !collector->m_isHeld; });  // the sample stays held too
        return GST_FLOW_OK;
    }

    GstElement* m_appSink;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<CollectedBuffer> m_buffers;
    bool m_isHeld = false;
};

}  // namespace vantrel::pipeline::testing
