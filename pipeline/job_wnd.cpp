// SPDX-License-Identifier: GPL-3.0-or-later
// The job side of the job window: runs the capture and print-to-tape jobs and keeps their state and counters.
#include "pipeline/job_wnd.h"

#include "mediagraph/virtual_camcorder.h"
#include "pipeline/avi_writer_graph.h"
#include "pipeline/capture_graph.h"
#include "pipeline/capture_split_rule.h"
#include "pipeline/dv_out_graph.h"
#include "pipeline/file_list_source.h"
#include "pipeline/preview_graph.h"

#include <chrono>
#include <span>

namespace vantrel::pipeline {

// What the capture worker keeps from one frame to the next.
struct CaptureLocals {
    CaptureSplitRule splitRule;
    std::int64_t framesInFile = 0;
    std::int64_t fileFrameIndex = 0;
    std::int32_t droppedBaseline = 0;
    dv::DVFrameInfo info{};
};

namespace {

dv::VideoSystem videoSystemOfLength(long length) noexcept
{
    if (length == static_cast<long>(dv::kPalFrameBytes))
        return dv::VideoSystem::Pal625_50;
    if (length == static_cast<long>(dv::kNtscFrameBytes))
        return dv::VideoSystem::Ntsc525_60;
    return dv::VideoSystem::Unknown;
}

// Moves the state from `from` to `to` only if nobody changed it meanwhile (StopJob's JOB_IDLE wins).
bool moveState(std::atomic<JobState>& state, JobState from, JobState to) noexcept
{
    return state.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

// How long a pause waits for the queued frames to reach the camcorder: a full output queue at
// the camcorder's own speed with room to spare.
constexpr auto kPauseDrainTimeout = std::chrono::milliseconds(2000);

}  // namespace

void CJobWnd::RingSink::Deliver(REFERENCE_TIME duration, const std::byte* data, long length)
{
    if (CFrameRing* ring = m_owner.m_ringForStatus.load(std::memory_order_acquire))
        ring->Put(duration, data, length);
}

CJobWnd::CJobWnd() = default;

CJobWnd::~CJobWnd()
{
    StopJob();
}

std::int32_t CJobWnd::GetBufferCount() const noexcept
{
    const CFrameRing* ring = m_ringForStatus.load(std::memory_order_acquire);
    return ring != nullptr ? ring->count() : 0;
}

std::int32_t CJobWnd::GetBufferSlotCount() const noexcept
{
    const CFrameRing* ring = m_ringForStatus.load(std::memory_order_acquire);
    return ring != nullptr ? ring->slotCount() : 0;
}

std::optional<std::string> CJobWnd::LastError() const
{
    std::lock_guard lock(m_errorMutex);
    return m_lastError;
}

void CJobWnd::reportFailure(const std::string& message)
{
    {
        std::lock_guard lock(m_errorMutex);
        m_lastError = message;
    }
    if (m_jobObserver != nullptr)
        m_jobObserver->jobFailed(message);
}

void CJobWnd::makePreview(const CMediaType& type)
{
    if (m_previewOwner != nullptr)
        m_previewGraph = std::make_unique<CPreviewGraph>(m_previewOwner, type);
}

void CJobWnd::OnResize()
{
    if (m_previewGraph)
        m_previewGraph->Layout();
}

void CJobWnd::StartCapture(const std::string& deviceName)
{
    StopJob();
    {
        std::lock_guard lock(m_errorMutex);
        m_lastError.reset();
    }
    m_captureGraph = std::make_unique<CCaptureGraph>(deviceName);
    // Counted before any frame can come: a worker thread slow to start must not miss early drops.
    m_droppedBaseline = m_captureGraph->GetDroppedCount();
    CMediaType type;
    m_captureGraph->GetMediaType(&type);
    makePreview(type);
    m_ring = std::make_unique<CFrameRing>(kRingCapacity, static_cast<std::int32_t>(type.sampleSize));
    m_ringForStatus.store(m_ring.get(), std::memory_order_release);
    m_hasStreamEnded.store(false, std::memory_order_release);
    m_captureGraph->Start(&m_frameSink);
    m_state.store(JOB_CAPTURE_PREVIEW, std::memory_order_release);
    m_worker = std::jthread([this](std::stop_token stop) { runCapture(std::move(stop)); });
}

void CJobWnd::StartRecording(const std::string& baseName, const std::string& nameFormat, std::int32_t numberWidth,
                             REFERENCE_TIME durationLimit)
{
    if (GetState() != JOB_CAPTURE_PREVIEW)
        return;
    {
        std::lock_guard lock(m_recordingMutex);
        m_baseName = baseName;
        m_nameFormat = nameFormat;
        m_numberWidth = numberWidth;
    }
    m_durationLimit.store(durationLimit, std::memory_order_relaxed);
    if (!moveState(m_state, JOB_CAPTURE_PREVIEW, JOB_CAPTURE_RECORDING))
        return;
    if (m_isAutoDeviceControlOn && m_captureGraph)
        m_captureGraph->DeviceControl().Play();
}

void CJobWnd::StartRecording(const std::string& baseName, const std::string& nameFormat, std::int32_t numberWidth,
                             std::uint32_t limitLow, std::uint32_t limitHigh)
{
    const auto limit = static_cast<REFERENCE_TIME>((std::uint64_t{limitHigh} << 32) | limitLow);
    StartRecording(baseName, nameFormat, numberWidth, limit);
}

void CJobWnd::StopRecording()
{
    if (!moveState(m_state, JOB_CAPTURE_RECORDING, JOB_CAPTURE_PREVIEW))
        return;
    if (m_isAutoDeviceControlOn && m_captureGraph)
        m_captureGraph->DeviceControl().Pause();
}

void CJobWnd::SendCaptureTransport(long edMode)
{
    if (!m_captureGraph)
        return;
    mediagraph::CDeviceControl& control = m_captureGraph->DeviceControl();
    switch (edMode) {
    case mediagraph::ED_MODE_STOP: control.Stop(); break;
    case mediagraph::ED_MODE_PLAY: control.Play(); break;
    case mediagraph::ED_MODE_FREEZE: control.Pause(); break;
    case mediagraph::ED_MODE_REW: control.Rewind(); break;
    case mediagraph::ED_MODE_FF: control.FastForward(); break;
    case mediagraph::ED_MODE_STEP_FWD: control.StepForward(); break;
    case mediagraph::ED_MODE_STEP_REV: control.StepBackward(); break;
    default: break;
    }
    control.ThrowIfRefused();
}

void CJobWnd::StartPrintToTape(const std::string& fileList, const std::string& deviceName)
{
    StopJob();
    {
        std::lock_guard lock(m_errorMutex);
        m_lastError.reset();
    }
    m_fileListSource = std::make_unique<CFileListSource>(fileList);
    CMediaType type;
    m_fileListSource->GetMediaType(&type);
    makePreview(type);
    m_tapeOutputGraph = std::make_unique<CDVOutGraph>(deviceName, type);
    m_ring = std::make_unique<CFrameRing>(kRingCapacity, static_cast<std::int32_t>(type.sampleSize));
    m_ringForStatus.store(m_ring.get(), std::memory_order_release);
    m_hasStreamEnded.store(false, std::memory_order_release);
    m_fileListSource->Start(&m_frameSink);
    m_state.store(JOB_TAPE_PAUSED, std::memory_order_release);
    if (m_isAutoDeviceControlOn)
        m_tapeOutputGraph->DeviceControl().RecordPause();
    m_worker = std::jthread([this](std::stop_token stop) { runPrint(std::move(stop)); });
}

void CJobWnd::ResumeTapeRecording()
{
    if (!moveState(m_state, JOB_TAPE_PAUSED, JOB_TAPE_RECORDING))
        return;
    if (m_isAutoDeviceControlOn && m_tapeOutputGraph) {
        m_tapeOutputGraph->DeviceControl().Record();
        m_tapeOutputGraph->DeviceControl().ThrowIfRefused();  // a write-protected cassette records nothing
    }
}

void CJobWnd::PauseTapeRecording()
{
    if (!moveState(m_state, JOB_TAPE_RECORDING, JOB_TAPE_PAUSED))
        return;
    if (!m_isAutoDeviceControlOn || !m_tapeOutputGraph)
        return;
    // The worker stops advancing now and repeats its current frame, but the frames queued towards
    // the camcorder are still part of the recording: a camcorder in record-pause would drop them.
    // The worker may still send the frame it had already taken, so the pause waits until two more
    // frames than sent so far begin to pass: then every advancing frame is on the tape, and at
    // most a repeat of the current one follows it.
    m_tapeOutputGraph->WaitUntilPassed(m_tapeOutputGraph->DeliveredCount() + 2, kPauseDrainTimeout);
    m_tapeOutputGraph->DeviceControl().RecordPause();
}

void CJobWnd::StopJob()
{
    m_state.store(JOB_IDLE, std::memory_order_release);
    if (m_ring)
        m_ring->Stop();  // releases a producer blocked on a full ring and a worker on an empty one
    if (m_fileListSource)
        m_fileListSource->Stop();
    if (m_captureGraph)
        m_captureGraph->Stop();
    if (m_worker.joinable()) {
        m_worker.request_stop();
        m_worker.join();
    }
    m_fileListSource.reset();
    if (m_captureGraph) {
        if (m_isAutoDeviceControlOn)
            m_captureGraph->DeviceControl().Stop();
        m_captureGraph.reset();
    }
    closeFileWriter();
    if (m_tapeOutputGraph) {
        if (m_isAutoDeviceControlOn) {
            // The frames still queued towards the camcorder belong to the recording: a camcorder
            // told to stop first would drop them.
            m_tapeOutputGraph->WaitUntilPassed(m_tapeOutputGraph->DeliveredCount(), kPauseDrainTimeout);
            m_tapeOutputGraph->DeviceControl().Stop();
        }
        m_tapeOutputGraph.reset();
    }
    m_previewGraph.reset();
    m_ringForStatus.store(nullptr, std::memory_order_release);
    m_ring.reset();
    m_droppedFrames.store(0, std::memory_order_relaxed);
    m_duration.store(-1, std::memory_order_relaxed);
    m_durationLimit.store(0, std::memory_order_relaxed);
}

void CJobWnd::closeFileWriter()
{
    if (!m_fileWriter)
        return;
    const CAviWriterGraph::Closed closed = m_fileWriter->Close();
    m_fileWriter.reset();
    if (m_jobObserver != nullptr)
        m_jobObserver->captureFileClosed(closed.path);
    if (closed.error)
        reportFailure(*closed.error);
}

void CJobWnd::runCapture(std::stop_token)
{
    CaptureLocals locals{CaptureSplitRule(m_framesPerFile.load(), m_sceneGapSeconds.load())};
    locals.droppedBaseline = m_droppedBaseline;
    m_duration.store(0, std::memory_order_relaxed);
    m_framesWritten.store(0, std::memory_order_relaxed);
    REFERENCE_TIME duration = 0;
    const std::byte* data = nullptr;
    long length = 0;
    while (GetState() != JOB_IDLE) {
        if (!m_ring->Get(&duration, &data, &length)) {
            // Stopped and empty: StopJob, or the end of the device's stream. Nothing more comes;
            // frames the device lost after the last one it sent still count.
            if (GetState() == JOB_CAPTURE_RECORDING)
                m_droppedFrames.store(m_captureGraph->GetDroppedCount() - locals.droppedBaseline,
                                      std::memory_order_relaxed);
            if (GetState() != JOB_IDLE)
                m_hasStreamEnded.store(true, std::memory_order_release);
            break;
        }
        captureFrame(data, length, duration, locals);
    }
    closeFileWriter();
}

void CJobWnd::captureFrame(const std::byte* data, long length, REFERENCE_TIME duration, CaptureLocals& locals)
{
    const std::span<const std::byte> frame(data, static_cast<std::size_t>(std::max(length, 0L)));
    const std::int64_t recordingTime = dv::GetRecordingTime(frame);
    const dv::VideoSystem system = videoSystemOfLength(length);
    if (system != dv::VideoSystem::Unknown)
        dv::AnalyseFrame(frame, system, locals.info, static_cast<long>(locals.framesInFile), m_frameInfoObserver);
    const std::int64_t jump = locals.splitRule.takeRecordingTime(recordingTime);

    if (m_previewGraph && m_ring->isLessThanHalfFull())
        m_previewGraph->Deliver(duration, data, length);

    const JobState state = GetState();
    if (state != JOB_CAPTURE_RECORDING) {
        closeFileWriter();
        locals.droppedBaseline = m_captureGraph->GetDroppedCount();
        if (state != JOB_FINISHED) {
            m_duration.store(0, std::memory_order_relaxed);
            m_droppedFrames.store(0, std::memory_order_relaxed);
        }
        return;
    }

    try {
        if (m_fileWriter && locals.splitRule.startsNewFile(locals.framesInFile, jump))
            closeFileWriter();
        if (!m_fileWriter && system != dv::VideoSystem::Unknown) {
            std::lock_guard lock(m_recordingMutex);
            m_fileWriter = std::make_unique<CAviWriterGraph>(m_baseName, m_nameFormat, m_numberWidth,
                                                             locals.splitRule.lastRecordingTime(),
                                                             m_isType2Output.load(), system);
            locals.framesInFile = 0;
            locals.fileFrameIndex = 0;
        }
        const std::int32_t step = std::max(m_frameStep.load(std::memory_order_relaxed), 1);
        if (m_fileWriter && locals.fileFrameIndex % step == 0) {
            m_fileWriter->Deliver(duration, data, length);
            ++locals.framesInFile;
            m_framesWritten.fetch_add(1, std::memory_order_relaxed);
        }
        if (m_fileWriter && locals.splitRule.lastRecordingTime() != 0 && m_fileWriter->NameTime() == 0)
            m_fileWriter->SetNameTime(locals.splitRule.lastRecordingTime());
    } catch (const std::exception& error) {
        closeFileWriter();  // every frame written so far stays, in a closed and named file
        reportFailure(error.what());
        moveState(m_state, JOB_CAPTURE_RECORDING, JOB_CAPTURE_PREVIEW);
        return;
    }
    ++locals.fileFrameIndex;
    const REFERENCE_TIME total = m_duration.load(std::memory_order_relaxed) + duration;
    m_duration.store(total, std::memory_order_relaxed);
    const REFERENCE_TIME limit = m_durationLimit.load(std::memory_order_relaxed);
    if (limit != 0 && total >= limit) {
        m_durationLimit.store(0, std::memory_order_relaxed);
        moveState(m_state, JOB_CAPTURE_RECORDING, JOB_FINISHED);
    }
    m_droppedFrames.store(m_captureGraph->GetDroppedCount() - locals.droppedBaseline, std::memory_order_relaxed);
}

void CJobWnd::runPrint(std::stop_token)
{
    REFERENCE_TIME duration = 0;
    const std::byte* data = nullptr;
    long length = 0;
    // Each frame taken from the list is analysed once, numbered by its place in the list, so the
    // panel shows the recording data of the frame on its way to the tape (repeats are not
    // analysed again).
    dv::DVFrameInfo info{};
    long listIndex = 0;
    const auto analyse = [&] {
        const dv::VideoSystem system = videoSystemOfLength(length);
        if (system != dv::VideoSystem::Unknown)
            dv::AnalyseFrame(std::span(data, static_cast<std::size_t>(length)), system, info, listIndex++,
                             m_frameInfoObserver);
    };
    if (!m_ring->Get(&duration, &data, &length)) {
        finishList();  // not one frame: StopJob came first, or the first file could not be read
        return;
    }
    m_duration.store(0, std::memory_order_relaxed);
    analyse();
    while (GetState() != JOB_IDLE) {
        if (m_previewGraph && m_isTapePreviewOn && (m_ring->isStopped() || m_ring->isMoreThanHalfFull()))
            m_previewGraph->Deliver(duration, data, length);
        try {
            m_tapeOutputGraph->Deliver(duration, data, length);
        } catch (const std::exception& error) {
            if (GetState() == JOB_IDLE)
                return;  // StopJob stopped the graph under the delivery
            m_ring->Stop();
            reportFailure(error.what());  // before the state says finished, for those who watch it
            moveToFinished();
            return;
        }
        if (GetState() == JOB_TAPE_RECORDING) {
            m_duration.fetch_add(duration, std::memory_order_relaxed);
            if (m_ring->Get(&duration, &data, &length))
                analyse();
            else if (!finishList())
                return;  // StopJob came first
        }
    }
}

// The list has ended, after its last frame or at a file that could not be read. A file that
// could not be read is reported before the state says finished: whoever sees the job finished
// (the window, the print tool's exit status) has seen the failure too.
bool CJobWnd::finishList()
{
    const JobState state = GetState();
    if (state != JOB_TAPE_PAUSED && state != JOB_TAPE_RECORDING)
        return false;
    if (auto failed = m_fileListSource->FirstError())
        reportFailure(*failed);
    m_hasStreamEnded.store(true, std::memory_order_release);
    return moveToFinished();
}

// Moves a print job, paused or recording, to finished; false if StopJob came first.
bool CJobWnd::moveToFinished()
{
    while (true) {  // a pause or a resume may come in between
        const JobState state = GetState();
        if (state != JOB_TAPE_PAUSED && state != JOB_TAPE_RECORDING)
            return state == JOB_FINISHED;
        if (moveState(m_state, state, JOB_FINISHED))
            return true;
    }
}

}  // namespace vantrel::pipeline
