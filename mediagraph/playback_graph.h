// SPDX-License-Identifier: GPL-3.0-or-later
// The player's graph: playbin playing one file, its pictures handed to the window, its sound to the sound card.
//
// Design note. Building is asynchronous: the constructor sets the file and asks for PAUSED, so
// the GUI thread never waits for the plugins to load or the file to preroll; openProgress() tells
// when the first picture is there or the graph failed. Both appsink callbacks keep the newest
// sample (after a paused seek or a step the picture arrives as preroll), and the picture
// callback tells the owner on the streaming thread that a new one is there.
#pragma once

#include "mediagraph/dshow_graph.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel::mediagraph {

// One decoded picture, 4 bytes a pixel (blue, green, red, unused), top-down rows. It keeps the
// decoder's buffer mapped while it lives: no copy per frame.
class VideoPicture {
public:
    explicit VideoPicture(GstMiniOwned<GstSample> sample);
    ~VideoPicture();
    VideoPicture(const VideoPicture&) = delete;
    VideoPicture& operator=(const VideoPicture&) = delete;

    bool isValid() const noexcept { return m_isMapped && m_width > 0 && m_height > 0; }
    int width() const noexcept { return m_width; }
    int height() const noexcept { return m_height; }
    int bytesPerLine() const noexcept { return m_stride; }
    const std::uint8_t* pixels() const noexcept { return m_isMapped ? m_map.data : nullptr; }
    std::int64_t position100ns() const noexcept { return m_position100ns; }

private:
    GstMiniOwned<GstSample> m_sample;
    GstMapInfo m_map{};
    bool m_isMapped = false;
    int m_width = 0;
    int m_height = 0;
    int m_stride = 0;
    std::int64_t m_position100ns = -1;
};

enum class AudioOutput { Invalid, SoundCard, Silent };
enum class OpenProgress { Invalid, Pending, Ready, Failed };

// Whether this machine has a sound card to play to (ALSA lists a device).
bool hasSoundCard();

class CPlaybackGraph : public CDShowGraph {
public:
    // Called on a streaming thread each time a new picture is kept; it must not block.
    using PictureNotifier = std::function<void()>;

    // Builds playbin for the file and starts prerolling it. Throws CDShowException with the
    // GStreamer text when playbin or the sinks cannot be made.
    CPlaybackGraph(const std::string& path, AudioOutput audio, PictureNotifier onPicture);
    ~CPlaybackGraph() override;

    // Pending until the first picture (or, for sound only, the preroll) is there; Failed with
    // the graph's first error text in *error.
    OpenProgress openProgress(std::string* error);

    bool hasVideo() const noexcept { return m_pictureCount.load() > 0; }
    std::shared_ptr<const VideoPicture> latestPicture() const;
    std::uint64_t pictureCount() const noexcept { return m_pictureCount.load(); }

private:
    static GstFlowReturn onNewSample(GstElement* sink, gpointer self);
    static GstFlowReturn onNewPreroll(GstElement* sink, gpointer self);
    void keepSample(GstMiniOwned<GstSample> sample);

    PictureNotifier m_onPicture;
    mutable std::mutex m_pictureMutex;  // guards m_latest: streaming thread writes, GUI thread reads
    std::shared_ptr<const VideoPicture> m_latest;
    std::atomic<std::uint64_t> m_pictureCount{0};
};

}  // namespace vantrel::mediagraph
