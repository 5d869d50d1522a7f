// SPDX-License-Identifier: GPL-3.0-or-later
// The player's graph: playbin playing one file, its pictures handed to the window, its sound to the sound card.
#include "mediagraph/playback_graph.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video-info.h>

#include <filesystem>

namespace vantrel::mediagraph {
namespace {

// playbin flags: video | audio | soft-volume. The default adds deinterlacing, which doubles DV
// to 50 pictures a second and makes a step move one field.
constexpr guint kPlayFlags = 0x13;

GstOwned<GstElement> makeVideoSink()
{
    GstOwned<GstElement> sink = makeElement("appsink", "VideoRenderer");
    if (!sink)
        ThrowGraphError("no element \"appsink\"");
    GstMiniOwned<GstCaps> caps = adoptMini(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(sink.get(), "caps", caps.get(), "max-buffers", 2u, "drop", TRUE, "sync", TRUE, nullptr);
    return sink;
}

GstOwned<GstElement> makeAudioSink(AudioOutput audio)
{
    if (audio == AudioOutput::SoundCard) {
        if (GstOwned<GstElement> sink = makeElement("autoaudiosink", "SoundRenderer")) return sink;
    }
    if (GstOwned<GstElement> sink = makeElement("fakeaudiosink", "SoundRenderer")) return sink;
    // Without sync a fake sink lets the position run ahead and a pause never completes.
    GstOwned<GstElement> sink = makeElement("fakesink", "SoundRenderer");
    if (!sink)
        ThrowGraphError("no element \"fakesink\"");
    g_object_set(sink.get(), "sync", TRUE, nullptr);
    return sink;
}

std::string fileUri(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    g_autoptr(GError) uriError = nullptr;
    g_autofree gchar* uri = gst_filename_to_uri((error ? path : absolute.string()).c_str(), &uriError);
    if (uri == nullptr)
        ThrowGraphError(uriError != nullptr ? uriError->message : "bad file name");
    return uri;
}

}  // namespace

VideoPicture::VideoPicture(GstMiniOwned<GstSample> sample) : m_sample(std::move(sample))
{
    GstBuffer* buffer = gst_sample_get_buffer(m_sample.get());  // transfer none
    GstCaps* caps = gst_sample_get_caps(m_sample.get());        // transfer none
    GstVideoInfo info;
    if (buffer == nullptr || caps == nullptr || !gst_video_info_from_caps(&info, caps))
        return;
    m_width = GST_VIDEO_INFO_WIDTH(&info);
    m_height = GST_VIDEO_INFO_HEIGHT(&info);
    m_stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    if (GST_BUFFER_PTS_IS_VALID(buffer))
        m_position100ns = static_cast<std::int64_t>(GST_BUFFER_PTS(buffer) / 100);
    m_isMapped = gst_buffer_map(buffer, &m_map, GST_MAP_READ);
    if (m_isMapped && m_map.size < static_cast<gsize>(m_stride) * static_cast<gsize>(m_height)) {
        gst_buffer_unmap(buffer, &m_map);
        m_isMapped = false;
    }
}

VideoPicture::~VideoPicture()
{
    if (m_isMapped)
        gst_buffer_unmap(gst_sample_get_buffer(m_sample.get()), &m_map);
}

bool hasSoundCard()
{
    std::error_code error;
    return std::filesystem::exists("/proc/asound/pcm", error) && std::filesystem::exists("/dev/snd", error);
}

CPlaybackGraph::CPlaybackGraph(const std::string& path, AudioOutput audio, PictureNotifier onPicture)
    : CDShowGraph("playbin"), m_onPicture(std::move(onPicture))
{
    GstElement* playbin = GST_ELEMENT(pipeline());
    GstOwned<GstElement> videoSink = makeVideoSink();
    GstOwned<GstElement> audioSink = makeAudioSink(audio);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* sink, gpointer self) { return onNewSample(GST_ELEMENT(sink), self); };
    callbacks.new_preroll = [](GstAppSink* sink, gpointer self) { return onNewPreroll(GST_ELEMENT(sink), self); };
    gst_app_sink_set_callbacks(GST_APP_SINK(videoSink.get()), &callbacks, this, nullptr);
    const std::string uri = fileUri(path);
    // playbin takes its own references of the sinks (floating ones were sunk by makeElement).
    g_object_set(playbin, "uri", uri.c_str(), "flags", kPlayFlags, "video-sink", videoSink.get(), "audio-sink",
                 audioSink.get(), nullptr);
    if (Pause() == StateChangeResult::Failure) {
        std::string error;
        if (openProgress(&error) != OpenProgress::Failed)
            RecordError(CDShowException(GraphErrorKind::Graph, "cannot pause the graph"));
    }
}

CPlaybackGraph::~CPlaybackGraph()
{
    Stop();  // joins the streaming threads before the callbacks' target goes away
}

OpenProgress CPlaybackGraph::openProgress(std::string* error)
{
    if (const std::optional<CDShowException> failure = FirstError()) {
        if (error != nullptr)
            *error = failure->message();
        return OpenProgress::Failed;
    }
    if (m_pictureCount.load() > 0)
        return OpenProgress::Ready;
    GraphState state = GraphState::Invalid;
    const StateChangeResult result = GetState(std::chrono::milliseconds(0), &state);
    if (result == StateChangeResult::Success && state != GraphState::Stopped)
        return OpenProgress::Ready;  // prerolled without a picture: sound only
    return OpenProgress::Pending;
}

std::shared_ptr<const VideoPicture> CPlaybackGraph::latestPicture() const
{
    std::lock_guard lock(m_pictureMutex);
    return m_latest;
}

GstFlowReturn CPlaybackGraph::onNewSample(GstElement* sink, gpointer self)
{
    static_cast<CPlaybackGraph*>(self)->keepSample(adoptMini(gst_app_sink_pull_sample(GST_APP_SINK(sink))));
    return GST_FLOW_OK;
}

GstFlowReturn CPlaybackGraph::onNewPreroll(GstElement* sink, gpointer self)
{
    static_cast<CPlaybackGraph*>(self)->keepSample(adoptMini(gst_app_sink_pull_preroll(GST_APP_SINK(sink))));
    return GST_FLOW_OK;
}

void CPlaybackGraph::keepSample(GstMiniOwned<GstSample> sample)
{
    if (!sample)
        return;
    auto picture = std::make_shared<const VideoPicture>(std::move(sample));
    if (!picture->isValid())
        return;
    {
        std::lock_guard lock(m_pictureMutex);
        m_latest = std::move(picture);
    }
    m_pictureCount.fetch_add(1);
    if (m_onPicture)
        m_onPicture();
}

}  // namespace vantrel::mediagraph
