// SPDX-License-Identifier: GPL-3.0-or-later
// Owning handles for GStreamer objects, mini-objects and mapped buffers, so every reference is released once.
#pragma once

#include <gst/gst.h>

#include <cstddef>
#include <memory>
#include <span>

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

}  // namespace vantrel::mediagraph
