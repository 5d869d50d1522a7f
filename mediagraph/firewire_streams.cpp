// SPDX-License-Identifier: GPL-3.0-or-later
// The capture and DV-out elements of an IEEE 1394 camcorder.
//
// Design note. Each element is a bin around the element that moves the frames (the receiver, or an
// appsink), whose state changes connect the camcorder before the stream starts and release the
// connection and its bandwidth when it stops. DV out: a service thread runs the handle's event
// loop, in which libiec61883 asks for one 480-byte payload at a time; the payloads come from the
// frame taken last from the appsink, repeated while no new one has come (a camcorder's DV input
// expects a steady stream). The appsink's streaming thread waits, with a deadline, while a taken
// frame has not started going out, which paces the writing graph at the device's frame rate. A
// failure of the bus, a frame not taken in time and a lost connection become element errors.
#include "mediagraph/firewire_session.h"

#include "dv/dif_header.h"

#include <gst/app/gstappsink.h>

#include <array>
#include <condition_variable>
#include <cstring>

namespace vantrel::mediagraph {

namespace {

constexpr const char* kDvCaps = "video/x-dv, systemstream=(boolean)true";

// The system that the frame's header block declares, when the frame's size agrees with it.
dv::VideoSystem systemOf(std::span<const std::byte> frame)
{
    const dv::VideoSystem system = dv::systemOfDifHeader(frame);
    return system != dv::VideoSystem::Unknown && frame.size() == dv::frameBytes(system) ? system
                                                                                       : dv::VideoSystem::Unknown;
}

// What the bin calls around its children's state changes.
class IStreamHooks {
public:
    virtual ~IStreamHooks() = default;
    virtual bool beforeStart(GstElement* bin) = 0;  // ready to paused; false fails the change
    virtual void beforePause() {}                   // playing to paused, before the children
    virtual void beforePlay() {}                    // paused to playing, before the children
    virtual void beforeStop() = 0;                  // paused to ready, before the children stop
    virtual void afterStop() = 0;                   // after they stopped, or after a failed start
};

}  // namespace

// A bin that owns its hooks; GObject wants C names for the type's pieces.
struct VantrelFireWireBin {
    GstBin parent;
    IStreamHooks* hooks;
};
struct VantrelFireWireBinClass {
    GstBinClass parentClass;
};

G_DEFINE_TYPE(VantrelFireWireBin, vantrel_firewire_bin, GST_TYPE_BIN)

static GstStateChangeReturn vantrelFireWireBinChangeState(GstElement* element, GstStateChange transition)
{
    IStreamHooks* hooks = reinterpret_cast<VantrelFireWireBin*>(element)->hooks;
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED && !hooks->beforeStart(element)) {
        hooks->afterStop();
        return GST_STATE_CHANGE_FAILURE;
    }
    if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED)
        hooks->beforePause();
    if (transition == GST_STATE_CHANGE_PAUSED_TO_PLAYING)
        hooks->beforePlay();
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY)
        hooks->beforeStop();
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(vantrel_firewire_bin_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY ||
        (transition == GST_STATE_CHANGE_READY_TO_PAUSED && result == GST_STATE_CHANGE_FAILURE))
        hooks->afterStop();
    return result;
}

static void vantrelFireWireBinFinalize(GObject* object)
{
    delete reinterpret_cast<VantrelFireWireBin*>(object)->hooks;
    G_OBJECT_CLASS(vantrel_firewire_bin_parent_class)->finalize(object);
}

static void vantrel_firewire_bin_class_init(VantrelFireWireBinClass* type)
{
    GST_ELEMENT_CLASS(type)->change_state = vantrelFireWireBinChangeState;
    G_OBJECT_CLASS(type)->finalize = vantrelFireWireBinFinalize;
}

static void vantrel_firewire_bin_init(VantrelFireWireBin* bin)
{
    bin->hooks = nullptr;
}

namespace {

// The bin around child, with child's pad as its own; it takes hooks over.
GstOwned<GstElement> makeHookedBin(GstOwned<GstElement> child, const char* padName, std::unique_ptr<IStreamHooks> hooks)
{
    auto* bin = static_cast<GstElement*>(g_object_new(vantrel_firewire_bin_get_type(), nullptr));
    GstOwned<GstElement> owned{static_cast<GstElement*>(gst_object_ref_sink(bin))};
    reinterpret_cast<VantrelFireWireBin*>(bin)->hooks = hooks.release();
    gst_bin_add(GST_BIN(bin), child.get());  // the bin takes a reference of its own
    GstOwned<GstPad> pad = adopt(gst_element_get_static_pad(child.get(), padName));
    gst_element_add_pad(bin, gst_ghost_pad_new(padName, pad.get()));
    return owned;
}

// ---------------------------------------------------------------------------------------------
// Capture

}  // namespace

// Frames seen by a running capture, and the deadline for a frame after the tape was told to play.
class CaptureWatch : public std::enable_shared_from_this<CaptureWatch> {
public:
    CaptureWatch(std::shared_ptr<std::atomic<std::int32_t>> droppedFrames, std::chrono::milliseconds timeout)
        : droppedFrames(std::move(droppedFrames)), m_timeout(timeout)
    {
    }
    ~CaptureWatch() { stop(); }

    void noteFrame() { ++m_frames; }

    void start(GstElement* bin)
    {
        std::lock_guard lock(m_mutex);
        m_bin = bin;
        m_isRunning = true;
    }

    void stop()
    {
        GstClockID deadline = nullptr;
        {
            std::lock_guard lock(m_mutex);
            m_isRunning = false;
            std::swap(deadline, m_deadline);
        }
        cancel(deadline);
    }

    // While running: a frame must come within the timeout from now, or the capture fails.
    void expectFrame()
    {
        GstClockID previous = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (!m_isRunning)
                return;
            std::swap(previous, m_deadline);
            m_framesWhenArmed = m_frames;
            GstClock* clock = gst_system_clock_obtain();  // transfer full
            const auto timeoutNs = std::chrono::duration_cast<std::chrono::nanoseconds>(m_timeout).count();
            m_deadline = gst_clock_new_single_shot_id(clock, gst_clock_get_time(clock) + static_cast<GstClockTime>(timeoutNs));
            gst_clock_id_wait_async(m_deadline, &CaptureWatch::onDeadline, new std::shared_ptr<CaptureWatch>(shared_from_this()),
                                    [](gpointer data) { delete static_cast<std::shared_ptr<CaptureWatch>*>(data); });
            gst_object_unref(clock);
        }
        cancel(previous);
    }

    // The tape was stopped or wound: no frames are due.
    void expectNoFrame()
    {
        GstClockID deadline = nullptr;
        {
            std::lock_guard lock(m_mutex);
            std::swap(deadline, m_deadline);
        }
        cancel(deadline);
    }

    std::shared_ptr<std::atomic<std::int32_t>> droppedFrames;
    std::uint64_t lastOffset = GST_BUFFER_OFFSET_NONE;  // streaming thread only

private:
    static void cancel(GstClockID deadline)
    {
        if (deadline == nullptr)
            return;
        gst_clock_id_unschedule(deadline);  // a callback already running finds it no longer current
        gst_clock_id_unref(deadline);
    }

    static gboolean onDeadline(GstClock*, GstClockTime, GstClockID id, gpointer data)
    {
        CaptureWatch& watch = **static_cast<std::shared_ptr<CaptureWatch>*>(data);
        std::lock_guard lock(watch.m_mutex);
        if (watch.m_isRunning && id == watch.m_deadline && watch.m_frames == watch.m_framesWhenArmed)
            postElementError(watch.m_bin, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                             "No frames from the camcorder: is it in VCR mode, playing a recorded part of the tape?");
        return TRUE;
    }

    const std::chrono::milliseconds m_timeout;
    std::atomic<std::uint64_t> m_frames{0};  // streaming thread counts
    std::mutex m_mutex;                      // guards the fields below against the clock's thread
    GstElement* m_bin = nullptr;
    bool m_isRunning = false;
    std::uint64_t m_framesWhenArmed = 0;
    GstClockID m_deadline = nullptr;
};

void CaptureWatchList::add(const std::shared_ptr<CaptureWatch>& watch)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_watches, [](const std::weak_ptr<CaptureWatch>& known) { return known.expired(); });
    m_watches.push_back(watch);
}

void CaptureWatchList::tapeMoved(bool isPlaying)
{
    std::lock_guard lock(m_mutex);
    for (const auto& known : m_watches) {
        if (auto watch = known.lock())
            isPlaying ? watch->expectFrame() : watch->expectNoFrame();
    }
}

namespace {

GstPadProbeReturn onCapturedBuffer(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto& watch = **static_cast<std::shared_ptr<CaptureWatch>*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    watch.noteFrame();
    // The receiver numbers frames as they pass the bus, dropped ones included: a gap is a loss.
    const std::uint64_t offset = GST_BUFFER_OFFSET(buffer);
    if (offset != GST_BUFFER_OFFSET_NONE) {
        if (watch.lastOffset != GST_BUFFER_OFFSET_NONE && offset > watch.lastOffset + 1)
            *watch.droppedFrames += static_cast<std::int32_t>(offset - watch.lastOffset - 1);
        watch.lastOffset = offset;
    }
    const gsize size = gst_buffer_get_size(buffer);
    const GstClockTime duration = size == dv::kNtscFrameBytes ? gst_util_uint64_scale_int_round(GST_SECOND, 1001, 30000)
                                  : size == dv::kPalFrameBytes ? GST_SECOND / 25
                                                               : GST_CLOCK_TIME_NONE;
    if (GST_BUFFER_DURATION(buffer) != duration) {
        buffer = gst_buffer_make_writable(buffer);
        GST_BUFFER_DURATION(buffer) = duration;
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
    }
    return GST_PAD_PROBE_OK;
}

class CaptureHooks : public IStreamHooks {
public:
    CaptureHooks(std::shared_ptr<IFireWireBus> bus, FireWireAddress address, GstElement* receiver,
                 std::shared_ptr<CaptureWatch> watch)
        : m_bus(std::move(bus)), m_address(std::move(address)), m_receiver(receiver), m_watch(std::move(watch))
    {
    }
    ~CaptureHooks() override { afterStop(); }

    bool beforeStart(GstElement* bin) override
    {
        m_handle = m_bus->open(m_address.port);
        if (!m_handle) {
            postElementError(bin, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ,
                             "The IEEE 1394 port of the camcorder cannot be opened");
            return false;
        }
        m_connection = std::make_unique<PlugConnection>(*m_handle, m_address.guid, StreamDirection::FromCamcorder);
        if (const std::string problem = m_connection->connect(); !problem.empty()) {
            postElementError(bin, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ, "Cannot capture: " + problem);
            return false;
        }
        m_bus->setReceiverChannel(m_receiver, m_connection->channel());
        const int channel = m_connection->channel();
        m_handle->setBusResetHandler([this, bin, channel](unsigned generation) {
            std::string problem = m_connection->restoreAfterReset(generation);
            if (problem.empty() && m_connection->channel() != channel)
                problem = "the camcorder moved to another channel at a bus reset";
            if (!problem.empty())
                postElementError(bin, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Capture stopped: " + problem);
        });
        m_service = std::make_unique<BusServiceThread>(*m_handle, [bin](const std::string& problem) {
            postElementError(bin, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "Capture stopped: " + problem);
        });
        m_watch->lastOffset = GST_BUFFER_OFFSET_NONE;
        m_watch->start(bin);
        const std::optional<int> node = findNodeByGuid(*m_handle, m_address.guid);
        if (node && isDeckPlaying(*m_handle, *node))
            m_watch->expectFrame();
        return true;
    }

    void beforeStop() override {}

    void afterStop() override
    {
        m_watch->stop();
        m_service.reset();
        m_connection.reset();  // disconnects, releasing channel and bandwidth
        m_handle.reset();
    }

private:
    std::shared_ptr<IFireWireBus> m_bus;
    FireWireAddress m_address;
    GstElement* m_receiver;  // owned by the bin
    std::shared_ptr<CaptureWatch> m_watch;
    std::unique_ptr<IFireWireHandle> m_handle;
    std::unique_ptr<PlugConnection> m_connection;
    std::unique_ptr<BusServiceThread> m_service;
};

// ---------------------------------------------------------------------------------------------
// DV out

class DvOutHooks : public IStreamHooks {
public:
    DvOutHooks(std::shared_ptr<IFireWireBus> bus, FireWireAddress address, FireWireTimeouts timeouts)
        : m_bus(std::move(bus)), m_address(std::move(address)), m_timeouts(timeouts)
    {
    }
    ~DvOutHooks() override
    {
        beforeStop();
        afterStop();
    }

    void setSink(GstElement* sink) { m_sink = sink; }

    bool beforeStart(GstElement*) override
    {
        std::lock_guard lock(m_frameMutex);
        m_isStopping = false;
        m_isPausing = false;
        m_failure.clear();
        m_hasReportedFailure = false;
        return true;
    }

    // The sink's streaming thread may wait for the transmitter while holding the sink's preroll
    // lock, which pausing takes: wake it, so that it waits for playing again the sink's way.
    void beforePause() override
    {
        {
            std::lock_guard lock(m_frameMutex);
            m_isPausing = true;
        }
        m_frameChanged.notify_all();
    }

    void beforePlay() override
    {
        std::lock_guard lock(m_frameMutex);
        m_isPausing = false;
    }

    void beforeStop() override
    {
        {
            std::lock_guard lock(m_frameMutex);
            m_isStopping = true;
        }
        m_frameChanged.notify_all();
        std::lock_guard control(m_controlMutex);
        stopTransmission();
    }

    void afterStop() override
    {
        std::lock_guard control(m_controlMutex);
        stopTransmission();
        m_connection.reset();  // disconnects, releasing channel and bandwidth
        m_handle.reset();
    }

    // Streaming thread of the appsink: hands the frame to the transmitter.
    GstFlowReturn takeSample(GstAppSink* sink)
    {
        const MappedSample sample(sink);
        if (!sample)
            return sample.failure();
        const dv::VideoSystem system = systemOf(sample.bytes());
        if (system == dv::VideoSystem::Unknown)
            return GST_FLOW_OK;  // not a whole DV frame: nothing the camcorder could record

        std::unique_lock lock(m_frameMutex);
        if (m_isStopping)
            return GST_FLOW_FLUSHING;
        if (!m_failure.empty())
            return GST_FLOW_ERROR;
        if (m_isTransmitting && system == m_system) {
            if (const GstFlowReturn waited = waitForRoom(sink, lock); waited != GST_FLOW_OK)
                return waited;
            putPending(sample.bytes());
            return GST_FLOW_OK;
        }
        // First frame, or a change of video system: the frames of the old system go out whole,
        // then the transmission starts again with this frame.
        if (m_isTransmitting)
            waitForDrain(lock);
        lock.unlock();
        std::lock_guard control(m_controlMutex);
        stopTransmission();
        lock.lock();
        if (m_isStopping)
            return GST_FLOW_FLUSHING;
        m_currentBytes = 0;
        m_sentBytes = 0;
        m_system = system;
        putPending(sample.bytes());
        lock.unlock();
        if (const std::string problem = startTransmission(); !problem.empty()) {
            fail("Cannot start DV output: " + problem);
            return GST_FLOW_ERROR;
        }
        return GST_FLOW_OK;
    }

    // End of stream: the last frame goes out whole, then the transmission stops.
    void drain()
    {
        std::unique_lock lock(m_frameMutex);
        if (!m_isTransmitting)
            return;
        waitForDrain(lock);
        lock.unlock();
        std::lock_guard control(m_controlMutex);
        stopTransmission();
    }

private:
    // Waits until the frames given so far have gone out whole, with a deadline; frame mutex held.
    void waitForDrain(std::unique_lock<std::mutex>& lock)
    {
        m_isDraining = true;
        m_frameChanged.wait_for(lock, m_timeouts.frameTaken,
                                [this] { return m_isDrained || m_isStopping || !m_failure.empty(); });
    }

    // Waits until the pending frame has started going out; frame mutex held.
    GstFlowReturn waitForRoom(GstAppSink* sink, std::unique_lock<std::mutex>& lock)
    {
        for (;;) {
            const bool isFree = m_frameChanged.wait_for(lock, m_timeouts.frameTaken, [this] {
                return !m_hasPendingFrame || m_isStopping || m_isPausing || !m_failure.empty();
            });
            if (m_isStopping)
                return GST_FLOW_FLUSHING;
            if (!m_failure.empty())
                return GST_FLOW_ERROR;
            if (!m_hasPendingFrame)
                return GST_FLOW_OK;
            if (m_isPausing) {
                // The transmitter keeps repeating its frame meanwhile; this one waits for playing.
                lock.unlock();
                const GstFlowReturn resumed = gst_base_sink_wait_preroll(GST_BASE_SINK(sink));
                lock.lock();
                if (resumed != GST_FLOW_OK)
                    return resumed;
                continue;
            }
            if (!isFree) {
                lock.unlock();
                fail("DV output stopped: the camcorder took no frame");
                lock.lock();
                return GST_FLOW_ERROR;
            }
        }
    }

    void putPending(std::span<const std::byte> frame)  // frame mutex held
    {
        std::memcpy(m_pending.data(), frame.data(), frame.size());
        m_pendingBytes = frame.size();
        m_hasPendingFrame = true;
        m_isDraining = false;
        m_isDrained = false;
    }

    std::string startTransmission()  // control mutex held
    {
        if (!m_handle) {
            m_handle = m_bus->open(m_address.port);
            if (!m_handle)
                return "the IEEE 1394 port of the camcorder cannot be opened";
            m_connection = std::make_unique<PlugConnection>(*m_handle, m_address.guid, StreamDirection::ToCamcorder);
            if (std::string problem = m_connection->connect(); !problem.empty()) {
                m_connection.reset();
                m_handle.reset();
                return problem;
            }
            const int channel = m_connection->channel();
            m_handle->setBusResetHandler([this, channel](unsigned generation) {
                std::string problem = m_connection->restoreAfterReset(generation);
                if (problem.empty() && m_connection->channel() != channel)
                    problem = "the camcorder moved to another channel at a bus reset";
                if (!problem.empty())
                    fail("DV output stopped: " + problem);
            });
        }
        const bool isPal = m_system == dv::VideoSystem::Pal625_50;
        if (!m_handle->startDvTransmit(isPal, m_connection->channel(),
                                       [this](std::span<unsigned char> payload) { return fillPayload(payload); }))
            return "the IEEE 1394 port refused to transmit";
        {
            std::lock_guard lock(m_frameMutex);
            m_isTransmitting = true;
        }
        m_service = std::make_unique<BusServiceThread>(*m_handle, [this](const std::string& problem) {
            fail("DV output stopped: " + problem);
        });
        return {};
    }

    void stopTransmission()  // control mutex held
    {
        m_service.reset();  // joined: the payload source is not called any more
        if (m_handle)
            m_handle->stopDvTransmit();
        std::lock_guard lock(m_frameMutex);
        m_isTransmitting = false;
    }

    // Service thread: the next payload of the stream.
    bool fillPayload(std::span<unsigned char> payload)
    {
        std::lock_guard lock(m_frameMutex);
        if (m_sentBytes >= m_currentBytes) {
            if (m_hasPendingFrame) {
                std::swap(m_current, m_pending);
                m_currentBytes = m_pendingBytes;
                m_hasPendingFrame = false;
            } else if (m_isDraining) {
                m_isDrained = true;
            }
            m_sentBytes = 0;  // the current frame again when nothing new came
            m_frameChanged.notify_all();
        }
        if (m_currentBytes == 0 || payload.size() > m_currentBytes - m_sentBytes)
            return false;
        std::memcpy(payload.data(), m_current.data() + m_sentBytes, payload.size());
        m_sentBytes += payload.size();
        return true;
    }

    // Any thread: keeps the first failure, wakes the streaming thread, reports it on the graph.
    void fail(const std::string& text)
    {
        // Posted before the streaming thread learns of it, so that this text is the graph's first error.
        if (m_hasReportedFailure.exchange(true))
            return;
        postElementError(m_sink, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_WRITE, text);
        {
            std::lock_guard lock(m_frameMutex);
            m_failure = text;
        }
        m_frameChanged.notify_all();
    }

    std::shared_ptr<IFireWireBus> m_bus;
    FireWireAddress m_address;
    FireWireTimeouts m_timeouts;
    GstElement* m_sink = nullptr;  // the appsink inside the bin
    // Under the control mutex, which serialises starting and stopping (streaming thread and state
    // changes); the service thread runs only while they are all set.
    std::mutex m_controlMutex;
    std::unique_ptr<IFireWireHandle> m_handle;
    std::unique_ptr<PlugConnection> m_connection;
    std::unique_ptr<BusServiceThread> m_service;

    std::mutex m_frameMutex;  // guards the frames and flags below
    std::condition_variable m_frameChanged;
    std::array<std::byte, dv::kMaxFrameBytes> m_current{};
    std::array<std::byte, dv::kMaxFrameBytes> m_pending{};
    std::size_t m_currentBytes = 0;
    std::size_t m_pendingBytes = 0;
    std::size_t m_sentBytes = 0;
    dv::VideoSystem m_system = dv::VideoSystem::Unknown;
    bool m_hasPendingFrame = false;
    bool m_isTransmitting = false;
    bool m_isStopping = false;
    bool m_isPausing = false;
    bool m_isDraining = false;
    bool m_isDrained = false;
    std::string m_failure;
    std::atomic<bool> m_hasReportedFailure{false};
};

}  // namespace

GstOwned<GstElement> makeFireWireCaptureSource(std::shared_ptr<IFireWireBus> bus, const FireWireAddress& address,
                                               FireWireTimeouts timeouts,
                                               std::shared_ptr<std::atomic<std::int32_t>> droppedFrames,
                                               CaptureWatchList& watches)
{
    GstOwned<GstElement> receiver = bus->makeDvReceiver(address.port, address.guid);
    if (!receiver)
        return {};
    auto watch = std::make_shared<CaptureWatch>(std::move(droppedFrames), timeouts.firstFrame);
    watches.add(watch);
    GstOwned<GstPad> pad = adopt(gst_element_get_static_pad(receiver.get(), "src"));
    if (!pad)
        return {};
    gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &onCapturedBuffer, new std::shared_ptr<CaptureWatch>(watch),
                      [](gpointer data) { delete static_cast<std::shared_ptr<CaptureWatch>*>(data); });
    GstElement* inner = receiver.get();
    auto hooks = std::make_unique<CaptureHooks>(std::move(bus), address, inner, std::move(watch));
    return makeHookedBin(std::move(receiver), "src", std::move(hooks));
}

GstOwned<GstElement> makeFireWireDvOutSink(std::shared_ptr<IFireWireBus> bus, const FireWireAddress& address,
                                           FireWireTimeouts timeouts)
{
    GstOwned<GstElement> sink = makeElement("appsink", nullptr);
    if (!sink)
        return {};
    GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string(kDvCaps));
    // The camcorder's input takes frames as they come: no clock, and no first frame needed to start.
    g_object_set(sink.get(), "caps", caps.get(), "sync", FALSE, "async", FALSE, nullptr);
    auto hooks = std::make_unique<DvOutHooks>(std::move(bus), address, timeouts);
    hooks->setSink(sink.get());
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appSink, gpointer self) {
        return static_cast<DvOutHooks*>(self)->takeSample(appSink);
    };
    callbacks.eos = [](GstAppSink*, gpointer self) { static_cast<DvOutHooks*>(self)->drain(); };
    // The hooks belong to the bin, which outlives the appsink's callbacks.
    gst_app_sink_set_callbacks(GST_APP_SINK(sink.get()), &callbacks, hooks.get(), nullptr);
    return makeHookedBin(std::move(sink), "sink", std::move(hooks));
}

}  // namespace vantrel::mediagraph
