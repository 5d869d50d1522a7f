// SPDX-License-Identifier: GPL-3.0-or-later
// CJobModes: devices, job commands and status texts of the Capture and Print-to-tape modes.
#include "shell/job_modes.h"

#include "dv/info_lines.h"
#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "mediagraph/virtual_camcorder.h"
#include "pipeline/job_status_text.h"
#include "shell/job_picture_view.h"
#include "shell/status_bar.h"

#include <QComboBox>

#include <exception>

namespace vantrel::shell {
namespace {

using pipeline::JobState;

// The message of whatever a job operation threw.
QString messageOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const mediagraph::CDShowException& e) {
        return QString::fromStdString(e.message());
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

bool isCaptureJob(JobState state) noexcept
{
    return state == pipeline::JOB_CAPTURE_PREVIEW || state == pipeline::JOB_CAPTURE_RECORDING;
}

bool isPrintJob(JobState state) noexcept
{
    return state == pipeline::JOB_TAPE_PAUSED || state == pipeline::JOB_TAPE_RECORDING;
}

}  // namespace

CJobModes::CJobModes(StatusBar* statusBar, QComboBox* deviceList, JobPictureView* view,
                     dv::InfoLineFormatter* formatter, QObject* parent)
    : QObject(parent), m_statusBar(statusBar), m_deviceList(deviceList), m_view(view), m_formatter(formatter)
{
    m_job.SetType2Output(true);
    m_job.SetSceneGap(1);
    m_job.SetFramesPerFile(90000);
    m_job.SetFrameStep(1);
    m_job.SetTapePreview(true);
    m_job.SetJobObserver(this);
    m_job.SetFrameInfoObserver(this);
    m_job.SetPreviewOwner(m_view);
    m_statusTimer.setInterval(kStatusTimerMs);
    if (m_view != nullptr) connect(m_view, &JobPictureView::resized, this, [this] { m_job.OnResize(); });
    connect(&m_statusTimer, &QTimer::timeout, this, [this] {
        UpdateStatus();
        emit statusUpdated();
    });
}

CJobModes::~CJobModes()
{
    m_job.StopJob();  // its worker and streaming threads end before anything they call goes
}

void CJobModes::setText(const QString& text, int part)
{
    m_statusBar->SetStatusText(text, part);
}

void CJobModes::startStatusTimer()
{
    m_statusTimer.start();
    m_inhibitor.acquire(QStringLiteral("A camcorder job is running"));
}

void CJobModes::stopStatusTimer()
{
    m_statusTimer.stop();
    m_inhibitor.release();
}

void CJobModes::FillDeviceList()
{
    std::vector<std::string> names;
    try {
        mediagraph::ListVideoDevices(names);
    } catch (...) {
        ShowError(messageOf(std::current_exception()));
        return;  // the list and its names stay as they were
    }
    m_deviceNames = std::move(names);
    const QSignalBlocker quiet(m_deviceList);  // selecting entry 0 here is no selection change
    m_deviceList->clear();
    for (const std::string& name : m_deviceNames) m_deviceList->addItem(QString::fromStdString(name));
    if (!m_deviceNames.empty()) m_deviceList->setCurrentIndex(0);
}

const std::string* CJobModes::selectedDevice() const
{
    const int index = m_deviceList->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= m_deviceNames.size()) return nullptr;
    return &m_deviceNames[static_cast<std::size_t>(index)];
}

void CJobModes::ApplyDeviceSelection()
{
    const std::string* selected = selectedDevice();
    if (selected == nullptr || m_mode == MODE_PLAYER) return;
    (m_mode == MODE_CAPTURE ? m_captureDevice : m_tapeDevice) = *selected;
    Reinitialize();
}

void CJobModes::Reinitialize()
{
    stopStatusTimer();
    setText(QStringLiteral("Initializing..."), 0);
    setText(QString(), 1);
    setText(QString(), 2);
    if (m_mode == MODE_CAPTURE) {
        setText(QStringLiteral("Select file and press <Play>"), 0);
        try {
            m_job.StartCapture(m_captureDevice);
            m_jobDevice = m_captureDevice;
            startStatusTimer();
        } catch (...) {
            m_job.StopJob();
            ShowError(messageOf(std::current_exception()));
        }
    } else if (m_mode == MODE_PRINT_TO_TAPE) {
        m_job.StopJob();
        setText(QStringLiteral("Select file and press <Play>"), 0);
    }
}

void CJobModes::ToggleCapture(const QString& captureBase)
{
    // A running capture of the selected device is kept: Pause pauses it, Play resumes it.
    if (const std::string* selected = selectedDevice()) {
        m_captureDevice = *selected;
        if (!isCaptureJob(state()) || m_jobDevice != m_captureDevice) Reinitialize();
    }
    try {
        if (state() == pipeline::JOB_CAPTURE_PREVIEW)
            m_job.StartRecording(captureBase.toStdString(), kNameFormat, kNumberWidth, std::int64_t{0});
        else if (state() == pipeline::JOB_CAPTURE_RECORDING)
            m_job.StopRecording();
        else
            Reinitialize();
    } catch (...) {
        const QString message = messageOf(std::current_exception());
        Reinitialize();
        ShowError(message);
    }
}

void CJobModes::ToggleTapePrint(const QString& tapeFiles)
{
    // A print to the selected device is kept: Pause holds the list, Play goes on where it held.
    if (const std::string* selected = selectedDevice()) {
        m_tapeDevice = *selected;
        if (!isPrintJob(state()) || m_jobDevice != m_tapeDevice) Reinitialize();
    }
    try {
        if (state() == pipeline::JOB_TAPE_PAUSED) {
            m_job.ResumeTapeRecording();
        } else if (state() == pipeline::JOB_TAPE_RECORDING) {
            m_job.PauseTapeRecording();
        } else {
            m_job.StartPrintToTape("|" + tapeFiles.toStdString() + "|", m_tapeDevice);
            m_jobDevice = m_tapeDevice;
            m_job.ResumeTapeRecording();
            startStatusTimer();
        }
    } catch (...) {
        const QString message = messageOf(std::current_exception());
        Reinitialize();
        ShowError(message);
    }
}

bool CJobModes::Stop()
{
    try {
        if (m_mode == MODE_CAPTURE && state() == pipeline::JOB_CAPTURE_RECORDING) m_job.StopRecording();
        if (m_mode == MODE_PRINT_TO_TAPE && state() == pipeline::JOB_TAPE_RECORDING) m_job.PauseTapeRecording();
        return true;
    } catch (...) {
        const QString message = messageOf(std::current_exception());
        Reinitialize();
        ShowError(message);
        return false;
    }
}

void CJobModes::TapeCommand(int commandId)
{
    const JobState now = state();
    if (now != pipeline::JOB_IDLE && now != pipeline::JOB_TAPE_PAUSED && now != pipeline::JOB_CAPTURE_PREVIEW) return;
    long mode = 0;
    switch (commandId) {
    case command::kTapeRewind: mode = mediagraph::ED_MODE_REW; break;
    case command::kStepBack: mode = mediagraph::ED_MODE_STEP_REV; break;
    case command::kStepForward: mode = mediagraph::ED_MODE_STEP_FWD; break;
    case command::kTapeFastForward: mode = mediagraph::ED_MODE_FF; break;
    default: return;
    }
    try {
        m_job.SendCaptureTransport(mode);  // nothing without a capture graph
    } catch (...) {
        ShowError(messageOf(std::current_exception()));
    }
}

void CJobModes::ShowError(const QString& message)
{
    setText(QString::fromStdString(pipeline::ErrorText(message.toStdString())), 0);
    m_isErrorHeld = true;
}

void CJobModes::UpdateStatus()
{
    const JobState now = m_job.GetState();
    const pipeline::JobStatus status = pipeline::MakeJobStatus(
        now, m_job.GetDroppedFrames(), m_job.GetDuration(), m_job.GetBufferCount(), m_job.GetBufferSlotCount());
    if (!m_isErrorHeld) setText(QString::fromStdString(status.phase), 0);
    setText(QString::fromStdString(status.elapsedTime), 1);
    setText(QString::fromStdString(status.bufferUsage), 2);
}

void CJobModes::captureFileClosed(const std::string& path)
{
    QMetaObject::invokeMethod(
        this, [this, name = QString::fromStdString(path)] { emit fileClosed(name); }, Qt::QueuedConnection);
}

void CJobModes::jobFailed(const std::string& message)
{
    QMetaObject::invokeMethod(
        this, [this, text = QString::fromStdString(message)] { ShowError(text); }, Qt::QueuedConnection);
}

void CJobModes::frameAnalysed(const dv::DVFrameInfo& info, long frameNumber)
{
    // The panel is drawn on the GUI thread, where the player draws it too.
    QMetaObject::invokeMethod(
        this, [this, info, frameNumber] { m_formatter->ShowFrameInfo(info, frameNumber); }, Qt::QueuedConnection);
}

}  // namespace vantrel::shell
