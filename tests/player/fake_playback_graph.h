// SPDX-License-Identifier: GPL-3.0-or-later
// A playback graph without media: position, duration and opening set by the test, every call recorded.
#pragma once

#include "player/playback_graph.h"

#include <QImage>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::player {

struct FakeGraphScript {
    std::int64_t duration = 0;  // 0: unknown
    std::int64_t position = 0;
    GraphOpening opening = GraphOpening::Ready;
    std::string openingError;
};

// What a graph saw, kept after the graph is gone.
struct FakeGraphLog {
    std::vector<std::string> calls;  // "Run", "Pause", "Stop", "Seek <pos>", "Step"
    int graphsMade = 0;
    std::atomic<int> graphsReleased{0};  // graphs are released on the player's releasing thread
};

class FakePlaybackGraph final : public IPlaybackGraph {
public:
    FakePlaybackGraph(FakeGraphScript& script, FakeGraphLog& log) : m_script(script), m_log(log) { ++m_log.graphsMade; }
    ~FakePlaybackGraph() override { ++m_log.graphsReleased; }

    bool Run() override { return enter("Run", GraphRunState::Running); }
    bool Pause() override { return enter("Pause", GraphRunState::Paused); }
    void Stop() override { enter("Stop", GraphRunState::Stopped); }
    std::optional<GraphRunState> GetState(std::chrono::milliseconds) override { return m_state; }
    bool Seek(std::int64_t position) override
    {
        m_script.position = position;
        return enter(("Seek " + std::to_string(position)).c_str(), m_state);
    }
    bool StepFrame() override { return enter("Step", m_state); }
    std::optional<std::int64_t> GetPosition() override { return m_script.position; }
    std::optional<std::int64_t> GetDuration() override
    {
        return m_script.duration == 0 ? std::nullopt : std::optional(m_script.duration);
    }
    GraphOpening openProgress(std::string* error) override
    {
        if (error != nullptr && m_script.opening == GraphOpening::Failed) *error = m_script.openingError;
        return m_script.opening;
    }
    bool hasVideo() const override { return true; }
    QImage latestPicture() const override
    {
        QImage picture(720, 576, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        return m_script.opening == GraphOpening::Ready ? picture : QImage();
    }
    std::uint64_t pictureCount() const override { return 1; }
    std::string DumpForGraphViewer() override { return {}; }

private:
    bool enter(const char* call, GraphRunState state)
    {
        m_log.calls.emplace_back(call);
        m_state = state;
        return true;
    }

    FakeGraphScript& m_script;
    FakeGraphLog& m_log;
    GraphRunState m_state = GraphRunState::Paused;  // prerolled
};

inline PlaybackGraphFactory fakeGraphFactory(FakeGraphScript& script, FakeGraphLog& log)
{
    return [&script, &log](const std::string&, std::function<void()>) -> std::unique_ptr<IPlaybackGraph> {
        return std::make_unique<FakePlaybackGraph>(script, log);
    };
}

}  // namespace vantrel::player
