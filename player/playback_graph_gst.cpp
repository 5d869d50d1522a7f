// SPDX-License-Identifier: GPL-3.0-or-later
// The player's graph on GStreamer's playbin.
#include "mediagraph/playback_graph.h"
#include "player/playback_graph.h"

namespace vantrel::player {
namespace {

using mediagraph::CPlaybackGraph;
using mediagraph::GraphState;
using mediagraph::StateChangeResult;

class GstPlaybackGraph final : public IPlaybackGraph {
public:
    GstPlaybackGraph(const std::string& path, std::function<void()> onPicture)
        : m_graph(path, mediagraph::hasSoundCard() ? mediagraph::AudioOutput::SoundCard : mediagraph::AudioOutput::Silent,
                  std::move(onPicture))
    {
    }

    bool Run() override { return m_graph.Run() != StateChangeResult::Failure; }
    bool Pause() override { return m_graph.Pause() != StateChangeResult::Failure; }
    void Stop() override { m_graph.Stop(); }

    std::optional<GraphRunState> GetState(std::chrono::milliseconds timeout) override
    {
        GraphState state = GraphState::Invalid;
        if (m_graph.GetState(timeout, &state) == StateChangeResult::Failure)
            return std::nullopt;
        switch (state) {
        case GraphState::Stopped: return GraphRunState::Stopped;
        case GraphState::Paused: return GraphRunState::Paused;
        case GraphState::Running: return GraphRunState::Running;
        case GraphState::Invalid: break;
        }
        return std::nullopt;
    }

    bool Seek(std::int64_t position100ns) override { return m_graph.Seek(position100ns); }
    bool StepFrame() override { return m_graph.StepFrames(1); }
    std::optional<std::int64_t> GetPosition() override { return m_graph.GetPosition(); }
    std::optional<std::int64_t> GetDuration() override { return m_graph.GetDuration(); }

    GraphOpening openProgress(std::string* error) override
    {
        switch (m_graph.openProgress(error)) {
        case mediagraph::OpenProgress::Pending: return GraphOpening::Pending;
        case mediagraph::OpenProgress::Ready: return GraphOpening::Ready;
        case mediagraph::OpenProgress::Failed: return GraphOpening::Failed;
        case mediagraph::OpenProgress::Invalid: break;
        }
        return GraphOpening::Invalid;
    }

    bool hasVideo() const override { return m_graph.hasVideo(); }

    QImage latestPicture() const override
    {
        std::shared_ptr<const mediagraph::VideoPicture> picture = m_graph.latestPicture();
        if (!picture)
            return {};
        // The image borrows the mapped buffer; the heap copy of the handle keeps it alive until Qt drops the image.
        auto* keeper = new std::shared_ptr<const mediagraph::VideoPicture>(picture);
        return QImage(
            picture->pixels(), picture->width(), picture->height(), picture->bytesPerLine(), QImage::Format_RGB32,
            [](void* handle) { delete static_cast<std::shared_ptr<const mediagraph::VideoPicture>*>(handle); }, keeper);
    }

    std::uint64_t pictureCount() const override { return m_graph.pictureCount(); }

    std::string DumpForGraphViewer() override { return m_graph.DumpForGraphViewer(); }

private:
    CPlaybackGraph m_graph;
};

}  // namespace

PlaybackGraphFactory gstPlaybackGraphFactory()
{
    return [](const std::string& path, std::function<void()> onPicture) -> std::unique_ptr<IPlaybackGraph> {
        return std::make_unique<GstPlaybackGraph>(path, std::move(onPicture));
    };
}

}  // namespace vantrel::player
