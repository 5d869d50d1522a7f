// SPDX-License-Identifier: GPL-3.0-or-later
// The graph holder: one GStreamer pipeline with run, pause, stop, state, seeking and error collection.
//
// Design note. Errors and end of stream are taken from the bus by a synchronous handler, on the
// thread that posts them, so that a holder works without any main loop (job and worker threads
// wait on it with WaitForCompletion). The handler keeps the first error and counts the others,
// so a failure repeated on every buffer is reported once; streaming threads that catch an
// exception hand it to RecordError the same way. The controlling thread collects it with
// ThrowIfFailed. With pass-through on, every message also stays on the bus for a GUI bus watch.
#pragma once

#include "mediagraph/graph_errors.h"
#include "mediagraph/gst_handles.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace vantrel::mediagraph {

// Loads GStreamer once per process (any thread, any number of calls).
void ensureMediaFrameworkInitialised();

enum class GraphState { Invalid, Stopped, Paused, Running };

enum class StateChangeResult {
    Invalid,
    Success,    // the graph is in the state asked for
    Pending,    // still changing (waiting for data to preroll); GetState waits for it
    NoPreroll,  // a live source: running without preroll
    Failure,
};

enum class Completion { Invalid, Finished, Failed, TimedOut };

class CDShowGraph {
public:
    CDShowGraph();  // throws "Can't create FilterGraph"
    virtual ~CDShowGraph();  // stops the graph
    CDShowGraph(const CDShowGraph&) = delete;
    CDShowGraph& operator=(const CDShowGraph&) = delete;

    GstPipeline* pipeline() const noexcept { return GST_PIPELINE(m_pipeline.get()); }
    GstBin* bin() const noexcept { return GST_BIN(m_pipeline.get()); }

    // Adds a new element of that factory; throws "Error" when it cannot be made or added.
    GstElement* AddElement(const char* factory, const char* name);
    // Adds an element made elsewhere; the graph keeps it. Throws "Error" on failure.
    GstElement* AddElement(GstOwned<GstElement> element);
    // Links two added elements; throws "Error" when their pads do not fit.
    void Link(GstElement* upstream, GstElement* downstream);

    StateChangeResult Run();
    StateChangeResult Pause();
    // Returns after every streaming thread of the graph has ended. Never fails.
    void Stop() noexcept;
    // Waits up to timeout for a pending change; state receives the current state.
    StateChangeResult GetState(std::chrono::milliseconds timeout, GraphState* state) const;

    // Flushing, accurate seek to an absolute position (100 ns units). False when refused.
    bool Seek(std::int64_t position100ns);
    // Moves a paused graph by that many video frames. False when refused.
    bool StepFrames(std::uint64_t frameCount);
    std::optional<std::int64_t> GetPosition() const;  // 100 ns units
    std::optional<std::int64_t> GetDuration() const;  // 100 ns units

    // Waits for end of stream or an error. It does not throw: ThrowIfFailed reports the error.
    Completion WaitForCompletion(std::chrono::milliseconds timeout);

    // Keeps the first error of the graph's life (any thread). Later ones are only counted.
    void RecordError(const CDShowException& error) noexcept;
    std::optional<CDShowException> FirstError() const;
    std::uint32_t ErrorCount() const;
    // Throws the first error once; later calls (and calls with no error) return.
    void ThrowIfFailed();

    // Writes the graph as GraphViz "FilterGraph %08x pid %08x.dot" into GST_DEBUG_DUMP_DOT_DIR, for
    // looking at the graph from outside (nothing when that variable was not set when GStreamer
    // started). Returns the name used.
    std::string DumpForGraphViewer() const;

    // Keep every bus message on the bus too, for a bus watch of the GUI thread.
    void SetBusPassThrough(bool isPassThrough) noexcept;

protected:
    // A holder whose pipeline is a ready-made pipeline element of that factory (playbin).
    // Throws "Can't create FilterGraph" when there is none.
    explicit CDShowGraph(const char* pipelineFactory);

    // Called once, on the thread that reports the graph's first error, after it is kept.
    virtual void OnFirstError() noexcept {}

private:
    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* message, gpointer self);
    void handleBusMessage(GstMessage* message);

    GstOwned<GstElement> m_pipeline;

    mutable std::mutex m_eventMutex;  // guards the fields below; posted from streaming threads
    std::condition_variable m_eventArrived;
    std::optional<CDShowException> m_firstError;
    std::uint32_t m_errorCount = 0;
    bool m_wasErrorThrown = false;
    bool m_hasEnded = false;  // end of stream reached the pipeline since the last start or seek
    bool m_isBusPassThrough = false;
};

}  // namespace vantrel::mediagraph
