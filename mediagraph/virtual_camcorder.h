// SPDX-License-Identifier: GPL-3.0-or-later
// A camcorder without hardware: plays, winds and records a "tape" that is a DV AVI or raw .dv file.
//
// Design note. One sender thread owns the transport: in play it reads the frame at the tape
// position and hands it to the attached receiver, paced at the tape's frame rate (or as fast as
// the receiver takes it); in freeze it repeats the frame at the position, paced; fast forward and
// rewind move the position ten frames per frame period (per millisecond at full speed), send
// nothing and stop at the ends. A sender more than a second behind its schedule (a receiver that
// blocked) starts a new schedule rather than bursting; it loses no frames for being late: only the
// drop hooks lose frames. Recording runs on the caller's thread (`receiveFrame`), writing at the
// position. Mode changes may come from any thread; every wait of the sender wakes on a mode change
// and on destruction, which joins it.
#pragma once

#include "dv/dif_layout.h"
#include "dv/expected.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <span>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::mediagraph {

class VirtualTape;

// Transport modes of a DV camcorder, the values that `put_Mode` takes.
inline constexpr long ED_MODE_PLAY = 4296;
inline constexpr long ED_MODE_STOP = 4297;
inline constexpr long ED_MODE_FREEZE = 4298;
inline constexpr long ED_MODE_FF = 4300;
inline constexpr long ED_MODE_REW = 4301;
inline constexpr long ED_MODE_RECORD = 4302;
inline constexpr long ED_MODE_STEP_FWD = 4304;
inline constexpr long ED_MODE_RECORD_FREEZE = 4904;
inline constexpr long ED_MODE_STEP_REV = 4905;

// Where the frames the camcorder plays go. Both calls come on the camcorder's sender thread, one at
// a time. A call may block (back-pressure) and may change the camcorder's mode, but it must return
// for attachReceiver and the camcorder's destruction to finish: unblock it (stop the ring or graph
// that it feeds) before detaching it.
struct IDvFrameReceiver {
    virtual ~IDvFrameReceiver() = default;
    // One whole DV frame (144000 bytes PAL, 120000 NTSC); the bytes are valid only during the call.
    virtual void receiveDvFrame(std::int64_t durationHns, std::span<const std::byte> frame) = 0;
    // Play reached the end of the tape; the camcorder has gone to stop.
    virtual void endOfTape() = 0;
};

// How fast the camcorder sends in play.
enum class SendPace {
    Unknown,
    FromEnvironment,  // VANTREL_VIRTUAL_SPEED=max means AsFastAsTaken, anything else TapeRate
    TapeRate,         // one frame per frame period (40 ms PAL, 33.367 ms NTSC)
    AsFastAsTaken,    // the next frame as soon as the receiver returns
};

struct VirtualCamcorderOptions {
    SendPace pace = SendPace::FromEnvironment;
    int windFramesPerPeriod = 10;  // fast forward and rewind speed: 10 × play speed
};

// What `receiveFrame` did with a frame.
enum class RecordOutcome {
    Unknown,
    Recorded,        // written onto the tape at the position, which moved on by one
    PausedDropped,   // record-pause: taken and dropped
    NotRecording,    // any other mode: ignored
    WrongFormat,     // not a whole DV frame, or not the standard already on the tape
    WriteFailed,     // the tape file could not be written; `lastError()` says why
};

class CVirtualCamcorder {
public:
    // Opens the tape (DV AVI of either type, or raw .dv; an empty raw file is a blank tape) and
    // starts the sender thread, in stop, at position 0. On failure, a message naming the file.
    static Expected<std::unique_ptr<CVirtualCamcorder>, std::string>
    open(const std::filesystem::path& tapePath, VirtualCamcorderOptions options = {});

    ~CVirtualCamcorder();  // stops the sender thread and joins it; no receiver call after it returns
    CVirtualCamcorder(const CVirtualCamcorder&) = delete;
    CVirtualCamcorder& operator=(const CVirtualCamcorder&) = delete;

    // "Virtual DV camcorder (NAME)", NAME the tape's file name ("holiday.avi").
    static std::string friendlyNameFor(const std::filesystem::path& tapePath);
    std::string friendlyName() const;
    // Where an AVI tape is recorded: NAME.recorded.dv beside it ("holiday.avi.recorded.dv").
    static std::filesystem::path recordedTapePathFor(const std::filesystem::path& aviTapePath);

    // Sets the transport mode (an ED_MODE_* value). Returns false, changing nothing, for any other value.
    // Steps move one frame and leave the camcorder in freeze on the new frame.
    bool setMode(long edMode);
    long mode() const;
    // Waits until the mode is edMode (fast forward, rewind and play go to stop by themselves at the ends).
    bool waitForMode(long edMode, std::chrono::milliseconds timeout) const;

    // Sets the receiver of played frames, or none (nullptr). When it returns, the previous receiver
    // is no longer being called. Not to be called from inside a receiver call.
    void attachReceiver(IDvFrameReceiver* receiver);

    // Recording side: in record writes the frame at the position (overwriting, or lengthening the
    // tape at its end); in record-pause drops it; otherwise ignores it. Any thread.
    RecordOutcome receiveFrame(std::span<const std::byte> frame);

    std::int64_t position() const;    // frame index of the tape position, 0..frameCount()
    void setPosition(std::int64_t frameIndex);  // clamped to 0..frameCount()
    std::int64_t frameCount() const;  // the tape's length in frames
    dv::VideoSystem videoSystem() const;  // Unknown for a blank tape
    std::int64_t frameDurationHns() const;  // 400000 PAL, 333667 NTSC and blank
    std::filesystem::path tapePath() const;  // the file holding the tape now (changes on an AVI's first record)

    std::uint64_t framesSent() const;
    std::uint64_t framesRecorded() const;
    // Frames that reached the DV input, recorded or not (record-pause drops them).
    std::uint64_t framesReceived() const;
    // Frames the camcorder lost instead of sending (what a capture reports as dropped frames).
    std::uint64_t droppedFrames() const;
    // Test hooks: lose every n-th frame that would be sent (0: none), or the next count frames.
    void dropEvery(std::uint32_t n);
    void dropNext(std::uint32_t count);
    // Test hook: while held, each frame reaching the DV input waits there (counted as received),
    // so that a test can keep frames queued towards the camcorder across a mode change.
    void holdIntake(bool isHeld);

    std::string lastError() const;  // the last write or read failure, empty if none

private:
    CVirtualCamcorder(std::unique_ptr<VirtualTape> tape, std::filesystem::path originalPath, SendPace pace,
                      int windFramesPerPeriod);
    struct SenderTurn;
    void runSender(std::stop_token stop);
    void sendUntilStopped(std::stop_token stop);
    SenderTurn takeTurn();                   // under m_stateMutex
    void deliver(const SenderTurn& turn);    // without m_stateMutex
    bool takeDropDecision();                 // under m_stateMutex

    const std::filesystem::path m_originalPath;
    const SendPace m_pace;  // TapeRate or AsFastAsTaken
    const int m_windFramesPerPeriod;

    mutable std::mutex m_stateMutex;  // guards everything below up to m_receiverMutex
    mutable std::condition_variable_any m_stateChanged;
    std::unique_ptr<VirtualTape> m_tape;  // also read by the sender and written by receiveFrame
    long m_mode = ED_MODE_STOP;
    std::uint64_t m_modeGeneration = 0;  // bumped by every setMode and setPosition: wakes the sender's waits
    std::int64_t m_position = 0;
    std::uint64_t m_framesSent = 0;
    std::uint64_t m_framesRecorded = 0;
    std::uint64_t m_framesReceived = 0;
    std::uint64_t m_droppedFrames = 0;
    std::uint32_t m_dropEvery = 0;
    std::uint32_t m_dropNext = 0;
    bool m_isIntakeHeld = false;
    std::uint64_t m_framesOffered = 0;  // frames that would have been sent: counts for dropEvery
    std::string m_lastError;

    std::mutex m_receiverMutex;  // held by the sender during a receiver call, and by attachReceiver
    IDvFrameReceiver* m_receiver = nullptr;
    std::vector<std::byte> m_sendBuffer;  // one frame, allocated once; sender thread only

    std::jthread m_sender;  // last: stops and joins before the members above go
};

}  // namespace vantrel::mediagraph
