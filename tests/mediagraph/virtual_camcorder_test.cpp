// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual camcorder's transport: play, freeze, winding, steps, recording, drops, threads.
#include "mediagraph/virtual_camcorder.h"

#include "mediagraph/virtual_tape.h"
#include "support/scoped_env.h"
#include "virtual_tape_fixtures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

namespace vantrel::mediagraph {
namespace {

using namespace std::chrono_literals;
using namespace vantrel::mediagraph::testing;
using dv::VideoSystem;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 10s;  // how long a test waits for something that must happen

// Keeps what the camcorder sends: frames, durations and arrival times.
class RecordingReceiver : public IDvFrameReceiver {
public:
    void receiveDvFrame(std::int64_t durationHns, std::span<const std::byte> frame) override
    {
        std::lock_guard lock(m_mutex);
        EXPECT_FALSE(m_isClosed) << "frame after the receiver was detached";
        m_frames.emplace_back(frame.begin(), frame.end());
        m_durations.push_back(durationHns);
        m_arrivals.push_back(Clock::now());
        m_changed.notify_all();
    }
    void endOfTape() override
    {
        std::lock_guard lock(m_mutex);
        ++m_endsOfTape;
        m_changed.notify_all();
    }
    bool waitForFrames(std::size_t count) { return waitFor([&] { return m_frames.size() >= count; }); }
    bool waitForEndOfTape(int count = 1) { return waitFor([&] { return m_endsOfTape >= count; }); }
    std::vector<std::uint32_t> numbers() const
    {
        std::lock_guard lock(m_mutex);
        std::vector<std::uint32_t> numbers;
        for (const auto& frame : m_frames) numbers.push_back(frameNumber(frame));
        return numbers;
    }
    std::vector<Frame> frames() const { std::lock_guard lock(m_mutex); return m_frames; }
    std::vector<std::int64_t> durations() const { std::lock_guard lock(m_mutex); return m_durations; }
    std::vector<Clock::time_point> arrivals() const { std::lock_guard lock(m_mutex); return m_arrivals; }
    int endsOfTape() const { std::lock_guard lock(m_mutex); return m_endsOfTape; }
    std::size_t count() const { std::lock_guard lock(m_mutex); return m_frames.size(); }
    void close() { std::lock_guard lock(m_mutex); m_isClosed = true; }

private:
    template <class P>
    bool waitFor(P isDone)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, isDone);
    }
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Frame> m_frames;
    std::vector<std::int64_t> m_durations;
    std::vector<Clock::time_point> m_arrivals;
    int m_endsOfTape = 0;
    bool m_isClosed = false;
};

struct Deck {
    std::filesystem::path path;
    std::vector<Frame> frames;
    std::unique_ptr<CVirtualCamcorder> camcorder;
};

Deck rawDeck(const std::string& name, std::uint32_t frameCount, SendPace pace,
             VideoSystem system = VideoSystem::Pal625_50)
{
    Deck deck;
    deck.path = testsupport::freshTestFolder() / name;
    deck.frames = numberedFrames(system, frameCount);
    writeRawTape(deck.path, deck.frames);
    auto camcorder = CVirtualCamcorder::open(deck.path, {pace});
    if (!camcorder) throw std::runtime_error(camcorder.error());  // fails the test
    deck.camcorder = std::move(*camcorder);
    return deck;
}

std::vector<std::uint32_t> sequence(std::uint32_t from, std::uint32_t to)
{
    std::vector<std::uint32_t> numbers;
    for (std::uint32_t i = from; i < to; ++i) numbers.push_back(i);
    return numbers;
}

TEST(VirtualCamcorder, is_named_after_its_tape_and_starts_stopped_at_the_beginning)
{
    Deck deck = rawDeck("beach.dv", 3, SendPace::TapeRate, VideoSystem::Ntsc525_60);
    EXPECT_EQ(deck.camcorder->friendlyName(), "Virtual DV camcorder (beach.dv)");
    EXPECT_EQ(deck.camcorder->mode(), ED_MODE_STOP);
    EXPECT_EQ(deck.camcorder->position(), 0);
    EXPECT_EQ(deck.camcorder->frameCount(), 3);
    EXPECT_EQ(deck.camcorder->videoSystem(), VideoSystem::Ntsc525_60);
    EXPECT_FALSE(deck.camcorder->setMode(4299));
    EXPECT_FALSE(deck.camcorder->setMode(0));
    EXPECT_EQ(deck.camcorder->mode(), ED_MODE_STOP);
    auto missing = CVirtualCamcorder::open(deck.path.parent_path() / "none.dv");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("none.dv"), std::string::npos);
}

TEST(VirtualCamcorder, play_sends_every_frame_bit_exact_in_order_at_the_tape_rate_then_stops)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("play.dv", 10, SendPace::TapeRate);
    deck.camcorder->attachReceiver(&receiver);
    ASSERT_TRUE(deck.camcorder->setMode(ED_MODE_PLAY));
    ASSERT_TRUE(receiver.waitForEndOfTape());
    EXPECT_TRUE(deck.camcorder->waitForMode(ED_MODE_STOP, kPatience));

    EXPECT_EQ(receiver.numbers(), sequence(0, 10));
    EXPECT_EQ(receiver.frames(), deck.frames);
    EXPECT_EQ(receiver.durations(), std::vector<std::int64_t>(10, 400'000));
    EXPECT_EQ(receiver.endsOfTape(), 1);
    EXPECT_EQ(deck.camcorder->position(), 10);
    EXPECT_EQ(deck.camcorder->framesSent(), 10u);
    EXPECT_EQ(deck.camcorder->droppedFrames(), 0u);
    // Paced, not flooded: nine intervals of 40 ms (how fast it keeps the pace is the benchmark's).
    const auto arrivals = receiver.arrivals();
    EXPECT_GT(arrivals.back() - arrivals.front(), 9 * 30ms);
}

TEST(VirtualCamcorder, play_at_full_speed_from_the_environment_starts_at_the_position_and_stop_sends_nothing)
{
    RecordingReceiver receiver;
    Deck deck = [] {
        const testsupport::ScopedEnv speed("VANTREL_VIRTUAL_SPEED", "max");
        return rawDeck("fast.dv", 60, SendPace::FromEnvironment, VideoSystem::Ntsc525_60);
    }();
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->setPosition(5);
    deck.camcorder->setMode(ED_MODE_PLAY);
    ASSERT_TRUE(receiver.waitForEndOfTape());
    // Nothing came while stopped, and all 55 frames at once (1.8 s at the tape rate, 10 s allowed).
    EXPECT_EQ(receiver.frames(), std::vector<Frame>(deck.frames.begin() + 5, deck.frames.end()));
    EXPECT_EQ(receiver.durations().front(), 333'667);
    deck.camcorder->setMode(ED_MODE_PLAY);  // play at the end: straight back to stop
    ASSERT_TRUE(receiver.waitForEndOfTape(2));
    EXPECT_EQ(deck.camcorder->mode(), ED_MODE_STOP);
    EXPECT_EQ(receiver.count(), 55u);
    deck.camcorder->setPosition(100);
    EXPECT_EQ(deck.camcorder->position(), 60);
    deck.camcorder->setPosition(-4);
    EXPECT_EQ(deck.camcorder->position(), 0);
}

TEST(VirtualCamcorder, freeze_repeats_the_frame_at_the_position_until_stopped)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("freeze.dv", 6, SendPace::AsFastAsTaken);
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->setPosition(3);
    const auto start = Clock::now();
    deck.camcorder->setMode(ED_MODE_FREEZE);
    ASSERT_TRUE(receiver.waitForFrames(4));
    deck.camcorder->setMode(ED_MODE_STOP);
    const auto sentAtStop = receiver.count();
    deck.camcorder->attachReceiver(nullptr);  // waits for a call in flight
    const auto elapsed = Clock::now() - start;
    const auto frames = receiver.frames();
    EXPECT_LE(frames.size(), sentAtStop + 1) << "at most the frame in flight when stop came";
    for (const auto& frame : frames) EXPECT_EQ(frame, deck.frames[3]);
    EXPECT_EQ(deck.camcorder->position(), 3);
    // Freeze is paced even at full speed: a still every 40 ms, not a flood.
    EXPECT_LE(frames.size(), static_cast<std::size_t>(elapsed / 40ms) + 2);
}

TEST(VirtualCamcorder, fast_forward_and_rewind_move_the_tape_without_sending_and_stop_at_the_ends)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("wind.dv", 40, SendPace::TapeRate);
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->setPosition(5);
    deck.camcorder->setMode(ED_MODE_FF);
    ASSERT_TRUE(deck.camcorder->waitForMode(ED_MODE_STOP, kPatience));
    EXPECT_EQ(deck.camcorder->position(), 40);
    deck.camcorder->setMode(ED_MODE_REW);
    ASSERT_TRUE(deck.camcorder->waitForMode(ED_MODE_STOP, kPatience));
    EXPECT_EQ(deck.camcorder->position(), 0);
    EXPECT_EQ(receiver.count(), 0u);
    EXPECT_EQ(receiver.endsOfTape(), 0);
}

TEST(VirtualCamcorder, steps_move_one_frame_and_show_it_as_a_still)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("step.dv", 5, SendPace::TapeRate);
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->setPosition(2);
    deck.camcorder->setMode(ED_MODE_STEP_FWD);
    EXPECT_EQ(deck.camcorder->position(), 3);
    EXPECT_EQ(deck.camcorder->mode(), ED_MODE_FREEZE);
    ASSERT_TRUE(receiver.waitForFrames(1));
    EXPECT_EQ(receiver.numbers().front(), 3u);
    deck.camcorder->setMode(ED_MODE_STEP_REV);
    deck.camcorder->setMode(ED_MODE_STEP_REV);
    EXPECT_EQ(deck.camcorder->position(), 1);
    deck.camcorder->setPosition(0);
    deck.camcorder->setMode(ED_MODE_STEP_REV);
    EXPECT_EQ(deck.camcorder->position(), 0) << "no step back before the beginning";
    deck.camcorder->setPosition(5);
    deck.camcorder->setMode(ED_MODE_STEP_FWD);
    EXPECT_EQ(deck.camcorder->position(), 5) << "no step past the end";
    deck.camcorder->setMode(ED_MODE_STOP);
    for (auto number : receiver.numbers()) EXPECT_LE(number, 4u);
}

TEST(VirtualCamcorder, record_overwrites_a_raw_tape_in_place_and_lengthens_it_at_the_end)
{
    Deck deck = rawDeck("record.dv", 4, SendPace::AsFastAsTaken);
    EXPECT_EQ(deck.camcorder->receiveFrame(numberedFrame(VideoSystem::Pal625_50, 50, 9)), RecordOutcome::NotRecording);
    deck.camcorder->setPosition(2);
    deck.camcorder->setMode(ED_MODE_RECORD);
    std::vector<Frame> recorded;
    for (std::uint32_t i = 0; i < 4; ++i) {
        recorded.push_back(numberedFrame(VideoSystem::Pal625_50, 100 + i, 1));
        EXPECT_EQ(deck.camcorder->receiveFrame(recorded.back()), RecordOutcome::Recorded);
    }
    EXPECT_EQ(deck.camcorder->position(), 6);
    EXPECT_EQ(deck.camcorder->frameCount(), 6);
    EXPECT_EQ(deck.camcorder->framesRecorded(), 4u);
    EXPECT_EQ(deck.camcorder->tapePath(), deck.path);
    deck.camcorder->setMode(ED_MODE_STOP);

    Frame expected;
    for (const auto& frame : {deck.frames[0], deck.frames[1], recorded[0], recorded[1], recorded[2], recorded[3]})
        expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(testsupport::readBytes(deck.path), expected);
}

TEST(VirtualCamcorder, record_pause_takes_frames_and_drops_them_and_wrong_frames_are_refused)
{
    Deck deck = rawDeck("pause.dv", 2, SendPace::AsFastAsTaken);
    const auto before = testsupport::readBytes(deck.path);
    deck.camcorder->setMode(ED_MODE_RECORD_FREEZE);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(deck.camcorder->receiveFrame(numberedFrame(VideoSystem::Pal625_50, 60, 3)), RecordOutcome::PausedDropped);
    }
    EXPECT_EQ(deck.camcorder->position(), 0);
    EXPECT_EQ(deck.camcorder->droppedFrames(), 0u) << "a paused recorder loses nothing it should keep";
    deck.camcorder->setMode(ED_MODE_RECORD);
    EXPECT_EQ(deck.camcorder->receiveFrame(numberedFrame(VideoSystem::Ntsc525_60, 1)), RecordOutcome::WrongFormat);
    EXPECT_EQ(deck.camcorder->receiveFrame(std::span(before).first(1000)), RecordOutcome::WrongFormat);
    EXPECT_EQ(deck.camcorder->receiveFrame(std::span(before).first(dv::kPalFrameBytes + 1)), RecordOutcome::WrongFormat);
    deck.camcorder->setMode(ED_MODE_STOP);
    EXPECT_EQ(testsupport::readBytes(deck.path), before);
    EXPECT_EQ(deck.camcorder->framesRecorded(), 0u);
}

TEST(VirtualCamcorder, injected_drops_are_not_sent_and_are_counted)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("drops.dv", 12, SendPace::AsFastAsTaken);
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->dropEvery(3);
    deck.camcorder->setMode(ED_MODE_PLAY);
    ASSERT_TRUE(receiver.waitForEndOfTape());
    EXPECT_EQ(receiver.numbers(), (std::vector<std::uint32_t>{0, 1, 3, 4, 6, 7, 9, 10}));
    EXPECT_EQ(deck.camcorder->droppedFrames(), 4u);
    EXPECT_EQ(deck.camcorder->framesSent(), 8u);

    RecordingReceiver second;
    deck.camcorder->attachReceiver(&second);
    deck.camcorder->dropEvery(0);
    deck.camcorder->dropNext(2);
    deck.camcorder->setPosition(0);
    deck.camcorder->setMode(ED_MODE_PLAY);
    ASSERT_TRUE(second.waitForEndOfTape());
    EXPECT_EQ(second.numbers(), sequence(2, 12));
    EXPECT_EQ(deck.camcorder->droppedFrames(), 6u);
    deck.camcorder->attachReceiver(nullptr);  // before `second` goes
}

TEST(VirtualCamcorder, a_detached_receiver_is_never_called_again)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("detach.dv", 100, SendPace::AsFastAsTaken);
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->setMode(ED_MODE_PLAY);
    ASSERT_TRUE(receiver.waitForFrames(5));
    deck.camcorder->attachReceiver(nullptr);
    receiver.close();  // any later call fails the test
    EXPECT_TRUE(deck.camcorder->waitForMode(ED_MODE_STOP, kPatience));
    EXPECT_GE(deck.camcorder->position(), static_cast<std::int64_t>(receiver.count()));
}

// A receiver that changes the mode from inside its call, as a job that stops at a frame would.
class StoppingReceiver : public IDvFrameReceiver {
public:
    explicit StoppingReceiver(CVirtualCamcorder& camcorder) : m_camcorder(camcorder) {}
    void receiveDvFrame(std::int64_t, std::span<const std::byte> frame) override
    {
        if (frameNumber(frame) == 3) m_camcorder.setMode(ED_MODE_STOP);
        m_last = frameNumber(frame);
    }
    void endOfTape() override {}
    std::atomic<std::uint32_t> m_last{0};

private:
    CVirtualCamcorder& m_camcorder;
};

TEST(VirtualCamcorder, a_receiver_may_change_the_mode_from_inside_its_call)
{
    Deck deck = rawDeck("inside.dv", 10, SendPace::AsFastAsTaken);
    StoppingReceiver receiver(*deck.camcorder);
    deck.camcorder->attachReceiver(&receiver);
    deck.camcorder->setMode(ED_MODE_PLAY);
    ASSERT_TRUE(deck.camcorder->waitForMode(ED_MODE_STOP, kPatience));
    deck.camcorder->attachReceiver(nullptr);  // waits for the call that stopped it to return
    EXPECT_EQ(receiver.m_last.load(), 3u);
    EXPECT_EQ(deck.camcorder->position(), 4);
}

TEST(VirtualCamcorder, mode_changes_from_another_thread_while_playing_keep_every_frame_whole)
{
    RecordingReceiver receiver;
    Deck deck = rawDeck("busy.dv", 30, SendPace::AsFastAsTaken);
    deck.camcorder->attachReceiver(&receiver);
    std::jthread controller([&] {
        std::mt19937 rng(1394);
        const long modes[] = {ED_MODE_PLAY, ED_MODE_FREEZE, ED_MODE_STOP, ED_MODE_FF, ED_MODE_REW,
                              ED_MODE_STEP_FWD, ED_MODE_STEP_REV, ED_MODE_PLAY, ED_MODE_RECORD_FREEZE};
        for (int i = 0; i < 400; ++i) {
            if (rng() % 4 == 0) {
                deck.camcorder->setPosition(static_cast<std::int64_t>(rng() % 31));
            } else {
                deck.camcorder->setMode(modes[rng() % std::size(modes)]);
            }
            (void)deck.camcorder->position();
            (void)deck.camcorder->droppedFrames();
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 800));
        }
    });
    controller.join();
    deck.camcorder->setMode(ED_MODE_STOP);
    const auto sentAtStop = receiver.count();
    deck.camcorder->attachReceiver(nullptr);  // waits for a call in flight
    EXPECT_LE(receiver.count(), sentAtStop + 1) << "stop is stop, but for the frame in flight when it came";
    const auto frames = receiver.frames();
    EXPECT_GT(frames.size(), 0u);
    for (const auto& frame : frames) {
        const auto number = frameNumber(frame);
        ASSERT_LT(number, 30u);
        EXPECT_EQ(frame, deck.frames[number]);
    }
}

TEST(VirtualCamcorder, destruction_while_playing_freezing_or_winding_joins_the_sender)
{
    for (long mode : {ED_MODE_PLAY, ED_MODE_FREEZE, ED_MODE_FF}) {
        Deck deck = rawDeck("destroy.dv", 100, SendPace::TapeRate);
        RecordingReceiver receiver;
        deck.camcorder->attachReceiver(&receiver);
        deck.camcorder->setMode(mode);
        if (mode != ED_MODE_FF) {
            ASSERT_TRUE(receiver.waitForFrames(1));
        }
        deck.camcorder.reset();   // a sender that did not wake would hang here until the test's time-out
        receiver.close();  // the destructor has joined: no more calls
    }
}

}  // namespace
}  // namespace vantrel::mediagraph
