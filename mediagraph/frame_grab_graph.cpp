// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes one picture of a media file to 24-bit BGR outside the player: the frame grabber's graph.
#include "mediagraph/frame_grab_graph.h"

#include "mediagraph/dshow_graph.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace vantrel::mediagraph {

namespace {

constexpr std::int64_t kNanosecondsPer100ns = 100;

// What a wait for a picture ended on.
enum class PrerollEvent { Unknown, Picture, EndOfStream, Error, TimedOut };

class CFrameGrabGraph : public CDShowGraph {
public:
    explicit CFrameGrabGraph(const std::string& fileName)
    {
        GstOwned<GstElement> grabber = makeElement("appsink", "Grabber");
        if (!grabber) throw GrabError{GrabFailure::CannotCreateGrabber, "the GStreamer element appsink is missing"};
        GstOwned<GstElement> source = makeElement("filesrc", "Source");
        if (!source) throw GrabError{GrabFailure::CannotCreateSource, "the GStreamer element filesrc is missing"};
        GstOwned<GstElement> decoder = makeElement("decodebin", "Decoder");
        GstOwned<GstElement> converter = makeElement("videoconvert", "Converter");
        if (!decoder || !converter) {
            throw GrabError{GrabFailure::CannotCreateGraph, "the GStreamer elements decodebin or videoconvert are missing"};
        }
        g_object_set(source.get(), "location", fileName.c_str(), nullptr);
        GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", nullptr));
        g_object_set(grabber.get(), "caps", caps.get(), "sync", FALSE, "enable-last-sample", FALSE, nullptr);

        m_source = AddElement(std::move(source));
        m_decoder = AddElement(std::move(decoder));
        m_converter = AddElement(std::move(converter));
        m_grabber = AddElement(std::move(grabber));
        Link(m_source, m_decoder);
        Link(m_converter, m_grabber);
        g_signal_connect(m_decoder, "pad-added", G_CALLBACK(&CFrameGrabGraph::onPadAdded), this);
        g_signal_connect(m_decoder, "no-more-pads", G_CALLBACK(&CFrameGrabGraph::onNoMorePads), this);

        GstAppSinkCallbacks callbacks{};
        callbacks.eos = &CFrameGrabGraph::onEndOfStream;
        callbacks.new_preroll = &CFrameGrabGraph::onPreroll;
        gst_app_sink_set_callbacks(GST_APP_SINK(m_grabber), &callbacks, this, nullptr);
    }

    ~CFrameGrabGraph() override
    {
        Stop();  // joins the streaming threads before the callbacks' object goes
        g_signal_handlers_disconnect_by_data(m_decoder, this);
    }

    // Forgets the events so far; the next wait waits for new ones.
    void expectNewPicture()
    {
        std::lock_guard lock(m_mutex);
        m_hasPicture = false;
        m_hasEnded = false;
    }

    PrerollEvent waitForPicture(std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        const bool isOver = m_arrived.wait_until(lock, deadline, [&] { return m_hasPicture || m_hasEnded || m_hasFailed; });
        if (m_hasFailed) return PrerollEvent::Error;
        if (m_hasPicture) return PrerollEvent::Picture;
        if (m_hasEnded) return PrerollEvent::EndOfStream;
        return isOver ? PrerollEvent::Unknown : PrerollEvent::TimedOut;
    }

    GstAppSink* grabber() const noexcept { return GST_APP_SINK(m_grabber); }

protected:
    void OnFirstError() noexcept override { signal(m_hasFailed); }

private:
    void signal(bool& flag) noexcept
    {
        {
            std::lock_guard lock(m_mutex);
            flag = true;
        }
        m_arrived.notify_all();
    }

    // Streaming thread: the first video stream goes to the converter; sound is left unlinked.
    static void onPadAdded(GstElement*, GstPad* pad, gpointer self)
    {
        auto* graph = static_cast<CFrameGrabGraph*>(self);
        GstMiniOwned<GstCaps> caps = adoptMini(gst_pad_get_current_caps(pad));
        if (!caps) caps = adoptMini(gst_pad_query_caps(pad, nullptr));
        const GstStructure* structure = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
        if (structure == nullptr || !g_str_has_prefix(gst_structure_get_name(structure), "video/")) return;
        GstOwned<GstPad> sink = adopt(gst_element_get_static_pad(graph->m_converter, "sink"));
        if (!gst_pad_is_linked(sink.get())) gst_pad_link(pad, sink.get());
    }

    static void onNoMorePads(GstElement*, gpointer self)
    {
        auto* graph = static_cast<CFrameGrabGraph*>(self);
        GstOwned<GstPad> sink = adopt(gst_element_get_static_pad(graph->m_converter, "sink"));
        if (!gst_pad_is_linked(sink.get())) {
            graph->RecordError(CDShowException(GraphErrorKind::Graph, "the file holds no video stream"));
        }
    }

    static GstFlowReturn onPreroll(GstAppSink*, gpointer self)
    {
        auto* graph = static_cast<CFrameGrabGraph*>(self);
        graph->signal(graph->m_hasPicture);
        return GST_FLOW_OK;
    }

    static void onEndOfStream(GstAppSink*, gpointer self)
    {
        auto* graph = static_cast<CFrameGrabGraph*>(self);
        graph->signal(graph->m_hasEnded);
    }

    GstElement* m_source = nullptr;     // owned by the pipeline
    GstElement* m_decoder = nullptr;
    GstElement* m_converter = nullptr;
    GstElement* m_grabber = nullptr;

    std::mutex m_mutex;                 // guards the flags: set on streaming threads, read by the grabbing thread
    std::condition_variable m_arrived;
    bool m_hasPicture = false;
    bool m_hasEnded = false;
    bool m_hasFailed = false;
};

std::string firstErrorText(const CDShowGraph& graph, const char* otherwise)
{
    const auto error = graph.FirstError();
    return error ? error->message() : otherwise;
}

Expected<DecodedPicture, GrabError> copyPicture(GstSample* sample)
{
    const GstStructure* structure = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int width = 0;
    int height = 0;
    if (structure == nullptr || !gst_structure_get_int(structure, "width", &width) ||
        !gst_structure_get_int(structure, "height", &height) || width <= 0 || height <= 0) {
        return unexpected(GrabError{GrabFailure::CannotConnect, "the decoded picture has no size"});
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample);  // transfer none
    MappedBuffer map(buffer, GST_MAP_READ);
    const std::size_t rowBytes = map ? map.size() / static_cast<std::size_t>(height) : 0;
    if (rowBytes < 3 * static_cast<std::size_t>(width)) {
        return unexpected(GrabError{GrabFailure::CannotConnect, "the decoded picture is shorter than its size says"});
    }
    DecodedPicture picture;
    picture.widthPixels = width;
    picture.heightPixels = height;
    picture.rowBytes = rowBytes;
    picture.position100ns = GST_BUFFER_PTS_IS_VALID(buffer)
                                ? static_cast<std::int64_t>(GST_BUFFER_PTS(buffer)) / kNanosecondsPer100ns
                                : -1;
    picture.bgr.assign(map.data(), map.data() + rowBytes * static_cast<std::size_t>(height));
    return picture;
}

// Reading the first bytes tells "cannot be opened" apart from "cannot be decoded" with the system's reason.
Expected<void, GrabError> checkReadable(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return unexpected(GrabError{GrabFailure::CannotLoadFile, std::strerror(errno)});
    char first = 0;
    const ssize_t got = ::read(fd, &first, 1);
    const int readError = errno;
    ::close(fd);
    if (got < 0) return unexpected(GrabError{GrabFailure::CannotLoadFile, std::strerror(readError)});
    if (got == 0) return unexpected(GrabError{GrabFailure::CannotConnect, "the file is empty"});
    return {};
}

Expected<DecodedPicture, GrabError> grabWith(CFrameGrabGraph& graph, std::int64_t position100ns,
                                             std::chrono::milliseconds waitLimit)
{
    const auto waitFor = [&](const char* what) -> Expected<void, GrabError> {
        switch (graph.waitForPicture(std::chrono::steady_clock::now() + waitLimit)) {
        case PrerollEvent::Picture: return {};
        case PrerollEvent::EndOfStream:
            return unexpected(GrabError{GrabFailure::CannotConnect, std::string("no picture ") + what});
        case PrerollEvent::Error:
            return unexpected(GrabError{GrabFailure::CannotConnect, firstErrorText(graph, "decoding failed")});
        case PrerollEvent::TimedOut:
        case PrerollEvent::Unknown: break;
        }
        return unexpected(GrabError{GrabFailure::CannotConnect, std::string("no picture came ") + what + " in time"});
    };

    graph.expectNewPicture();
    if (graph.Pause() == StateChangeResult::Failure) {
        return unexpected(GrabError{GrabFailure::CannotLoadFile, firstErrorText(graph, "the file cannot be read")});
    }
    if (auto first = waitFor("at the start of the file"); !first) return unexpected(first.error());
    graph.expectNewPicture();
    if (!graph.Seek(position100ns)) {
        return unexpected(GrabError{GrabFailure::CannotConnect, "the file cannot be searched for that time"});
    }
    if (auto atPosition = waitFor("at that time"); !atPosition) return unexpected(atPosition.error());
    GstMiniOwned<GstSample> sample = adoptMini(gst_app_sink_try_pull_preroll(graph.grabber(), 0));
    if (!sample) return unexpected(GrabError{GrabFailure::CannotConnect, "the prerolled picture went away"});
    return copyPicture(sample.get());
}

}  // namespace

Expected<DecodedPicture, GrabError> DecodePictureAt(const std::string& fileName, std::int64_t position100ns,
                                                     std::chrono::milliseconds waitLimit)
{
    if (position100ns < 0) return unexpected(GrabError{GrabFailure::CannotConnect, "a time before the start"});
    if (auto readable = checkReadable(fileName); !readable) return unexpected(readable.error());
    try {
        CFrameGrabGraph graph(fileName);
        return grabWith(graph, position100ns, waitLimit);
    } catch (const GrabError& error) {
        return unexpected(error);
    } catch (const CDShowException& error) {
        return unexpected(GrabError{GrabFailure::CannotCreateGraph, error.message()});
    }
}

}  // namespace vantrel::mediagraph
