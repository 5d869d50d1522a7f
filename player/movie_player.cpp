// SPDX-License-Identifier: GPL-3.0-or-later
// CMoviePlayer: opens, plays, steps and seeks one file in the video area and shows each new frame's metadata.
#include "player/movie_player.h"

#include "avi/dv_avi.h"
#include "player/video_area.h"

#include <QLabel>
#include <QMetaObject>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace vantrel::player {
namespace {

constexpr std::chrono::milliseconds kStateQueryTimeout{10};
constexpr std::size_t kMaxMessageChars = 1023;
constexpr std::size_t kMaxFileNameChars = 259;
const QRect kVideoRect4x3{0, 0, 360, 288};
const QRect kVideoRect16x9{0, 36, 360, 252};
const QSize kPalPicture{720, 576};

std::string failedIn(const std::string& reason, const char* call)
{
    return "FAILED(hr=" + reason + ") in " + call + "\n";
}

}  // namespace

CMoviePlayer::CMoviePlayer(VideoArea* host, QSlider* slider, QLabel* positionLabel, PlayerServices services,
                           QObject* parent)
    : QObject(parent),
      m_host(host),
      m_slider(slider),
      m_positionLabel(positionLabel),
      m_services(std::move(services)),
      m_previewTimer(new QTimer(this))
{
    m_previewTimer->setSingleShot(true);
    m_previewTimer->setTimerType(Qt::PreciseTimer);
    m_previewTimer->setInterval(kPreviewDelayMs);
    connect(m_previewTimer, &QTimer::timeout, this, &CMoviePlayer::takePreviewStill);
    UpdateHostTitle();
}

CMoviePlayer::~CMoviePlayer()
{
    // Both graphs' streaming threads end before the picture callback's target goes.
    if (m_host)
        m_host->hideVideo();  // its picture source points into the graph
    if (m_graphReleaser.joinable())
        m_graphReleaser.join();
    m_graph.reset();
}

void CMoviePlayer::releaseGraph()
{
    if (!m_graph)
        return;
    if (m_graphReleaser.joinable())
        m_graphReleaser.join();
    m_graphReleaser = std::jthread([graph = std::move(m_graph)]() mutable { graph.reset(); });
}

void CMoviePlayer::ShowPlayerMessage(const std::string& text)
{
    if (m_services.showMessage)
        m_services.showMessage(text.substr(0, kMaxMessageChars));
}

void CMoviePlayer::OpenMediaFile()
{
    UpdateHostTitle();
    InitPlayerWindow();
    m_host->show();
    const std::optional<std::string> chosen = m_services.chooseMediaFile ? m_services.chooseMediaFile() : std::nullopt;
    if (!chosen || chosen->empty())
        return;
    OpenFile(*chosen);
}

void CMoviePlayer::OpenFile(const std::string& chosenPath)
{
    const std::string lower = lowerCased(chosenPath);
    const Refusal refusal = refusalOf(lower);
    if (refusal != Refusal::Accepted) {
        ShowPlayerMessage(refusalMessage(refusal));
        return;
    }
    if (m_graph)
        UnloadMedia();  // the loaded file is released before the next one is built
    m_fileName = lower.substr(0, kMaxFileNameChars);
    m_grabPath = chosenPath;
    m_state = PlayerState::Stopped;
    m_isMuted = false;
    m_lastFrameShown = -1;
    UpdateHostTitle();
    BuildPlaybackGraph(chosenPath);
}

void CMoviePlayer::BuildPlaybackGraph(const std::string& path)
{
    try {
        m_graph = m_services.makeGraph(path, [this] { onPictureArrived(); });
    } catch (const std::exception& error) {
        ShowPlayerMessage(failedIn(error.what(), "CoCreateInstance(CLSID_FilterGraph, NULL, CLSCTX_INPROC_SERVER, "
                                                 "IID_IGraphBuilder, (void **)&pGB)"));
        UnloadMedia();
        return;
    }
    m_isOpening = true;
    m_state = PlayerState::Idle;

    Expected<avi::DvAvi, std::string> opened = avi::OpenDVAvi(path);
    m_hasAnalysis = static_cast<bool>(opened);
    m_isPal = m_hasAnalysis && opened->IsPAL();
    if (m_hasAnalysis)
        m_analysis.start(std::make_shared<const avi::DvAvi>(std::move(opened).value()));
    m_previewTimer->start();
    checkOpening();
    emit mediaChanged();
}

void CMoviePlayer::onPictureArrived()
{
    // Streaming thread: one queued call at a time, whatever the picture rate.
    if (m_isRepaintQueued.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_isRepaintQueued = false;
            if (m_isOpening)
                checkOpening();
            if (m_wantsPreviewStill)
                takePreviewStill();
            if (m_isVideoSizeGuessed && m_graph && m_host->isVideoVisible())
                InitVideoWindow(1, 2);
            m_host->update();
        },
        Qt::QueuedConnection);
}

void CMoviePlayer::checkOpening()
{
    if (!m_graph || !m_isOpening)
        return;
    std::string error;
    switch (m_graph->openProgress(&error)) {
    case GraphOpening::Failed:
        m_isOpening = false;
        ShowPlayerMessage(failedIn(error, "pGB->RenderFile(wFile, NULL)"));
        UnloadMedia();
        break;
    case GraphOpening::Ready:
        m_isOpening = false;
        emit mediaChanged();
        break;
    case GraphOpening::Pending:
    case GraphOpening::Invalid: break;
    }
}

void CMoviePlayer::takePreviewStill()
{
    if (!m_graph || m_state != PlayerState::Idle) {
        m_wantsPreviewStill = false;
        return;
    }
    const QImage picture = m_graph->latestPicture();
    if (picture.isNull()) {
        m_wantsPreviewStill = true;  // taken when the first picture arrives
        return;
    }
    m_wantsPreviewStill = false;
    m_host->setPreviewStill(picture.convertToFormat(QImage::Format_RGB888));  // a copy of its own
    emit previewStillShown();
}

void CMoviePlayer::StartPlayback()
{
    if (!m_graph)
        return;
    const bool isPrerolled = m_graph->openProgress(nullptr) == GraphOpening::Ready;
    m_isAudioOnly = isPrerolled && !m_graph->hasVideo();
    if (m_isAudioOnly) {
        InitPlayerWindow();
    } else {
        InitVideoWindow(1, 2);
        m_canStep = true;
    }
    m_graph->DumpForGraphViewer();
    m_host->show();
    m_rate = 1.0;
    UpdateHostTitle();
    if (!m_graph->Run()) {
        std::string error = "state change refused";
        m_graph->openProgress(&error);
        ShowPlayerMessage(failedIn(error, "pMC->Run()"));
        return;
    }
    ResetPositionDisplay();
    m_state = PlayerState::Running;
    m_host->setFocus();
    m_host->setPreviewStill(QImage());
    m_wantsPreviewStill = false;
    UpdateHostTitle();
}

void CMoviePlayer::InitVideoWindow(int multiplier, int divider)
{
    const QImage picture = m_graph->latestPicture();
    m_isVideoSizeGuessed = picture.isNull();
    const QSize native = m_isVideoSizeGuessed ? kPalPicture : picture.size();
    m_videoSize = QSize(native.width() * multiplier / divider, native.height() * multiplier / divider);
    IPlaybackGraph* graph = m_graph.get();
    m_host->setVideo(QRect(QPoint(0, 0), m_videoSize), [graph] { return graph->latestPicture(); });
}

void CMoviePlayer::InitPlayerWindow()
{
    m_host->hideVideo();
}

void CMoviePlayer::SetVideoAspect(bool isWide)
{
    if (!m_graph || !m_host->isVideoVisible())
        return;
    IPlaybackGraph* graph = m_graph.get();
    m_host->setVideo(isWide ? kVideoRect16x9 : kVideoRect4x3, [graph] { return graph->latestPicture(); });
}

void CMoviePlayer::ResetPositionDisplay()
{
    m_slider->setValue(0);
    m_positionLabel->setText(QString::fromLatin1(positionLabelText(0).c_str()));
    m_duration = 0;
    const std::optional<std::int64_t> duration = m_graph->GetDuration();
    if (duration)
        m_duration = *duration;
    m_slider->setEnabled(duration.has_value());
}

void CMoviePlayer::StopPlayback()
{
    if (!m_graph)
        return;
    if (m_state == PlayerState::Paused || m_state == PlayerState::Running) {
        // Paused at the start rather than torn down: the first frame stays on show.
        m_graph->Pause();
        m_state = PlayerState::Stopped;
        m_graph->Seek(0);
    }
    UpdateHostTitle();
}

void CMoviePlayer::ToggleByGraphState()
{
    if (!m_graph)
        return;
    const std::optional<GraphRunState> state = m_graph->GetState(kStateQueryTimeout);
    if (state == GraphRunState::Paused)
        m_graph->Run();
    else if (state == GraphRunState::Running)
        m_graph->Pause();
}

void CMoviePlayer::TogglePlayPause()
{
    if (!m_graph)
        return;
    if (m_state == PlayerState::Paused || m_state == PlayerState::Stopped) {
        if (m_graph->Run())
            m_state = PlayerState::Running;
    } else if (m_graph->Pause()) {
        m_state = PlayerState::Paused;
    }
    UpdateHostTitle();
}

bool CMoviePlayer::StepForward()
{
    if (!m_graph || !m_canStep)
        return true;
    if (m_state != PlayerState::Paused)
        TogglePlayPause();
    return m_graph->StepFrame();
}

bool CMoviePlayer::StepBack()
{
    if (!m_graph)
        return false;
    if (m_state != PlayerState::Paused)
        TogglePlayPause();
    const std::int64_t duration = m_graph->GetDuration().value_or(0);
    const std::int64_t current = m_graph->GetPosition().value_or(0);
    const std::int64_t target = std::clamp<std::int64_t>(current - kStepBackUnits, 0, std::max<std::int64_t>(duration, 0));
    const bool isSeeking = m_graph->Seek(target);
    m_lastFrameShown = frameNumberOfPosition(target, m_isPal) - 1;
    UpdatePositionDisplay(target);
    return isSeeking;
}

void CMoviePlayer::SeekToPercent(int code, int percent)
{
    if (!m_graph)
        return;
    if (m_isSeekIdle) {
        m_savedGraphState = m_graph->GetState(kStateQueryTimeout).value_or(GraphRunState::Invalid);
        m_isSeekIdle = false;
        m_graph->Pause();
    }
    if (m_duration == 0)
        m_duration = m_graph->GetDuration().value_or(0);
    const std::int64_t target = m_duration * percent / 100;
    m_graph->Seek(target);
    if (code == kSliderEndScroll) {
        if (m_savedGraphState == GraphRunState::Stopped)
            m_graph->Stop();
        else if (m_savedGraphState == GraphRunState::Running)
            m_graph->Run();
        m_isSeekIdle = true;
    }
    m_lastFrameShown = frameNumberOfPosition(target, m_isPal) - 1;
    UpdatePositionDisplay(target);
}

void CMoviePlayer::OnPositionTick()
{
    if (m_isOpening)
        checkOpening();
    if (!m_graph)
        return;
    const std::optional<std::int64_t> position = m_graph->GetPosition();
    if (!position)
        return;
    if (m_duration == 0 && m_state != PlayerState::Idle) {
        m_duration = m_graph->GetDuration().value_or(0);
        m_slider->setEnabled(m_duration != 0);
    }
    const int percent = m_duration != 0 ? static_cast<int>(*position * 100 / m_duration) : 0;
    if (!m_slider->isSliderDown())  // a drag in progress owns the slider
        m_slider->setValue(percent);
    UpdatePositionDisplay(*position);
}

void CMoviePlayer::UpdatePositionDisplay(std::int64_t position100ns)
{
    if (!m_graph)
        return;
    if (position100ns == 0) {
        const std::optional<std::int64_t> current = m_graph->GetPosition();
        if (!current)
            return;
        position100ns = *current;
    }
    const long frame = frameNumberOfPosition(position100ns, m_isPal);
    if (frame > m_lastFrameShown) {
        ShowAnalysedFrame(frame);
        m_lastFrameShown = frame;
    }
    const QString label = QString::fromLatin1(positionLabelText(position100ns).c_str());
    if (m_positionLabel->text() != label)
        m_positionLabel->setText(label);
}

void CMoviePlayer::ShowAnalysedFrame(long frameNumber)
{
    if (m_hasAnalysis && m_services.formatter != nullptr)
        m_analysis.ShowAnalysedFrame(frameNumber, *m_services.formatter);
}

std::optional<std::int64_t> CMoviePlayer::grabPosition()
{
    if (!m_graph)
        return 0;
    return m_graph->GetPosition();
}

void CMoviePlayer::UnloadMedia()
{
    InitPlayerWindow();  // the video area lets go of the graph's pictures first
    releaseGraph();
    m_previewTimer->stop();
    m_isOpening = false;
    m_wantsPreviewStill = false;
    m_isAudioOnly = true;
    m_canStep = false;
    m_hasAnalysis = false;  // the store still holds the last file's records: show none of them
    m_fileName.clear();
    m_grabPath.clear();
    m_state = PlayerState::Idle;
    m_host->setPreviewStill(QImage());
    UpdateHostTitle();
    InitPlayerWindow();
    emit mediaChanged();
}

std::string CMoviePlayer::hostTitle() const
{
    return hostText({m_fileName, m_isAudioOnly, m_isMuted, m_state == PlayerState::Paused, m_rate});
}

void CMoviePlayer::UpdateHostTitle()
{
    m_host->setHostText(QString::fromStdString(hostTitle()));
}

}  // namespace vantrel::player
