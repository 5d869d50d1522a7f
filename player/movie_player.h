// SPDX-License-Identifier: GPL-3.0-or-later
// CMoviePlayer: opens, plays, steps and seeks one file in the video area and shows each new frame's metadata.
//
// Design note. Everything runs on the GUI thread; only the graph's picture callback comes from a
// streaming thread, and it merely queues a repaint. Building the graph does not wait: the file
// prerolls in the background, a failure found then is reported like a failed build (message box,
// unload), and the preview still is taken from the prerolled first picture one second after the
// open, by a timer, so the window keeps answering during that second.
#pragma once

#include "avi/analysis_thread.h"
#include "dv/info_lines.h"
#include "player/playback_graph.h"
#include "player/player_texts.h"

#include <QObject>
#include <QPointer>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QSlider;
class QTimer;

namespace vantrel::player {

class VideoArea;

// The player's own state; the numbers are those of the graph states, Idle after them.
enum class PlayerState { Stopped = 0, Paused = 1, Running = 2, Idle = 3 };

// What the player needs from the window around it.
struct PlayerServices {
    // The open dialog; nothing when it was cancelled.
    std::function<std::optional<std::string>()> chooseMediaFile;
    // A message box captioned "Reelpane Sample".
    std::function<void(const std::string&)> showMessage;
    PlaybackGraphFactory makeGraph;
    // Formats and draws the info lines (the program's one formatter); may be null in tests.
    dv::InfoLineFormatter* formatter = nullptr;
};

class CMoviePlayer : public QObject {
    Q_OBJECT
public:
    inline static constexpr int kSliderEndScroll = 8;     // the end of a slider drag
    inline static constexpr int kPreviewDelayMs = 1000;   // open -> preview still

    CMoviePlayer(VideoArea* host, QSlider* slider, QLabel* positionLabel, PlayerServices services,
                 QObject* parent = nullptr);
    ~CMoviePlayer() override;

    // The open command: dialog, refusals, then OpenFile.
    void OpenMediaFile();
    // Opens a named file (the command line, a dropped file): refusals, release of the loaded
    // file, graph, analysis, preview still.
    void OpenFile(const std::string& chosenPath);
    void StartPlayback();
    void StopPlayback();
    void ToggleByGraphState();
    void TogglePlayPause();
    bool StepForward();
    bool StepBack();
    void SeekToPercent(int code, int percent);
    void OnPositionTick();
    void UpdatePositionDisplay(std::int64_t position100ns);
    void SetVideoAspect(bool isWide);
    void UnloadMedia();
    // The position a frame grab takes: the current one, 0 without a loaded graph, nothing when
    // the graph cannot tell (then nothing is grabbed).
    std::optional<std::int64_t> grabPosition();

    PlayerState state() const noexcept { return m_state; }
    bool isLoaded() const noexcept { return static_cast<bool>(m_graph); }
    // The file name as stored (lower-cased) and the path as opened.
    const std::string& fileName() const noexcept { return m_fileName; }
    const std::string& grabPath() const noexcept { return m_grabPath; }
    bool isPal() const noexcept { return m_isPal; }
    bool isAnalysing() const noexcept { return m_hasAnalysis; }
    bool isAudioOnly() const noexcept { return m_isAudioOnly; }
    long lastFrameShown() const noexcept { return m_lastFrameShown; }
    std::int64_t duration() const noexcept { return m_duration; }
    bool isSeekIdle() const noexcept { return m_isSeekIdle; }
    QSize videoSize() const noexcept { return m_videoSize; }
    IPlaybackGraph* graph() const noexcept { return m_graph.get(); }
    avi::AnalysisThread& analysis() noexcept { return m_analysis; }
    std::string hostTitle() const;

signals:
    // The preview still has been stored in the video area.
    void previewStillShown();
    // A file was loaded or unloaded, or its opening failed.
    void mediaChanged();

private:
    void BuildPlaybackGraph(const std::string& path);
    void InitVideoWindow(int multiplier, int divider);
    void InitPlayerWindow();
    void ResetPositionDisplay();
    void ShowAnalysedFrame(long frameNumber);
    void UpdateHostTitle();
    void checkOpening();
    void takePreviewStill();
    void onPictureArrived();
    void ShowPlayerMessage(const std::string& text);
    // Hands the graph to a thread that stops it: joining its streaming threads can take a while.
    void releaseGraph();

    QPointer<VideoArea> m_host;  // outlives the player in the window; checked when the player goes
    QSlider* m_slider;
    QLabel* m_positionLabel;
    PlayerServices m_services;

    std::unique_ptr<IPlaybackGraph> m_graph;
    avi::AnalysisThread m_analysis;
    PlayerState m_state = PlayerState::Idle;
    std::int64_t m_duration = 0;
    long m_lastFrameShown = -1;
    std::string m_fileName;   // lower-cased, as shown
    std::string m_grabPath;   // as chosen: the file system is case-sensitive
    bool m_isAudioOnly = true;
    bool m_isPal = false;
    bool m_hasAnalysis = false;
    bool m_isMuted = false;
    double m_rate = 1.0;
    bool m_isSeekIdle = true;
    bool m_canStep = false;            // a video graph was started
    GraphRunState m_savedGraphState = GraphRunState::Invalid;
    bool m_isOpening = false;          // the graph is still prerolling
    bool m_wantsPreviewStill = false;  // the delay passed before the first picture
    QSize m_videoSize;
    bool m_isVideoSizeGuessed = false;  // played before the first picture: sized as PAL until it comes
    QTimer* m_previewTimer;
    std::atomic<bool> m_isRepaintQueued{false};  // streaming thread sets, GUI thread clears
    std::jthread m_graphReleaser;  // stops the last released graph; joined before the next release
};

}  // namespace vantrel::player
