// SPDX-License-Identifier: GPL-3.0-or-later
// What the player asks of its graph, so that it runs on GStreamer in the program and on a fake in tests.
#pragma once

#include <QImage>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::player {

// The graph's own state, as a state query answers it.
enum class GraphRunState { Invalid, Stopped, Paused, Running };
enum class GraphOpening { Invalid, Pending, Ready, Failed };

class IPlaybackGraph {
public:
    virtual ~IPlaybackGraph() = default;

    virtual bool Run() = 0;    // false when the graph refused at once
    virtual bool Pause() = 0;
    virtual void Stop() = 0;
    // The state after waiting up to `timeout` for a pending change; nothing when the query failed.
    virtual std::optional<GraphRunState> GetState(std::chrono::milliseconds timeout) = 0;
    // Flushing, accurate seek to an absolute position (100 ns units).
    virtual bool Seek(std::int64_t position100ns) = 0;
    // One video frame forward while paused.
    virtual bool StepFrame() = 0;
    virtual std::optional<std::int64_t> GetPosition() = 0;  // 100 ns units
    virtual std::optional<std::int64_t> GetDuration() = 0;  // 100 ns units

    // Pending while the file prerolls; Failed with the graph's error text.
    virtual GraphOpening openProgress(std::string* error) = 0;
    virtual bool hasVideo() const = 0;
    // The newest picture (shares the decoder's memory, no copy); null before the first.
    virtual QImage latestPicture() const = 0;
    // Pictures that reached the video sink so far (the preroll ones too).
    virtual std::uint64_t pictureCount() const = 0;
    // Writes the graph for an outside viewer; the name used.
    virtual std::string DumpForGraphViewer() = 0;
};

// Builds the graph of a file; `onPicture` is called on a streaming thread for every new picture
// and must not block. Throws std::exception with the platform's text when the graph cannot be made.
using PlaybackGraphFactory =
    std::function<std::unique_ptr<IPlaybackGraph>(const std::string& path, std::function<void()> onPicture)>;

// The GStreamer graph (playbin); sound goes to the sound card when there is one.
PlaybackGraphFactory gstPlaybackGraphFactory();

}  // namespace vantrel::player
