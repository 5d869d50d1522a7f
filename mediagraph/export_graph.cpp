// SPDX-License-Identifier: GPL-3.0-or-later
// Encodes DV frames to H.264 video and AAC or Opus sound for a file meant for viewing.
//
// Design note. Frames come from our own AVI reader, not from a GStreamer demuxer: its frame
// numbers are the analysis store's (the burn-in text must be that frame's), it reads damaged and
// interrupted captures, and a frame it cannot read is left out with its number kept as a gap in
// the time stamps. The sound is decoded from the same frames by dv/ and pushed as PCM at the
// frame's own rate; audioresample evens out scenes recorded at 32 and 48 kHz. x264enc runs
// without B-frames so that decoding order is presentation order and the muxer needs no
// composition offsets.
#include "mediagraph/export_graph.h"

#include "dv/dv_audio.h"
#include "mediagraph/gst_handles.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>

namespace vantrel::mediagraph {

struct ExportGraph::State {
    ExportGraphOptions options;
    IEncodedSink* sink = nullptr;
    FrameHook hook;
    GstOwned<GstElement> pipeline;
    GstOwned<GstElement> videoIn;
    GstOwned<GstElement> audioIn;
    GstOwned<GstElement> videoOut;
    GstOwned<GstElement> audioOut;
    std::atomic<bool> isAborted{false};
    bool didSendVideoInfo = false;   // video streaming thread only
    bool didSendAudioInfo = false;   // audio streaming thread only
    std::uint32_t audioRateHz = 0;   // caller's thread only
    std::array<std::int16_t, dv::kMaxStereoSamplesPerFrame> pcm{};
    std::int64_t frameNs = 0;
};

namespace {

std::int64_t frameDurationNs(dv::VideoSystem system) noexcept
{
    return system == dv::VideoSystem::Pal625_50 ? 40'000'000 : 1'001'000'000 / 30;
}

std::int64_t frameStartNs(std::size_t frameIndex, dv::VideoSystem system) noexcept
{
    const auto i = static_cast<std::int64_t>(frameIndex);
    return system == dv::VideoSystem::Pal625_50 ? i * 40'000'000 : i * 1'001'000'000 / 30;
}

std::vector<std::byte> bufferBytes(GstBuffer* buffer)
{
    MappedBuffer map(buffer, GST_MAP_READ);
    if (!map) return {};
    return {map.bytes().begin(), map.bytes().end()};
}

// The codec set-up bytes of encoded caps: codec_data (H.264, AAC) or the first stream header (Opus).
std::vector<std::byte> codecDataOf(const GstStructure* s)
{
    if (const GValue* value = gst_structure_get_value(s, "codec_data"); value && GST_VALUE_HOLDS_BUFFER(value)) {
        return bufferBytes(gst_value_get_buffer(value));
    }
    if (const GValue* headers = gst_structure_get_value(s, "streamheader");
        headers && GST_VALUE_HOLDS_ARRAY(headers) && gst_value_array_get_size(headers) > 0) {
        const GValue* first = gst_value_array_get_value(headers, 0);
        if (GST_VALUE_HOLDS_BUFFER(first)) return bufferBytes(gst_value_get_buffer(first));
    }
    return {};
}

EncodedStreamInfo streamInfoOf(GstCaps* caps)
{
    EncodedStreamInfo info;
    if (caps == nullptr || gst_caps_get_size(caps) == 0) return info;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    info.codecData = codecDataOf(s);
    gst_structure_get_int(s, "width", &info.width);
    gst_structure_get_int(s, "height", &info.height);
    gst_structure_get_int(s, "rate", &info.sampleRateHz);
    gst_structure_get_int(s, "channels", &info.channels);
    return info;
}

// Time stamps as running time: encoders move their segment (x264enc by 1000 hours, so that
// decoding times never fall below zero) and stamp buffers in it.
std::int64_t runningTimeNs(const GstSegment* segment, GstClockTime stamp)
{
    if (!GST_CLOCK_TIME_IS_VALID(stamp)) return -1;
    if (segment == nullptr) return static_cast<std::int64_t>(stamp);
    const GstClockTime running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, stamp);
    return GST_CLOCK_TIME_IS_VALID(running) ? static_cast<std::int64_t>(running) : -1;
}

EncodedPacket packetOf(GstSample* sample, GstBuffer* buffer, const MappedBuffer& map)
{
    const GstSegment* segment = gst_sample_get_segment(sample);  // transfer none
    EncodedPacket packet;
    packet.bytes = map.bytes();
    packet.ptsNs = runningTimeNs(segment, GST_BUFFER_PTS(buffer));
    packet.dtsNs = GST_BUFFER_DTS_IS_VALID(buffer) ? runningTimeNs(segment, GST_BUFFER_DTS(buffer)) : packet.ptsNs;
    packet.durationNs =
        GST_BUFFER_DURATION_IS_VALID(buffer) ? static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer)) : 0;
    packet.isKeyFrame = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
    return packet;
}

GstFlowReturn onVideoSample(GstAppSink* appSink, gpointer data)
{
    auto* state = static_cast<ExportGraph::State*>(data);
    auto sample = adoptMini(gst_app_sink_pull_sample(appSink));  // transfer full
    if (!sample) return GST_FLOW_EOS;
    if (state->isAborted.load(std::memory_order_acquire)) return GST_FLOW_FLUSHING;
    if (!state->didSendVideoInfo) {
        state->sink->videoStreamReady(streamInfoOf(gst_sample_get_caps(sample.get())));
        state->didSendVideoInfo = true;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());  // transfer none
    MappedBuffer map(buffer, GST_MAP_READ);
    if (!map) return GST_FLOW_ERROR;
    state->sink->videoPacket(packetOf(sample.get(), buffer, map));
    return GST_FLOW_OK;
}

GstFlowReturn onAudioSample(GstAppSink* appSink, gpointer data)
{
    auto* state = static_cast<ExportGraph::State*>(data);
    auto sample = adoptMini(gst_app_sink_pull_sample(appSink));
    if (!sample) return GST_FLOW_EOS;
    if (state->isAborted.load(std::memory_order_acquire)) return GST_FLOW_FLUSHING;
    if (!state->didSendAudioInfo) {
        state->sink->audioStreamReady(streamInfoOf(gst_sample_get_caps(sample.get())));
        state->didSendAudioInfo = true;
    }
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    MappedBuffer map(buffer, GST_MAP_READ);
    if (!map) return GST_FLOW_ERROR;
    state->sink->audioPacket(packetOf(sample.get(), buffer, map));
    return GST_FLOW_OK;
}

// Hands each decoded picture to the hook, made writable first (the decoder may keep a reference).
GstPadProbeReturn onDecodedPicture(GstPad* pad, GstPadProbeInfo* info, gpointer data)
{
    auto* state = static_cast<ExportGraph::State*>(data);
    GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    auto caps = adoptMini(gst_pad_get_current_caps(pad));
    const GstStructure* s = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    int width = 0;
    int height = 0;
    if (s == nullptr || !gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height)) {
        return GST_PAD_PROBE_OK;
    }
    MappedBuffer map(buffer, GST_MAP_READWRITE);
    if (!map || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_PAD_PROBE_OK;
    const auto pts = static_cast<std::int64_t>(GST_BUFFER_PTS(buffer));
    const auto frameIndex = static_cast<std::size_t>((pts + state->frameNs / 2) / state->frameNs);
    const int stride = (width * 3 + 3) & ~3;  // GStreamer's default row alignment for packed 24-bit
    if (map.size() < static_cast<std::size_t>(stride) * static_cast<std::size_t>(height)) return GST_PAD_PROBE_OK;
    state->hook(frameIndex, RawPicture{map.data(), width, height, stride});
    return GST_PAD_PROBE_OK;
}

std::string describeLaunch(const ExportGraphOptions& o)
{
    const bool isPal = o.system == dv::VideoSystem::Pal625_50;
    const int height = isPal ? 576 : 480;
    const char* rate = isPal ? "25/1" : "30000/1001";
    const std::size_t frameBytes = dv::frameBytes(o.system);
    char video[1024];
    std::snprintf(video, sizeof video,
                  "appsrc name=video_in format=time block=true max-bytes=%zu "
                  "caps=video/x-dv,systemstream=false,width=720,height=%d,framerate=%s ! "
                  "avdec_dvvideo ! %s videoconvert ! %s "
                  "x264enc name=encoder bframes=0 pass=qual quantizer=%d speed-preset=%s ! "
                  "h264parse ! video/x-h264,stream-format=avc,alignment=au ! "
                  "appsink name=video_out sync=false async=false ",
                  frameBytes * 8, height, rate, o.deinterlace ? "avdeinterlace !" : "",
                  o.hasFrameHook ? "video/x-raw,format=BGR ! identity name=burn_in ! videoconvert ! "
                                   "video/x-raw,format=I420 !"
                                 : "video/x-raw,format=I420 !",
                  o.crf, o.speedPreset.c_str());
    const char* encoder = o.audioCodec == ExportAudioCodec::Opus ? "opusenc" : "avenc_aac";
    char audio[512];
    std::snprintf(audio, sizeof audio,
                  "appsrc name=audio_in format=time block=true max-bytes=%zu "
                  "caps=audio/x-raw,format=S16LE,layout=interleaved,channels=2,rate=48000 ! "
                  "audioconvert ! audioresample ! audio/x-raw,rate=48000,channels=2 ! %s ! "
                  "appsink name=audio_out sync=false async=false",
                  dv::kMaxStereoSamplesPerFrame * 2 * 8, encoder);
    return std::string(video) + audio;
}

GstOwned<GstElement> childByName(GstElement* bin, const char* name)
{
    return adopt(gst_bin_get_by_name(GST_BIN(bin), name));  // transfer full
}

}  // namespace

ExportGraph::ExportGraph(std::unique_ptr<State> state) : m_state(std::move(state)) {}

ExportGraph::~ExportGraph()
{
    if (m_state && m_state->pipeline) {
        m_state->isAborted.store(true, std::memory_order_release);
        gst_element_set_state(m_state->pipeline.get(), GST_STATE_NULL);
    }
}

std::unique_ptr<ExportGraph> ExportGraph::create(const ExportGraphOptions& options, IEncodedSink& sink,
                                                 FrameHook hook, std::string& error)
{
    gst_init(nullptr, nullptr);
    for (const char* factory : {"x264enc", "avdec_dvvideo", "h264parse",
                                options.audioCodec == ExportAudioCodec::Opus ? "opusenc" : "avenc_aac"}) {
        if (auto probe = adopt(gst_element_factory_find(factory)); !probe) {
            error = std::string("the GStreamer element ") + factory + " is not installed" +
                    (std::string(factory) == "x264enc" ? " (gstreamer1.0-plugins-ugly)" : "");
            return nullptr;
        }
    }
    auto state = std::make_unique<State>();
    state->options = options;
    state->options.hasFrameHook = static_cast<bool>(hook);
    state->sink = &sink;
    state->hook = std::move(hook);
    state->frameNs = frameDurationNs(options.system);
    g_autoptr(GError) parseError = nullptr;
    GstElement* launched = gst_parse_launch(describeLaunch(state->options).c_str(), &parseError);
    if (launched == nullptr || parseError != nullptr) {
        error = std::string("cannot build the encoding graph: ") + (parseError ? parseError->message : "unknown");
        if (launched) gst_object_unref(launched);
        return nullptr;
    }
    if (g_object_is_floating(launched)) gst_object_ref_sink(launched);  // one owned reference either way
    state->pipeline = adopt(launched);
    state->videoIn = childByName(state->pipeline.get(), "video_in");
    state->audioIn = childByName(state->pipeline.get(), "audio_in");
    state->videoOut = childByName(state->pipeline.get(), "video_out");
    state->audioOut = childByName(state->pipeline.get(), "audio_out");

    GstAppSinkCallbacks videoCallbacks{};
    videoCallbacks.new_sample = onVideoSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(state->videoOut.get()), &videoCallbacks, state.get(), nullptr);
    GstAppSinkCallbacks audioCallbacks{};
    audioCallbacks.new_sample = onAudioSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(state->audioOut.get()), &audioCallbacks, state.get(), nullptr);
    if (state->hook) {
        auto burnIn = childByName(state->pipeline.get(), "burn_in");
        auto pad = adopt(gst_element_get_static_pad(burnIn.get(), "src"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, onDecodedPicture, state.get(), nullptr);
    }
    if (gst_element_set_state(state->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        error = "cannot start the encoding graph";
        gst_element_set_state(state->pipeline.get(), GST_STATE_NULL);
        return nullptr;
    }
    return std::unique_ptr<ExportGraph>(new ExportGraph(std::move(state)));
}

bool ExportGraph::pushFrame(std::size_t frameIndex, std::span<const std::byte> difFrame)
{
    State& s = *m_state;
    const std::int64_t pts = frameStartNs(frameIndex, s.options.system);
    const std::int64_t duration = frameStartNs(frameIndex + 1, s.options.system) - pts;

    // The sound first: a full video queue must not starve the audio encoder of its share.
    std::size_t samples = 0;
    std::uint32_t rateHz = s.audioRateHz == 0 ? 48000 : s.audioRateHz;
    if (const auto decoded = dv::decodeAudio(difFrame, s.options.system, s.pcm)) {
        samples = decoded.value().format.samplesPerChannel;
        rateHz = decoded.value().format.sampleRateHz;
    } else {
        // A frame without readable sound keeps the sound's timing with silence.
        samples = dv::nominalAudioSamples(s.options.system, rateHz, frameIndex);
        std::fill_n(s.pcm.begin(), 2 * samples, std::int16_t{0});
    }
    if (rateHz != s.audioRateHz) {
        auto caps = adoptMini(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING, "S16LE", "layout",
                                                  G_TYPE_STRING, "interleaved", "channels", G_TYPE_INT, 2, "rate",
                                                  G_TYPE_INT, static_cast<int>(rateHz), nullptr));
        gst_app_src_set_caps(GST_APP_SRC(s.audioIn.get()), caps.get());
        s.audioRateHz = rateHz;
    }
    GstBuffer* audio = gst_buffer_new_memdup(s.pcm.data(), samples * 2 * sizeof(std::int16_t));
    GST_BUFFER_PTS(audio) = static_cast<GstClockTime>(pts);
    GST_BUFFER_DURATION(audio) = static_cast<GstClockTime>(duration);
    if (gst_app_src_push_buffer(GST_APP_SRC(s.audioIn.get()), audio) != GST_FLOW_OK) return false;  // takes it

    GstBuffer* video = gst_buffer_new_memdup(difFrame.data(), difFrame.size());
    GST_BUFFER_PTS(video) = static_cast<GstClockTime>(pts);
    GST_BUFFER_DURATION(video) = static_cast<GstClockTime>(duration);
    if (gst_app_src_push_buffer(GST_APP_SRC(s.videoIn.get()), video) != GST_FLOW_OK) return false;

    auto bus = adopt(gst_element_get_bus(s.pipeline.get()));
    return !gst_bus_have_pending(bus.get()) ||
           adoptMini(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)) == nullptr;
}

bool ExportGraph::finish(std::string& error)
{
    State& s = *m_state;
    gst_app_src_end_of_stream(GST_APP_SRC(s.videoIn.get()));
    gst_app_src_end_of_stream(GST_APP_SRC(s.audioIn.get()));
    auto bus = adopt(gst_element_get_bus(s.pipeline.get()));
    // The pipeline posts EOS once both sinks have had theirs; an error ends the wait too.
    auto message = adoptMini(gst_bus_timed_pop_filtered(
        bus.get(), GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    bool isDone = message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    if (message && !isDone) {
        g_autoptr(GError) gerror = nullptr;
        g_autofree gchar* debug = nullptr;
        gst_message_parse_error(message.get(), &gerror, &debug);
        error = gerror ? gerror->message : "the encoding graph failed";
    }
    gst_element_set_state(s.pipeline.get(), GST_STATE_NULL);
    return isDone;
}

void ExportGraph::abort()
{
    m_state->isAborted.store(true, std::memory_order_release);
    gst_element_set_state(m_state->pipeline.get(), GST_STATE_NULL);
}

}  // namespace vantrel::mediagraph
