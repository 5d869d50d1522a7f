// SPDX-License-Identifier: GPL-3.0-or-later
// Owning handles for GStreamer objects, mini-objects and mapped buffers, so every reference is released once.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace vantrel::mediagraph {

template <class T>
struct GstObjectUnref {
    void operator()(T* object) const noexcept { gst_object_unref(object); }
};
template <class T>
using GstOwned = std::unique_ptr<T, GstObjectUnref<T>>;

// transfer full: the handle takes over the caller's reference.
template <class T>
GstOwned<T> adopt(T* transferFull)
{
    return GstOwned<T>{transferFull};
}

// transfer none: the handle takes a reference of its own.
template <class T>
GstOwned<T> retain(T* transferNone)
{
    return GstOwned<T>{transferNone ? static_cast<T*>(gst_object_ref(transferNone)) : nullptr};
}

// A new element with the floating reference sunk; empty when the factory is not installed.
inline GstOwned<GstElement> makeElement(const char* factory, const char* name)
{
    GstElement* element = gst_element_factory_make(factory, name);
    if (element == nullptr)
        return {};
    return GstOwned<GstElement>{static_cast<GstElement*>(gst_object_ref_sink(element))};
}

// Buffers, caps, samples, messages, events, queries: reference-counted mini-objects.
template <class T>
struct GstMiniObjectUnref {
    void operator()(T* miniObject) const noexcept { gst_mini_object_unref(GST_MINI_OBJECT_CAST(miniObject)); }
};
template <class T>
using GstMiniOwned = std::unique_ptr<T, GstMiniObjectUnref<T>>;

template <class T>
GstMiniOwned<T> adoptMini(T* transferFull)
{
    return GstMiniOwned<T>{transferFull};
}

template <class T>
GstMiniOwned<T> retainMini(T* transferNone)
{
    return GstMiniOwned<T>{
        transferNone ? reinterpret_cast<T*>(gst_mini_object_ref(GST_MINI_OBJECT_CAST(transferNone))) : nullptr};
}

// Maps a buffer for the lifetime of the guard; false when mapping failed.
class MappedBuffer {
public:
    MappedBuffer(GstBuffer* buffer, GstMapFlags flags) noexcept : m_buffer(buffer)
    {
        m_isMapped = buffer != nullptr && gst_buffer_map(buffer, &m_info, flags);
    }
    ~MappedBuffer()
    {
        if (m_isMapped)
            gst_buffer_unmap(m_buffer, &m_info);
    }
    MappedBuffer(const MappedBuffer&) = delete;
    MappedBuffer& operator=(const MappedBuffer&) = delete;

    explicit operator bool() const noexcept { return m_isMapped; }
    std::byte* data() const noexcept { return reinterpret_cast<std::byte*>(m_info.data); }
    std::size_t size() const noexcept { return m_isMapped ? m_info.size : 0; }
    std::span<const std::byte> bytes() const noexcept { return {data(), size()}; }
    std::span<std::byte> writableBytes() const noexcept { return {data(), size()}; }

private:
    GstBuffer* m_buffer;
    GstMapInfo m_info{};
    bool m_isMapped = false;
};

// The next sample of an appsink, its buffer mapped for reading while the guard lives; for an
// appsink's new-sample callback.
class MappedSample {
public:
    explicit MappedSample(GstAppSink* sink) noexcept
        : m_sample(adoptMini(gst_app_sink_pull_sample(sink))),  // transfer full
          m_map(m_sample ? gst_sample_get_buffer(m_sample.get()) : nullptr, GST_MAP_READ)
    {
    }

    // False at the end of the stream or when the buffer cannot be mapped; failure() is then what
    // the callback returns.
    explicit operator bool() const noexcept { return static_cast<bool>(m_map); }
    GstFlowReturn failure() const noexcept { return m_sample ? GST_FLOW_ERROR : GST_FLOW_EOS; }
    std::span<const std::byte> bytes() const noexcept { return m_map.bytes(); }

private:
    GstMiniOwned<GstSample> m_sample;  // outlives the mapping
    MappedBuffer m_map;
};

// Posts an error message from an element onto its graph's bus.
inline void postElementError(GstElement* element, GQuark domain, int code, const std::string& text)
{
    GError* error = g_error_new_literal(domain, code, text.c_str());
    // The message keeps a copy of the error; posting hands the message to the graph's bus.
    gst_element_post_message(element, gst_message_new_error(GST_OBJECT(element), error, nullptr));
    g_error_free(error);
}

}  // namespace vantrel::mediagraph
