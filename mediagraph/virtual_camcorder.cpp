// SPDX-License-Identifier: GPL-3.0-or-later
// A camcorder without hardware: plays, winds and records a "tape" that is a DV AVI or raw .dv file.
#include "mediagraph/virtual_camcorder.h"

#include "mediagraph/virtual_tape.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace vantrel::mediagraph {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int64_t kPalFrameHns = 400'000;  // 40 ms
constexpr std::int64_t kNtscFrameHns = 333'667;  // 1001/30000 s, rounded
// At full speed the winding modes tick this often instead of once a frame period.
constexpr auto kFastWindTick = std::chrono::milliseconds(1);
// A sender this far behind its schedule (a slow receiver) starts a new schedule instead of bursting.
constexpr auto kMaxLateness = std::chrono::seconds(1);

SendPace resolvePace(SendPace pace)
{
    if (pace == SendPace::TapeRate || pace == SendPace::AsFastAsTaken) return pace;
    const char* speed = std::getenv("VANTREL_VIRTUAL_SPEED");
    return speed != nullptr && std::strcmp(speed, "max") == 0 ? SendPace::AsFastAsTaken : SendPace::TapeRate;
}

bool isKnownMode(long edMode)
{
    switch (edMode) {
    case ED_MODE_PLAY:
    case ED_MODE_STOP:
    case ED_MODE_FREEZE:
    case ED_MODE_FF:
    case ED_MODE_REW:
    case ED_MODE_RECORD:
    case ED_MODE_STEP_FWD:
    case ED_MODE_RECORD_FREEZE:
    case ED_MODE_STEP_REV:
        return true;
    default:
        return false;
    }
}

// The modes in which the sender thread has something to do.
bool isTransportMoving(long edMode)
{
    return edMode == ED_MODE_PLAY || edMode == ED_MODE_FREEZE || edMode == ED_MODE_FF || edMode == ED_MODE_REW;
}

bool isRecordingMode(long edMode) { return edMode == ED_MODE_RECORD || edMode == ED_MODE_RECORD_FREEZE; }

}  // namespace

Expected<std::unique_ptr<CVirtualCamcorder>, std::string>
CVirtualCamcorder::open(const std::filesystem::path& tapePath, VirtualCamcorderOptions options)
{
    auto tape = VirtualTape::open(tapePath);
    if (!tape) return unexpected(tape.error());
    return std::unique_ptr<CVirtualCamcorder>(new CVirtualCamcorder(
        std::move(*tape), tapePath, resolvePace(options.pace), std::max(1, options.windFramesPerPeriod)));
}

CVirtualCamcorder::CVirtualCamcorder(std::unique_ptr<VirtualTape> tape, std::filesystem::path originalPath,
                                     SendPace pace, int windFramesPerPeriod)
    : m_originalPath(std::move(originalPath)),
      m_pace(pace),
      m_windFramesPerPeriod(windFramesPerPeriod),
      m_tape(std::move(tape)),
      m_sendBuffer(dv::kMaxFrameBytes),
      m_sender([this](std::stop_token stop) { runSender(stop); })
{
}

CVirtualCamcorder::~CVirtualCamcorder()
{
    m_sender.request_stop();  // wakes the sender's waits (they take the stop token)
    if (m_sender.joinable()) m_sender.join();
    std::lock_guard lock(m_stateMutex);
    if (isRecordingMode(m_mode)) m_tape->flush();
}

std::string CVirtualCamcorder::friendlyNameFor(const std::filesystem::path& tapePath)
{
    return "Virtual DV camcorder (" + tapePath.filename().string() + ")";
}

std::string CVirtualCamcorder::friendlyName() const { return friendlyNameFor(m_originalPath); }

std::filesystem::path CVirtualCamcorder::recordedTapePathFor(const std::filesystem::path& aviTapePath)
{
    std::filesystem::path recorded = aviTapePath;
    recorded += ".recorded.dv";
    return recorded;
}

bool CVirtualCamcorder::setMode(long edMode)
{
    if (!isKnownMode(edMode)) return false;
    std::lock_guard lock(m_stateMutex);
    if (isRecordingMode(m_mode) && !isRecordingMode(edMode)) m_tape->flush();
    const std::int64_t frames = m_tape->frameCount();
    if (edMode == ED_MODE_STEP_FWD) {
        m_position = std::min(m_position + 1, frames);
        edMode = ED_MODE_FREEZE;  // a step shows the new frame as a still
    } else if (edMode == ED_MODE_STEP_REV) {
        m_position = std::max<std::int64_t>(m_position - 1, 0);
        edMode = ED_MODE_FREEZE;
    }
    m_mode = edMode;
    ++m_modeGeneration;
    m_stateChanged.notify_all();
    return true;
}

long CVirtualCamcorder::mode() const
{
    std::lock_guard lock(m_stateMutex);
    return m_mode;
}

bool CVirtualCamcorder::waitForMode(long edMode, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_stateMutex);
    return m_stateChanged.wait_for(lock, timeout, [&] { return m_mode == edMode; });
}

void CVirtualCamcorder::attachReceiver(IDvFrameReceiver* receiver)
{
    std::lock_guard lock(m_receiverMutex);  // waits for a receiver call in progress
    m_receiver = receiver;
}

RecordOutcome CVirtualCamcorder::receiveFrame(std::span<const std::byte> frame)
{
    std::unique_lock lock(m_stateMutex);
    ++m_framesReceived;
    m_stateChanged.wait(lock, [&] { return !m_isIntakeHeld; });
    if (m_mode == ED_MODE_RECORD_FREEZE) return RecordOutcome::PausedDropped;
    if (m_mode != ED_MODE_RECORD) return RecordOutcome::NotRecording;
    const dv::VideoSystem frameSystem = videoSystemOfWholeFrame(frame);
    if (frameSystem == dv::VideoSystem::Unknown ||
        (m_tape->videoSystem() != dv::VideoSystem::Unknown && frameSystem != m_tape->videoSystem())) {
        return RecordOutcome::WrongFormat;
    }
    if (auto written = m_tape->writeFrame(m_position, frame); !written) {
        m_lastError = written.error();
        return RecordOutcome::WriteFailed;
    }
    ++m_position;
    ++m_framesRecorded;
    return RecordOutcome::Recorded;
}

std::int64_t CVirtualCamcorder::position() const
{
    std::lock_guard lock(m_stateMutex);
    return m_position;
}

void CVirtualCamcorder::setPosition(std::int64_t frameIndex)
{
    std::lock_guard lock(m_stateMutex);
    m_position = std::clamp<std::int64_t>(frameIndex, 0, m_tape->frameCount());
    ++m_modeGeneration;  // a freeze shows the new frame at once
    m_stateChanged.notify_all();
}

std::int64_t CVirtualCamcorder::frameCount() const
{
    std::lock_guard lock(m_stateMutex);
    return m_tape->frameCount();
}

dv::VideoSystem CVirtualCamcorder::videoSystem() const
{
    std::lock_guard lock(m_stateMutex);
    return m_tape->videoSystem();
}

std::int64_t CVirtualCamcorder::frameDurationHns() const
{
    return videoSystem() == dv::VideoSystem::Ntsc525_60 ? kNtscFrameHns : kPalFrameHns;
}

std::filesystem::path CVirtualCamcorder::tapePath() const
{
    std::lock_guard lock(m_stateMutex);
    return m_tape->path();
}

std::uint64_t CVirtualCamcorder::framesSent() const
{
    std::lock_guard lock(m_stateMutex);
    return m_framesSent;
}

std::uint64_t CVirtualCamcorder::framesRecorded() const
{
    std::lock_guard lock(m_stateMutex);
    return m_framesRecorded;
}

std::uint64_t CVirtualCamcorder::framesReceived() const
{
    std::lock_guard lock(m_stateMutex);
    return m_framesReceived;
}

std::uint64_t CVirtualCamcorder::droppedFrames() const
{
    std::lock_guard lock(m_stateMutex);
    return m_droppedFrames;
}

void CVirtualCamcorder::dropEvery(std::uint32_t n)
{
    std::lock_guard lock(m_stateMutex);
    m_dropEvery = n;
    m_framesOffered = 0;  // the n-th frame from now is the first one lost
}

void CVirtualCamcorder::dropNext(std::uint32_t count)
{
    std::lock_guard lock(m_stateMutex);
    m_dropNext = count;
}

void CVirtualCamcorder::holdIntake(bool isHeld)
{
    std::lock_guard lock(m_stateMutex);
    m_isIntakeHeld = isHeld;
    m_stateChanged.notify_all();
}

std::string CVirtualCamcorder::lastError() const
{
    std::lock_guard lock(m_stateMutex);
    return m_lastError;
}

bool CVirtualCamcorder::takeDropDecision()
{
    ++m_framesOffered;
    bool isDropped = false;
    if (m_dropNext > 0) {
        --m_dropNext;
        isDropped = true;
    } else if (m_dropEvery > 0 && m_framesOffered % m_dropEvery == 0) {
        isDropped = true;
    }
    m_droppedFrames += isDropped ? 1 : 0;
    return isDropped;
}

// What one turn of the sender decided under the state lock, to be carried out without it.
struct CVirtualCamcorder::SenderTurn {
    bool hasFrame = false;       // m_sendBuffer holds a frame to send
    bool isEndOfTape = false;    // play ran off the end: tell the receiver
    std::int64_t durationHns = 0;
    std::size_t frameBytes = 0;
};

CVirtualCamcorder::SenderTurn CVirtualCamcorder::takeTurn()
{
    SenderTurn turn;
    const std::int64_t frames = m_tape->frameCount();
    auto stopTransport = [this] {
        m_mode = ED_MODE_STOP;
        ++m_modeGeneration;
        m_stateChanged.notify_all();
    };
    auto loadFrame = [&](std::int64_t index) {
        if (auto read = m_tape->readFrame(index, m_sendBuffer); !read) {
            m_lastError = read.error();
            stopTransport();
            turn.isEndOfTape = true;  // the stream ends here for the receiver
            return false;
        }
        turn.durationHns = m_tape->videoSystem() == dv::VideoSystem::Ntsc525_60 ? kNtscFrameHns : kPalFrameHns;
        turn.frameBytes = m_tape->frameBytes();
        turn.hasFrame = !takeDropDecision();
        return true;
    };

    switch (m_mode) {
    case ED_MODE_PLAY:
        if (m_position >= frames) {
            stopTransport();
            turn.isEndOfTape = true;
        } else if (loadFrame(m_position)) {
            ++m_position;  // the tape moves on whether or not the frame got through
        }
        break;
    case ED_MODE_FREEZE:
        if (frames > 0) loadFrame(std::min(m_position, frames - 1));
        break;
    case ED_MODE_FF:
        m_position = std::min(m_position + m_windFramesPerPeriod, frames);
        if (m_position == frames) stopTransport();
        break;
    case ED_MODE_REW:
        m_position = std::max<std::int64_t>(m_position - m_windFramesPerPeriod, 0);
        if (m_position == 0) stopTransport();
        break;
    default:
        break;
    }
    return turn;
}

void CVirtualCamcorder::deliver(const SenderTurn& turn)
{
    std::lock_guard receiverLock(m_receiverMutex);
    if (m_receiver == nullptr) return;
    if (turn.hasFrame) {
        m_receiver->receiveDvFrame(turn.durationHns, std::span<const std::byte>(m_sendBuffer).first(turn.frameBytes));
    }
    if (turn.isEndOfTape) m_receiver->endOfTape();
}

void CVirtualCamcorder::runSender(std::stop_token stop)
{
    try {
        sendUntilStopped(stop);
    } catch (const std::exception& e) {  // nothing leaves the thread: the tape stops with a message
        std::lock_guard lock(m_stateMutex);
        m_lastError = std::string("virtual camcorder stopped: ") + e.what();
        m_mode = ED_MODE_STOP;
        ++m_modeGeneration;
        m_stateChanged.notify_all();
    }
}

void CVirtualCamcorder::sendUntilStopped(std::stop_token stop)
{
    std::unique_lock lock(m_stateMutex);
    Clock::time_point deadline = Clock::now();
    std::uint64_t scheduledGeneration = m_modeGeneration - 1;
    while (!stop.stop_requested()) {
        if (!m_stateChanged.wait(lock, stop, [&] { return isTransportMoving(m_mode); })) break;
        const std::uint64_t generation = m_modeGeneration;
        if (generation != scheduledGeneration) {  // a new mode or position: a new schedule from now
            deadline = Clock::now();
            scheduledGeneration = generation;
        }
        const long turnMode = m_mode;
        const SenderTurn turn = takeTurn();
        const std::int64_t periodHns = m_tape->videoSystem() == dv::VideoSystem::Ntsc525_60 ? kNtscFrameHns : kPalFrameHns;

        if (turn.hasFrame || turn.isEndOfTape) {
            lock.unlock();
            try {
                deliver(turn);
            } catch (const std::exception& e) {  // a receiver's failure stops the tape, not the program
                lock.lock();
                m_lastError = std::string("frame receiver failed: ") + e.what();
                m_mode = ED_MODE_STOP;
                ++m_modeGeneration;
                m_stateChanged.notify_all();
                continue;
            }
            lock.lock();
            m_framesSent += turn.hasFrame ? 1 : 0;
        }

        if (turnMode == ED_MODE_PLAY && m_pace == SendPace::AsFastAsTaken) continue;
        const bool isWinding = turnMode == ED_MODE_FF || turnMode == ED_MODE_REW;
        if (isWinding && m_pace == SendPace::AsFastAsTaken) {
            deadline += kFastWindTick;
        } else {
            deadline += std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(periodHns * 100));
        }
        const auto now = Clock::now();
        if (now - deadline > kMaxLateness) deadline = now;
        m_stateChanged.wait_until(lock, stop, deadline, [&] { return m_modeGeneration != generation; });
    }
}

}  // namespace vantrel::mediagraph
