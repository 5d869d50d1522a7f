// SPDX-License-Identifier: GPL-3.0-or-later
// Encodes DV frames to H.264 video and AAC or Opus sound for a file meant for viewing.
#pragma once

#include "dv/dif_layout.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantrel::mediagraph {

enum class ExportAudioCodec { Unknown, Aac, Opus };

struct ExportGraphOptions {
    dv::VideoSystem system = dv::VideoSystem::Unknown;
    ExportAudioCodec audioCodec = ExportAudioCodec::Aac;
    bool deinterlace = false;
    int crf = 20;                        // x264 quality: lower is better and larger
    std::string speedPreset = "veryfast";
    bool hasFrameHook = false;           // decode to BGR for the hook; otherwise straight to the encoder
};

// A 24-bit picture of one decoded frame, top-down rows of BGR, writable in place.
struct RawPicture {
    std::byte* bgr = nullptr;
    int width = 0;
    int height = 0;
    int strideBytes = 0;
};

// One encoded unit: an H.264 access unit or a block of compressed sound.
struct EncodedPacket {
    std::span<const std::byte> bytes;
    std::int64_t ptsNs = 0;
    std::int64_t dtsNs = 0;
    std::int64_t durationNs = 0;
    bool isKeyFrame = false;
};

// What the encoders tell once their output caps are known: the muxer's stream headers.
struct EncodedStreamInfo {
    std::vector<std::byte> codecData;    // avcC for H.264, AudioSpecificConfig for AAC, OpusHead for Opus
    int width = 0;
    int height = 0;
    int sampleRateHz = 0;
    int channels = 0;
};

// The receiving end, called on GStreamer's streaming threads (one per stream; never two calls
// of one stream at once). Calls of the video and sound streams may overlap.
class IEncodedSink {
public:
    virtual void videoStreamReady(const EncodedStreamInfo& info) = 0;
    virtual void audioStreamReady(const EncodedStreamInfo& info) = 0;
    virtual void videoPacket(const EncodedPacket& packet) = 0;
    virtual void audioPacket(const EncodedPacket& packet) = 0;

protected:
    ~IEncodedSink() = default;
};

// Called for every decoded picture before it is encoded, on the video streaming thread:
// the higher layer draws its burn-in into the picture. frameIndex is the tape's frame number.
using FrameHook = std::function<void(std::size_t frameIndex, const RawPicture& picture)>;

// appsrc (DV frames) → avdec_dvvideo → [avdeinterlace] → videoconvert → x264enc → appsink, and
// appsrc (PCM decoded from the same frames) → audioresample → avenc_aac | opusenc → appsink.
// The caller pushes frames with their tape frame numbers (gaps where frames were unreadable),
// then finish(); push blocks while the encoders are behind.
class ExportGraph {
public:
    // Fails with a text when an element is missing (x264enc lives in gstreamer1.0-plugins-ugly).
    static std::unique_ptr<ExportGraph> create(const ExportGraphOptions& options, IEncodedSink& sink, FrameHook hook,
                                               std::string& error);
    ~ExportGraph();
    ExportGraph(const ExportGraph&) = delete;
    ExportGraph& operator=(const ExportGraph&) = delete;

    // One whole DV frame, frame number `frameIndex` of the tape. False once the graph failed.
    bool pushFrame(std::size_t frameIndex, std::span<const std::byte> difFrame);
    // Ends both streams and waits until every packet reached the sink. False with the graph's
    // error text when it failed.
    bool finish(std::string& error);
    // Stops at once; nothing more reaches the sink.
    void abort();

    struct State;

private:
    explicit ExportGraph(std::unique_ptr<State> state);
    std::unique_ptr<State> m_state;
};

}  // namespace vantrel::mediagraph
