// SPDX-License-Identifier: GPL-3.0-or-later
// The graph holder on a GStreamer pipeline.
#include "mediagraph/dshow_graph.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace vantrel::mediagraph {

void ensureMediaFrameworkInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

namespace {

constexpr std::int64_t kNanosecondsPer100ns = 100;

StateChangeResult toResult(GstStateChangeReturn result)
{
    switch (result) {
    case GST_STATE_CHANGE_SUCCESS: return StateChangeResult::Success;
    case GST_STATE_CHANGE_ASYNC: return StateChangeResult::Pending;
    case GST_STATE_CHANGE_NO_PREROLL: return StateChangeResult::NoPreroll;
    case GST_STATE_CHANGE_FAILURE: return StateChangeResult::Failure;
    }
    return StateChangeResult::Invalid;
}

GraphState toGraphState(GstState state)
{
    switch (state) {
    case GST_STATE_PLAYING: return GraphState::Running;
    case GST_STATE_PAUSED: return GraphState::Paused;
    case GST_STATE_READY:
    case GST_STATE_NULL: return GraphState::Stopped;
    case GST_STATE_VOID_PENDING: break;
    }
    return GraphState::Invalid;
}

}  // namespace

CDShowGraph::CDShowGraph() : CDShowGraph(nullptr) {}

CDShowGraph::CDShowGraph(const char* pipelineFactory)
{
    ensureMediaFrameworkInitialised();
    GstElement* pipeline =
        pipelineFactory == nullptr ? gst_pipeline_new(nullptr) : gst_element_factory_make(pipelineFactory, nullptr);
    if (pipeline == nullptr || !GST_IS_PIPELINE(pipeline)) {
        if (pipeline != nullptr)
            gst_object_unref(gst_object_ref_sink(pipeline));
        ThrowGraphError(graph_messages::kCannotCreateFilterGraph);
    }
    m_pipeline.reset(static_cast<GstElement*>(gst_object_ref_sink(pipeline)));
    GstOwned<GstBus> bus = adopt(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    gst_bus_set_sync_handler(bus.get(), &CDShowGraph::onBusMessage, this, nullptr);
}

CDShowGraph::~CDShowGraph()
{
    Stop();
    GstOwned<GstBus> bus = adopt(gst_pipeline_get_bus(GST_PIPELINE(m_pipeline.get())));
    gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
}

GstElement* CDShowGraph::AddElement(const char* factory, const char* name)
{
    GstOwned<GstElement> element = makeElement(factory, name);
    if (!element)
        ThrowGraphError(graph_messages::kError);
    return AddElement(std::move(element));
}

GstElement* CDShowGraph::AddElement(GstOwned<GstElement> element)
{
    if (!element || !gst_bin_add(bin(), element.get()))
        ThrowGraphError(graph_messages::kError);
    return element.get();  // the bin holds its own reference now
}

void CDShowGraph::Link(GstElement* upstream, GstElement* downstream)
{
    if (!gst_element_link(upstream, downstream))
        ThrowGraphError(graph_messages::kError);
}

StateChangeResult CDShowGraph::Run()
{
    {
        std::lock_guard lock(m_eventMutex);
        m_hasEnded = false;
    }
    return toResult(gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING));
}

StateChangeResult CDShowGraph::Pause()
{
    return toResult(gst_element_set_state(m_pipeline.get(), GST_STATE_PAUSED));
}

void CDShowGraph::Stop() noexcept
{
    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);  // joins the streaming threads
    std::lock_guard lock(m_eventMutex);
    m_hasEnded = false;
}

StateChangeResult CDShowGraph::GetState(std::chrono::milliseconds timeout, GraphState* state) const
{
    GstState current = GST_STATE_VOID_PENDING;
    GstState pending = GST_STATE_VOID_PENDING;
    const GstClockTime timeoutNs = static_cast<GstClockTime>(timeout.count()) * GST_MSECOND;
    const GstStateChangeReturn result = gst_element_get_state(m_pipeline.get(), &current, &pending, timeoutNs);
    if (state != nullptr)
        *state = toGraphState(current);
    return toResult(result);
}

bool CDShowGraph::Seek(std::int64_t position100ns)
{
    if (position100ns < 0)
        return false;
    {
        std::lock_guard lock(m_eventMutex);
        m_hasEnded = false;
    }
    const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    return gst_element_seek_simple(m_pipeline.get(), GST_FORMAT_TIME, flags, position100ns * kNanosecondsPer100ns);
}

bool CDShowGraph::StepFrames(std::uint64_t frameCount)
{
    GstEvent* step = gst_event_new_step(GST_FORMAT_BUFFERS, frameCount, 1.0, TRUE, FALSE);
    return gst_element_send_event(m_pipeline.get(), step);  // transfer full of the event
}

std::optional<std::int64_t> CDShowGraph::GetPosition() const
{
    gint64 positionNs = 0;
    if (!gst_element_query_position(m_pipeline.get(), GST_FORMAT_TIME, &positionNs) || positionNs < 0)
        return std::nullopt;
    return positionNs / kNanosecondsPer100ns;
}

std::optional<std::int64_t> CDShowGraph::GetDuration() const
{
    gint64 durationNs = 0;
    if (!gst_element_query_duration(m_pipeline.get(), GST_FORMAT_TIME, &durationNs) || durationNs < 0)
        return std::nullopt;
    return durationNs / kNanosecondsPer100ns;
}

Completion CDShowGraph::WaitForCompletion(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_eventMutex);
    const bool isDone = m_eventArrived.wait_for(lock, timeout, [this] { return m_hasEnded || m_firstError; });
    if (!isDone)
        return Completion::TimedOut;
    return m_firstError ? Completion::Failed : Completion::Finished;
}

void CDShowGraph::RecordError(const CDShowException& error) noexcept
{
    bool isFirst = false;
    {
        std::lock_guard lock(m_eventMutex);
        ++m_errorCount;
        isFirst = !m_firstError;
        if (isFirst)
            m_firstError = error;
    }
    m_eventArrived.notify_all();
    if (isFirst)
        OnFirstError();
}

std::optional<CDShowException> CDShowGraph::FirstError() const
{
    std::lock_guard lock(m_eventMutex);
    return m_firstError;
}

std::uint32_t CDShowGraph::ErrorCount() const
{
    std::lock_guard lock(m_eventMutex);
    return m_errorCount;
}

void CDShowGraph::ThrowIfFailed()
{
    std::unique_lock lock(m_eventMutex);
    if (!m_firstError || m_wasErrorThrown)
        return;
    m_wasErrorThrown = true;
    CDShowException error = *m_firstError;
    lock.unlock();
    throw error;
}

std::string CDShowGraph::DumpForGraphViewer() const
{
    char name[64];
    std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x",
                  static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(m_pipeline.get())),
                  static_cast<unsigned>(getpid()));
    gst_debug_bin_to_dot_file(bin(), GST_DEBUG_GRAPH_SHOW_ALL, name);
    return name;
}

void CDShowGraph::SetBusPassThrough(bool isPassThrough) noexcept
{
    std::lock_guard lock(m_eventMutex);
    m_isBusPassThrough = isPassThrough;
}

GstBusSyncReply CDShowGraph::onBusMessage(GstBus*, GstMessage* message, gpointer self)
{
    auto* graph = static_cast<CDShowGraph*>(self);
    graph->handleBusMessage(message);
    std::lock_guard lock(graph->m_eventMutex);
    if (graph->m_isBusPassThrough)
        return GST_BUS_PASS;
    gst_message_unref(message);  // a dropping sync handler owns the message
    return GST_BUS_DROP;
}

void CDShowGraph::handleBusMessage(GstMessage* message)
{
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_ERROR: {
        GError* error = nullptr;
        gst_message_parse_error(message, &error, nullptr);
        std::string text = error != nullptr && error->message != nullptr ? error->message : graph_messages::kError;
        if (error != nullptr)
            g_error_free(error);
        RecordError(CDShowException(GraphErrorKind::Graph, std::move(text)));
        break;
    }
    case GST_MESSAGE_EOS: {
        {
            std::lock_guard lock(m_eventMutex);
            m_hasEnded = true;
        }
        m_eventArrived.notify_all();
        break;
    }
    default:
        break;
    }
}

}  // namespace vantrel::mediagraph
