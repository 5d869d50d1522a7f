// SPDX-License-Identifier: GPL-3.0-or-later
// Runs videotestsrc ! avenc_dvvideo ! appsink once and keeps the encoded frames.
#include "tools/dvgen/picture_encoder.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

#include <cstring>
#include <memory>

namespace vantrel::dvgen {
namespace {

struct ElementUnref {
    void operator()(GstElement* e) const noexcept
    {
        gst_element_set_state(e, GST_STATE_NULL);
        gst_object_unref(e);
    }
};
struct SampleUnref {
    void operator()(GstSample* s) const noexcept { gst_sample_unref(s); }
};

bool isKnownPatternName(const std::string& pattern)
{
    // The name goes into a pipeline description: letters, digits and '-' only.
    if (pattern.empty()) return false;
    for (char c : pattern) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    }
    return true;
}

}  // namespace

Expected<std::vector<std::vector<std::byte>>, std::string> encodeTestPictures(dv::VideoSystem system,
                                                                            const std::string& pattern, int count)
{
    using Result = Expected<std::vector<std::vector<std::byte>>, std::string>;
    if (count < 1 || count > 1000) return unexpected(std::string("picture count must be 1 to 1000"));
    if (!isKnownPatternName(pattern)) return unexpected("bad test pattern name \"" + pattern + "\"");
    if (!gst_is_initialized()) gst_init(nullptr, nullptr);

    const bool isPal = system == dv::VideoSystem::Pal625_50;
    const std::string description =
        "videotestsrc pattern=" + pattern + " num-buffers=" + std::to_string(count) +
        (isPal ? " ! video/x-raw,format=I420,width=720,height=576,framerate=25/1"
               : " ! video/x-raw,format=Y41B,width=720,height=480,framerate=30000/1001") +
        " ! avenc_dvvideo ! appsink name=sink sync=false";
    GError* error = nullptr;
    std::unique_ptr<GstElement, ElementUnref> pipeline{gst_parse_launch(description.c_str(), &error)};
    if (error != nullptr) {
        std::string message = "cannot build the DV encoding pipeline: ";
        message += error->message;
        g_error_free(error);
        return unexpected(message);
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline.get()), "sink");
    if (sink == nullptr) return unexpected(std::string("DV encoding pipeline has no sink"));
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        gst_object_unref(sink);
        return unexpected(std::string("DV encoding pipeline does not start (is gstreamer1.0-libav installed?)"));
    }

    const std::size_t frameBytes = dv::frameBytes(system);
    std::vector<std::vector<std::byte>> frames;
    frames.reserve(static_cast<std::size_t>(count));
    std::string failure;
    while (frames.size() < static_cast<std::size_t>(count)) {
        std::unique_ptr<GstSample, SampleUnref> sample{gst_app_sink_pull_sample(GST_APP_SINK(sink))};
        if (!sample) break;  // end of stream or error
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        GstMapInfo map;
        if (buffer == nullptr || !gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            failure = "cannot read an encoded DV frame";
            break;
        }
        if (map.size != frameBytes) {
            failure = "the DV encoder made a frame of " + std::to_string(map.size) + " bytes, not " +
                      std::to_string(frameBytes);
        } else {
            std::vector<std::byte>& frame = frames.emplace_back(frameBytes);
            std::memcpy(frame.data(), map.data, frameBytes);
        }
        gst_buffer_unmap(buffer, &map);
        if (!failure.empty()) break;
    }
    gst_object_unref(sink);
    if (failure.empty() && frames.size() != static_cast<std::size_t>(count)) {
        failure = "the DV encoder stopped after " + std::to_string(frames.size()) + " of " + std::to_string(count) +
                  " pictures";
    }
    if (!failure.empty()) return unexpected(failure);
    return Result{std::move(frames)};
}

}  // namespace vantrel::dvgen
