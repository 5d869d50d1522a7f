// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the encoded streams into MP4 or Matroska with a date subtitle stream and chapters.
#include "mediagraph/export_muxer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <mutex>

namespace vantrel::mediagraph {
namespace {

constexpr AVRational kNanoseconds{1, 1'000'000'000};
constexpr AVRational kMilliseconds{1, 1000};

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

struct PendingPacket {
    bool isVideo = false;
    std::vector<std::byte> bytes;
    EncodedPacket packet;
};

}  // namespace

struct ExportMuxer::State {
    ExportMuxerOptions options;
    std::mutex mutex;              // guards everything below: both streaming threads write
    AVFormatContext* context = nullptr;
    AVStream* video = nullptr;
    AVStream* audio = nullptr;
    AVStream* subtitle = nullptr;
    bool isVideoReady = false;
    bool isAudioReady = false;
    bool didWriteHeader = false;
    std::deque<PendingPacket> pending;
    std::size_t nextSubtitle = 0;
    std::uint64_t videoPackets = 0;
    std::string error;             // the first failure

    ~State()
    {
        if (context == nullptr) return;
        if (context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }

    void fail(const std::string& what)
    {
        if (error.empty()) error = what;
    }

    void setExtradata(AVStream* stream, const std::vector<std::byte>& bytes)
    {
        if (bytes.empty()) return;
        auto* data = static_cast<std::uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        std::memcpy(data, bytes.data(), bytes.size());
        stream->codecpar->extradata = data;
        stream->codecpar->extradata_size = static_cast<int>(bytes.size());
    }

    void writeHeaderWhenReady()
    {
        if (didWriteHeader || !isVideoReady || (options.hasAudio && !isAudioReady)) return;
        AVDictionary* settings = nullptr;
        const int result = avformat_write_header(context, &settings);
        av_dict_free(&settings);
        if (result < 0) {
            fail("cannot write the file header: " + avErrorText(result));
            return;
        }
        didWriteHeader = true;
        while (!pending.empty()) {
            PendingPacket next = std::move(pending.front());
            pending.pop_front();
            next.packet.bytes = next.bytes;
            write(next.isVideo ? video : audio, next.packet);
        }
    }

    void write(AVStream* stream, const EncodedPacket& in)
    {
        if (!error.empty()) return;
        AVPacket* packet = av_packet_alloc();
        if (av_new_packet(packet, static_cast<int>(in.bytes.size())) < 0) {
            av_packet_free(&packet);
            fail("out of memory");
            return;
        }
        std::memcpy(packet->data, in.bytes.data(), in.bytes.size());
        packet->stream_index = stream->index;
        packet->pts = in.ptsNs < 0 ? AV_NOPTS_VALUE : av_rescale_q(in.ptsNs, kNanoseconds, stream->time_base);
        packet->dts = in.dtsNs < 0 ? packet->pts : av_rescale_q(in.dtsNs, kNanoseconds, stream->time_base);
        packet->duration = av_rescale_q(in.durationNs, kNanoseconds, stream->time_base);
        if (in.isKeyFrame) packet->flags |= AV_PKT_FLAG_KEY;
        const int result = av_interleaved_write_frame(context, packet);  // takes the packet's data
        av_packet_free(&packet);
        if (result < 0) fail("cannot write a packet: " + avErrorText(result));
    }

    // The cues that start before `untilMs`, in order, ahead of the picture that reaches them.
    void writeSubtitlesUntil(std::int64_t untilMs)
    {
        if (subtitle == nullptr) return;
        while (nextSubtitle < options.subtitles.size() && options.subtitles[nextSubtitle].startMs < untilMs &&
               error.empty()) {
            const MuxerSubtitle& cue = options.subtitles[nextSubtitle++];
            std::vector<std::byte> bytes;
            if (options.format == ContainerFormat::Mp4) {
                // A 3GPP timed-text sample: a 16-bit big-endian length, then the UTF-8 text.
                bytes.push_back(std::byte(static_cast<std::uint8_t>(cue.text.size() >> 8)));
                bytes.push_back(std::byte(static_cast<std::uint8_t>(cue.text.size())));
            }
            for (char c : cue.text) bytes.push_back(std::byte(static_cast<std::uint8_t>(c)));
            EncodedPacket packet;
            packet.bytes = bytes;
            packet.ptsNs = cue.startMs * 1'000'000;
            packet.dtsNs = packet.ptsNs;
            packet.durationNs = (cue.endMs - cue.startMs) * 1'000'000;
            packet.isKeyFrame = true;
            write(subtitle, packet);
        }
    }

    void take(bool isVideo, const EncodedPacket& packet)
    {
        if (!didWriteHeader) {
            PendingPacket copy{isVideo, {packet.bytes.begin(), packet.bytes.end()}, packet};
            pending.push_back(std::move(copy));
            return;
        }
        if (isVideo) {
            writeSubtitlesUntil(packet.ptsNs / 1'000'000 + 1);
            ++videoPackets;
        }
        write(isVideo ? video : audio, packet);
    }
};

ContainerFormat containerFormatOf(const std::string& path) noexcept
{
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos) return ContainerFormat::Unknown;
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".mp4" || extension == ".m4v") return ContainerFormat::Mp4;
    if (extension == ".mkv") return ContainerFormat::Matroska;
    return ContainerFormat::Unknown;
}

ExportMuxer::ExportMuxer(std::unique_ptr<State> state) : m_state(std::move(state)) {}
ExportMuxer::~ExportMuxer() = default;

std::unique_ptr<ExportMuxer> ExportMuxer::open(const std::string& path, const ExportMuxerOptions& options,
                                               std::string& error)
{
    auto state = std::make_unique<State>();
    state->options = options;
    const char* formatName = options.format == ContainerFormat::Mp4 ? "mp4" : "matroska";
    int result = avformat_alloc_output_context2(&state->context, nullptr, formatName, path.c_str());
    if (result < 0 || state->context == nullptr) {
        error = "cannot set up the " + std::string(formatName) + " writer: " + avErrorText(result);
        return nullptr;
    }
    AVFormatContext* context = state->context;
    state->video = avformat_new_stream(context, nullptr);
    state->video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    state->video->codecpar->codec_id = AV_CODEC_ID_H264;
    state->video->time_base = AVRational{options.frameRateDen, options.frameRateNum * 100};
    state->video->avg_frame_rate = AVRational{options.frameRateNum, options.frameRateDen};
    state->video->sample_aspect_ratio = AVRational{options.pixelAspectNum, options.pixelAspectDen};
    state->video->codecpar->sample_aspect_ratio = state->video->sample_aspect_ratio;
    if (options.hasAudio) {
        state->audio = avformat_new_stream(context, nullptr);
        state->audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
        state->audio->time_base = AVRational{1, 48000};
    }
    if (options.hasSubtitles) {
        state->subtitle = avformat_new_stream(context, nullptr);
        state->subtitle->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
        state->subtitle->codecpar->codec_id =
            options.format == ContainerFormat::Mp4 ? AV_CODEC_ID_MOV_TEXT : AV_CODEC_ID_SUBRIP;
        state->subtitle->time_base = kMilliseconds;
        av_dict_set(&state->subtitle->metadata, "language", options.subtitleLanguage.c_str(), 0);
        av_dict_set(&state->subtitle->metadata, "title", "Recording date", 0);
    }
    if (!options.chapters.empty()) {
        const auto count = options.chapters.size();
        context->chapters = static_cast<AVChapter**>(av_calloc(count, sizeof(AVChapter*)));
        for (std::size_t i = 0; i < count; ++i) {
            auto* chapter = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
            chapter->id = static_cast<std::int64_t>(i + 1);
            chapter->time_base = kMilliseconds;
            chapter->start = options.chapters[i].startMs;
            chapter->end = options.chapters[i].endMs;
            av_dict_set(&chapter->metadata, "title", options.chapters[i].title.c_str(), 0);
            context->chapters[i] = chapter;
            context->nb_chapters = static_cast<unsigned>(i + 1);
        }
    }
    result = avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (result < 0) {
        error = "cannot write " + path + ": " + avErrorText(result);
        return nullptr;
    }
    return std::unique_ptr<ExportMuxer>(new ExportMuxer(std::move(state)));
}

void ExportMuxer::videoStreamReady(const EncodedStreamInfo& info)
{
    std::lock_guard lock(m_state->mutex);
    AVCodecParameters* p = m_state->video->codecpar;
    p->width = info.width;
    p->height = info.height;
    m_state->setExtradata(m_state->video, info.codecData);
    m_state->isVideoReady = true;
    m_state->writeHeaderWhenReady();
}

void ExportMuxer::audioStreamReady(const EncodedStreamInfo& info)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->audio == nullptr) return;
    AVCodecParameters* p = m_state->audio->codecpar;
    // Opus set-up bytes begin "OpusHead"; AAC's AudioSpecificConfig is a few bits long.
    const bool isOpus = info.codecData.size() >= 8 &&
                        std::memcmp(info.codecData.data(), "OpusHead", 8) == 0;
    p->codec_id = isOpus ? AV_CODEC_ID_OPUS : AV_CODEC_ID_AAC;
    p->sample_rate = info.sampleRateHz;
    av_channel_layout_default(&p->ch_layout, info.channels > 0 ? info.channels : 2);
    if (isOpus) p->initial_padding = 312;  // opusenc's look-ahead at 48 kHz
    m_state->setExtradata(m_state->audio, info.codecData);
    m_state->isAudioReady = true;
    m_state->writeHeaderWhenReady();
}

void ExportMuxer::videoPacket(const EncodedPacket& packet)
{
    std::lock_guard lock(m_state->mutex);
    m_state->take(true, packet);
}

void ExportMuxer::audioPacket(const EncodedPacket& packet)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->audio != nullptr) m_state->take(false, packet);
}

std::uint64_t ExportMuxer::videoPacketsWritten() const noexcept
{
    std::lock_guard lock(m_state->mutex);
    return m_state->videoPackets;
}

bool ExportMuxer::finish(std::string& error)
{
    std::lock_guard lock(m_state->mutex);
    State& s = *m_state;
    if (!s.didWriteHeader && s.error.empty()) s.fail("no picture was encoded");
    if (s.error.empty()) {
        s.writeSubtitlesUntil(INT64_MAX);
        const int result = av_write_trailer(s.context);
        if (result < 0) s.fail("cannot finish the file: " + avErrorText(result));
    }
    if (s.context->pb) {
        if (avio_closep(&s.context->pb) < 0) s.fail("cannot close the file");
    }
    error = s.error;
    return s.error.empty();
}

}  // namespace vantrel::mediagraph
