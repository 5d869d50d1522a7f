// SPDX-License-Identifier: GPL-3.0-or-later
// The job side of the job window: runs the capture and print-to-tape jobs and keeps their state and counters.
//
// Design note. One job at a time: its graphs, the frame ring between the reading side and the
// worker, the worker thread and the preview. The controlling thread (the window's, or a command-
// line tool's) calls the operations; the worker and the streaming threads run the job. State and
// counters are atomics: the status display reads them from any thread without tearing. StopJob
// stops the ring first (releasing a producer blocked on a full ring and a worker blocked on an
// empty one), then the reading side, joins the worker, and only then deletes what it used; the
// open capture file is closed and renamed on the way. Errors on the worker never leave it: the
// recording ends (capture back to JOB_CAPTURE_PREVIEW, print to JOB_FINISHED), the files written
// so far are closed and named, and the message goes to the observer.
#pragma once

#include "dv/pack_decoders.h"
#include "pipeline/bridge_filters.h"
#include "pipeline/frame_ring.h"
#include "pipeline/job_state.h"
#include "pipeline/preview_picture_sink.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace vantrel::pipeline {

class CAviWriterGraph;
class CCaptureGraph;
class CDVOutGraph;
class CFileListSource;
class CPreviewGraph;

// Told what a job did that the shell shows or reports. Calls come on the worker thread, or on
// the thread that calls StopJob; they must not call back into the job.
class IJobObserver {
public:
    // A capture file was closed and has its final name.
    virtual void captureFileClosed(const std::string& path) = 0;
    // The job's recording ended on an error; the shell shows "Error: %s".
    virtual void jobFailed(const std::string& message) = 0;

protected:
    ~IJobObserver() = default;
};

class CJobWnd {
public:
    static constexpr std::int32_t kRingCapacity = 1000;

    CJobWnd();
    ~CJobWnd();  // StopJob
    CJobWnd(const CJobWnd&) = delete;
    CJobWnd& operator=(const CJobWnd&) = delete;

    // Settings, read when a job or a file starts. Defaults: type 2, scene gap 1 s, 22500 frames per
    // file (the shell sets 90000), frame step 1, tape preview on, auto device control off.
    void SetType2Output(bool isType2) noexcept { m_isType2Output = isType2; }
    void SetSceneGap(std::int32_t seconds) noexcept { m_sceneGapSeconds = seconds; }
    void SetFramesPerFile(std::int32_t frames) noexcept { m_framesPerFile = frames; }
    void SetFrameStep(std::int32_t step) noexcept { m_frameStep = step; }
    void SetTapePreview(bool isOn) noexcept { m_isTapePreviewOn = isOn; }
    void SetAutoDeviceControl(bool isOn) noexcept { m_isAutoDeviceControlOn = isOn; }
    bool IsType2Output() const noexcept { return m_isType2Output; }
    std::int32_t SceneGap() const noexcept { return m_sceneGapSeconds; }
    std::int32_t FramesPerFile() const noexcept { return m_framesPerFile; }
    std::int32_t FrameStep() const noexcept { return m_frameStep; }
    bool IsAutoDeviceControlOn() const noexcept { return m_isAutoDeviceControlOn; }

    // Where the preview's pictures go (null: no preview graph is built). Set before a job.
    void SetPreviewOwner(IPreviewOwner* owner) noexcept { m_previewOwner = owner; }
    // Told about every analysed frame (the info panel): each frame a capture takes, each frame a
    // print takes from its list. Set before a job.
    void SetFrameInfoObserver(dv::IFrameInfoObserver* observer) noexcept { m_frameInfoObserver = observer; }
    void SetJobObserver(IJobObserver* observer) noexcept { m_jobObserver = observer; }

    // Capture: the device's frames are analysed and previewed; nothing is written yet.
    void StartCapture(const std::string& deviceName);
    // In JOB_CAPTURE_PREVIEW only: files from now on; limit in 100 ns units, 0 for none.
    void StartRecording(const std::string& baseName, const std::string& nameFormat, std::int32_t numberWidth,
                        REFERENCE_TIME durationLimit);
    void StartRecording(const std::string& baseName, const std::string& nameFormat, std::int32_t numberWidth,
                        std::uint32_t limitLow, std::uint32_t limitHigh);
    // In JOB_CAPTURE_RECORDING only: back to JOB_CAPTURE_PREVIEW (the open file is closed).
    void StopRecording();

    // Print to tape: the listed files ("|"-separated, wildcards) to the named camcorder, paused.
    void StartPrintToTape(const std::string& fileList, const std::string& deviceName);
    // JOB_TAPE_PAUSED → JOB_TAPE_RECORDING; throws when the camcorder refuses to record.
    void ResumeTapeRecording();
    void PauseTapeRecording();   // JOB_TAPE_RECORDING → JOB_TAPE_PAUSED

    // Stops and destroys any job; safe in every state and from the destructor.
    void StopJob();

    JobState GetState() const noexcept { return m_state.load(std::memory_order_acquire); }
    std::int32_t GetDroppedFrames() const noexcept { return m_droppedFrames.load(std::memory_order_relaxed); }
    REFERENCE_TIME GetDuration() const noexcept { return m_duration.load(std::memory_order_relaxed); }
    // The ring's count and slot count; 0 and 0 without a ring.
    std::int32_t GetBufferCount() const noexcept;
    std::int32_t GetBufferSlotCount() const noexcept;
    // Whether the reading side's stream has ended (the device's end of tape, or the last print
    // file) and the worker has taken every frame: a capture job then has nothing more to do.
    bool HasStreamEnded() const noexcept { return m_hasStreamEnded.load(std::memory_order_acquire); }
    // The last error the job reported, if any.
    std::optional<std::string> LastError() const;
    // Frames written to capture files since recording began.
    std::uint64_t FramesWritten() const noexcept { return m_framesWritten.load(std::memory_order_relaxed); }

    // Lays out the preview again (the window calls it on every resize).
    void OnResize();

    // Transport commands to the capture device (the shell's wind and step buttons); nothing without
    // one. Throws the camcorder's refusal as the error to show.
    void SendCaptureTransport(long edMode);

private:
    // The job's frame sink: everything the reading side delivers goes into the ring.
    class RingSink : public IFrameSink {
    public:
        explicit RingSink(CJobWnd& owner) : m_owner(owner) {}
        void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override;

    private:
        CJobWnd& m_owner;
    };

    void runCapture(std::stop_token stop);
    void runPrint(std::stop_token stop);
    bool finishList();
    bool moveToFinished();
    void captureFrame(const std::byte* data, long length, REFERENCE_TIME duration, struct CaptureLocals& locals);
    void closeFileWriter();
    void reportFailure(const std::string& message);
    void makePreview(const CMediaType& type);

    RingSink m_frameSink{*this};
    std::atomic<JobState> m_state{JOB_IDLE};
    std::atomic<bool> m_isType2Output{true};
    std::atomic<std::int32_t> m_sceneGapSeconds{1};
    std::atomic<std::int32_t> m_framesPerFile{22500};
    std::atomic<std::int32_t> m_frameStep{1};
    std::atomic<bool> m_isTapePreviewOn{true};
    std::atomic<bool> m_isAutoDeviceControlOn{false};

    // The job: built and deleted by the controlling thread; the worker uses them between.
    std::unique_ptr<CFrameRing> m_ring;
    std::atomic<CFrameRing*> m_ringForStatus{nullptr};  // the status display's view of m_ring
    std::unique_ptr<CFileListSource> m_fileListSource;
    std::unique_ptr<CAviWriterGraph> m_fileWriter;  // the worker's while it runs
    std::unique_ptr<CCaptureGraph> m_captureGraph;
    std::unique_ptr<CDVOutGraph> m_tapeOutputGraph;
    std::unique_ptr<CPreviewGraph> m_previewGraph;
    std::jthread m_worker;
    std::mutex m_transportMutex;  // the controlling thread's transport commands against StopJob

    // Recording settings: written by StartRecording while the worker reads them.
    mutable std::mutex m_recordingMutex;
    std::string m_baseName;
    std::string m_nameFormat;
    std::int32_t m_numberWidth = 0;

    std::int32_t m_droppedBaseline = 0;  // the device's count when the capture started; set before the worker
    std::atomic<std::int32_t> m_droppedFrames{0};
    std::atomic<REFERENCE_TIME> m_duration{-1};
    std::atomic<REFERENCE_TIME> m_durationLimit{0};
    std::atomic<bool> m_hasStreamEnded{false};
    std::atomic<std::uint64_t> m_framesWritten{0};

    IPreviewOwner* m_previewOwner = nullptr;
    dv::IFrameInfoObserver* m_frameInfoObserver = nullptr;
    IJobObserver* m_jobObserver = nullptr;
    mutable std::mutex m_errorMutex;
    std::optional<std::string> m_lastError;
};

}  // namespace vantrel::pipeline
