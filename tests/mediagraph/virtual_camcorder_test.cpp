// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual camcorder's tape (raw .dv and DV AVI files read frame by frame, recorded in place) and
// its transport: play, freeze, winding, steps, recording, drops, threads.
#include "mediagraph/virtual_camcorder.h"

#include "mediagraph/virtual_tape.h"
#include "support/scoped_env.h"
#include "virtual_tape_fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
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

void expectTapeHolds(VirtualTape& tape, const std::vector<Frame>& frames)
{
    ASSERT_EQ(tape.frameCount(), static_cast<std::int64_t>(frames.size()));
    Frame buffer(dv::kMaxFrameBytes);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        auto read = tape.readFrame(static_cast<std::int64_t>(i), buffer);
        ASSERT_TRUE(read) << read.error();
        EXPECT_TRUE(std::equal(frames[i].begin(), frames[i].end(), buffer.begin())) << "frame " << i;
    }
}

// Null when the tape cannot be opened (the caller asserts).
std::unique_ptr<VirtualTape> openTape(const std::filesystem::path& path)
{
    auto tape = VirtualTape::open(path);
    return tape ? std::move(*tape) : nullptr;
}

TEST(VirtualTape, refuses_files_that_are_not_dv_tapes)
{
    const auto folder = testsupport::freshTestFolder();
    Frame noHeader = numberedFrame(VideoSystem::Pal625_50, 0);
    noHeader[0] = std::byte{0x5F};
    writeRawTape(folder / "short.dv", {Frame(1000, std::byte{0})});
    writeRawTape(folder / "noheader.dv", {noHeader});
    writeRawTape(folder / "bad.avi", {Frame(200'000, std::byte{'R'})});  // starts "RRRR": not RIFF, not DV
    std::filesystem::create_directories(folder / "dir.dv");
    for (const char* name : {"missing.dv", "short.dv", "noheader.dv", "bad.avi", "dir.dv"}) {
        auto tape = VirtualTape::open(folder / name);
        ASSERT_FALSE(tape) << name;
        EXPECT_NE(tape.error().find(name), std::string::npos) << tape.error();
    }
}

// A torn last frame is left off the tape and recorded over; an empty file is a blank tape that takes
// the standard of its first recording; a tape has no gaps and holds one standard.
TEST(VirtualTape, records_over_a_torn_last_frame_and_a_blank_tape_takes_the_standard_of_its_first_recording)
{
    const auto folder = testsupport::freshTestFolder();
    auto frames = numberedFrames(VideoSystem::Pal625_50, 3);
    Frame torn = frames[2];
    torn.resize(50'000);
    writeRawTape(folder / "torn.dv", {frames[0], frames[1], torn});
    writeRawTape(folder / "blank.dv", {});
    auto tape = openTape(folder / "torn.dv");
    auto blank = openTape(folder / "blank.dv");
    ASSERT_TRUE(tape && blank);
    EXPECT_EQ(tape->frameCount(), 2);
    ASSERT_TRUE(tape->writeFrame(2, frames[2]));
    expectTapeHolds(*tape, frames);
    EXPECT_EQ(std::filesystem::file_size(folder / "torn.dv"), 3 * dv::kPalFrameBytes);

    EXPECT_EQ(blank->videoSystem(), VideoSystem::Unknown);
    EXPECT_FALSE(blank->writeFrame(1, numberedFrame(VideoSystem::Ntsc525_60, 0))) << "no gaps on a tape";
    frames = numberedFrames(VideoSystem::Ntsc525_60, 2);
    ASSERT_TRUE(blank->writeFrame(0, frames[0]));
    ASSERT_TRUE(blank->writeFrame(1, frames[1]));
    EXPECT_EQ(blank->videoSystem(), VideoSystem::Ntsc525_60);
    auto mixed = blank->writeFrame(2, numberedFrame(VideoSystem::Pal625_50, 2));
    ASSERT_FALSE(mixed);
    EXPECT_NE(mixed.error().find("PAL frame on a NTSC tape"), std::string::npos) << mixed.error();
    EXPECT_FALSE(blank->writeFrame(2, std::span(frames[0]).first(100'000)));
    expectTapeHolds(*blank, frames);
    EXPECT_EQ(std::filesystem::file_size(folder / "blank.dv"), 2 * dv::kNtscFrameBytes);
}

TEST(VirtualTape, first_recording_on_an_avi_tape_moves_it_to_a_raw_file_beside_it)
{
    const auto folder = testsupport::freshTestFolder();
    auto frames = numberedFrames(VideoSystem::Pal625_50, 3);
    const auto aviPath = folder / "holiday.avi";
    writeAviTape(aviPath, frames, avi::DvAviType::Type2Separate, VideoSystem::Pal625_50);
    const auto aviBefore = testsupport::readBytes(aviPath);
    auto tape = openTape(aviPath);
    ASSERT_TRUE(tape);

    frames.push_back(numberedFrame(VideoSystem::Pal625_50, 77, 1));
    ASSERT_TRUE(tape->writeFrame(3, frames.back()));
    EXPECT_EQ(tape->path(), folder / "holiday.avi.recorded.dv");
    expectTapeHolds(*tape, frames);
    EXPECT_EQ(testsupport::readBytes(aviPath), aviBefore) << "the AVI itself is never written";
}

// --- the camcorder

// Keeps what the camcorder sends, then calls onFrame with the frame's number.
class RecordingReceiver : public IDvFrameReceiver {
public:
    struct Received {
        std::vector<Frame> frames;
        std::vector<std::uint32_t> numbers;
        std::vector<std::int64_t> durations;
        int endsOfTape = 0;
    };
    void receiveDvFrame(std::int64_t durationHns, std::span<const std::byte> frame) override
    {
        std::lock_guard lock(m_mutex);
        m_received.frames.emplace_back(frame.begin(), frame.end());
        m_received.numbers.push_back(frameNumber(frame));
        m_received.durations.push_back(durationHns);
        m_changed.notify_all();
        if (onFrame)
            onFrame(frameNumber(frame));
    }
    void endOfTape() override
    {
        std::lock_guard lock(m_mutex);
        ++m_received.endsOfTape;
        m_changed.notify_all();
    }
    Received received() const
    {
        std::lock_guard lock(m_mutex);
        return m_received;
    }
    bool waitFor(std::size_t frames, int endsOfTape = 0)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] {
            return m_received.frames.size() >= frames && m_received.endsOfTape >= endsOfTape;
        });
    }
    // Set before the camcorder plays, or when it has no receiver attached (then under no lock).
    std::function<void(std::uint32_t number)> onFrame;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Received m_received;
};

// A camcorder on a raw tape of numbered frames in the test's own folder, the receiver attached.
class VirtualCamcorderTest : public ::testing::Test {
protected:
    CVirtualCamcorder& open(std::uint32_t frameCount, SendPace pace, VideoSystem system = VideoSystem::Pal625_50)
    {
        path = testsupport::freshTestFolder() / "tape.dv";
        frames = numberedFrames(system, frameCount);
        writeRawTape(path, frames);
        auto opened = CVirtualCamcorder::open(path, {pace});
        if (!opened)
            throw std::runtime_error(opened.error());  // fails the test
        camcorder = std::move(*opened);
        camcorder->attachReceiver(&receiver);
        return *camcorder;
    }

    RecordingReceiver receiver;  // outlives the camcorder
    std::filesystem::path path;
    std::vector<Frame> frames;
    std::unique_ptr<CVirtualCamcorder> camcorder;
};

TEST_F(VirtualCamcorderTest, play_sends_every_frame_from_the_position_at_the_tape_rate_and_winding_and_steps_keep_to_the_ends)
{
    CVirtualCamcorder& deck = open(10, SendPace::TapeRate);
    EXPECT_FALSE(deck.setMode(4299));
    EXPECT_FALSE(deck.setMode(0));
    EXPECT_EQ(deck.mode(), ED_MODE_STOP) << "an unknown mode changes nothing";
    deck.setPosition(2);
    const auto start = Clock::now();
    ASSERT_TRUE(deck.setMode(ED_MODE_PLAY));
    ASSERT_TRUE(receiver.waitFor(0, 1));
    // Paced, not flooded: seven intervals of 40 ms (how well it keeps the pace is the benchmark's).
    EXPECT_GT(Clock::now() - start, 7 * 30ms);
    EXPECT_TRUE(deck.waitForMode(ED_MODE_STOP, kPatience));
    EXPECT_EQ(receiver.received().frames, std::vector<Frame>(frames.begin() + 2, frames.end()));
    EXPECT_EQ(receiver.received().durations, std::vector<std::int64_t>(8, 400'000));
    EXPECT_EQ(deck.position(), 10);
    deck.setMode(ED_MODE_PLAY);  // play at the end: straight back to stop, nothing sent
    ASSERT_TRUE(receiver.waitFor(0, 2));
    EXPECT_EQ(deck.mode(), ED_MODE_STOP);

    deck.setPosition(5);
    deck.setMode(ED_MODE_FF);
    ASSERT_TRUE(deck.waitForMode(ED_MODE_STOP, kPatience));
    EXPECT_EQ(deck.position(), 10);
    deck.setMode(ED_MODE_REW);
    ASSERT_TRUE(deck.waitForMode(ED_MODE_STOP, kPatience));
    EXPECT_EQ(deck.position(), 0);
    EXPECT_EQ(receiver.received().frames.size(), 8u) << "winding sends nothing, nor play at the end";
    EXPECT_EQ(receiver.received().endsOfTape, 2) << "one for each play that reached the end";

    deck.setPosition(2);
    deck.setMode(ED_MODE_STEP_FWD);
    EXPECT_EQ(deck.position(), 3);
    EXPECT_EQ(deck.mode(), ED_MODE_FREEZE) << "a step shows its frame as a still";
    ASSERT_TRUE(receiver.waitFor(9));
    EXPECT_EQ(frameNumber(receiver.received().frames[8]), 3u);
    deck.setMode(ED_MODE_STEP_REV);
    deck.setMode(ED_MODE_STEP_REV);
    EXPECT_EQ(deck.position(), 1);
    const struct {
        std::int64_t from;
        long mode;
        std::int64_t expected;
    } ends[] = {{0, ED_MODE_STEP_REV, 0}, {10, ED_MODE_STEP_FWD, 10}, {100, ED_MODE_STOP, 10}, {-4, ED_MODE_STOP, 0}};
    for (const auto& end : ends) {
        deck.setPosition(end.from);
        deck.setMode(end.mode);
        EXPECT_EQ(deck.position(), end.expected) << "from " << end.from;
    }
}

TEST_F(VirtualCamcorderTest, at_full_speed_from_the_environment_play_floods_but_freeze_stays_paced)
{
    std::optional<testsupport::ScopedEnv> speed(std::in_place, "VANTREL_VIRTUAL_SPEED", "max");
    CVirtualCamcorder& deck = open(60, SendPace::FromEnvironment, VideoSystem::Ntsc525_60);
    speed.reset();
    deck.setMode(ED_MODE_PLAY);
    ASSERT_TRUE(receiver.waitFor(60, 1));
    EXPECT_EQ(receiver.received().durations.front(), 333'667);

    deck.setPosition(3);
    const auto frozen = Clock::now();
    deck.setMode(ED_MODE_FREEZE);
    ASSERT_TRUE(receiver.waitFor(64));
    deck.setMode(ED_MODE_STOP);
    const auto sentAtStop = receiver.received().frames.size();
    deck.attachReceiver(nullptr);  // waits for a call in flight
    const auto elapsed = Clock::now() - frozen;
    const auto stills = receiver.received().frames;
    EXPECT_LE(stills.size(), sentAtStop + 1) << "at most the frame in flight when stop came";
    for (auto still = stills.begin() + 60; still != stills.end(); ++still)
        EXPECT_EQ(*still, frames[3]);
    EXPECT_EQ(deck.position(), 3);
    // A still every frame period, not a flood.
    EXPECT_LE(stills.size() - 60, static_cast<std::size_t>(elapsed / 33ms) + 2);
}

TEST_F(VirtualCamcorderTest, record_overwrites_in_place_and_lengthens_the_tape_and_takes_only_frames_it_may_record)
{
    CVirtualCamcorder& deck = open(4, SendPace::AsFastAsTaken);
    const Frame stray = numberedFrame(VideoSystem::Pal625_50, 60, 3);
    EXPECT_EQ(deck.receiveFrame(stray), RecordOutcome::NotRecording);
    deck.setPosition(2);
    deck.setMode(ED_MODE_RECORD_FREEZE);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(deck.receiveFrame(stray), RecordOutcome::PausedDropped);
    EXPECT_EQ(deck.position(), 2);
    EXPECT_EQ(deck.droppedFrames(), 0u) << "a paused recorder loses nothing it should keep";
    deck.setMode(ED_MODE_RECORD);
    EXPECT_EQ(deck.receiveFrame(numberedFrame(VideoSystem::Ntsc525_60, 1)), RecordOutcome::WrongFormat);
    EXPECT_EQ(deck.receiveFrame(std::span(stray).first(1000)), RecordOutcome::WrongFormat);
    Frame tooLong = stray;
    tooLong.push_back(std::byte{0});
    EXPECT_EQ(deck.receiveFrame(tooLong), RecordOutcome::WrongFormat);
    const auto recorded = numberedFrames(VideoSystem::Pal625_50, 4, 1);
    for (const auto& frame : recorded)
        EXPECT_EQ(deck.receiveFrame(frame), RecordOutcome::Recorded);
    EXPECT_EQ(deck.position(), 6);
    EXPECT_EQ(deck.frameCount(), 6);
    EXPECT_EQ(deck.framesRecorded(), 4u);
    EXPECT_EQ(deck.tapePath(), path);
    deck.setMode(ED_MODE_STOP);
    EXPECT_EQ(testsupport::readBytes(path),
              testsupport::joinFrames({frames[0], frames[1], recorded[0], recorded[1], recorded[2], recorded[3]}));
}

TEST_F(VirtualCamcorderTest, injected_drops_are_not_sent_and_are_counted_and_a_receiver_may_stop_from_inside_its_call)
{
    CVirtualCamcorder& deck = open(12, SendPace::AsFastAsTaken);
    deck.dropEvery(3);
    deck.setMode(ED_MODE_PLAY);
    ASSERT_TRUE(receiver.waitFor(0, 1));
    EXPECT_EQ(receiver.received().numbers, (std::vector<std::uint32_t>{0, 1, 3, 4, 6, 7, 9, 10}));
    EXPECT_EQ(deck.droppedFrames(), 4u);
    EXPECT_EQ(deck.framesSent(), 8u);

    deck.dropEvery(0);
    deck.dropNext(2);
    deck.setPosition(0);
    receiver.onFrame = [&deck](std::uint32_t number) {
        if (number == 5)
            deck.setMode(ED_MODE_STOP);  // as a job that stops at a frame does
    };
    deck.setMode(ED_MODE_PLAY);
    ASSERT_TRUE(deck.waitForMode(ED_MODE_STOP, kPatience));
    deck.attachReceiver(nullptr);  // waits for the call that stopped it to return
    EXPECT_EQ(receiver.received().numbers, (std::vector<std::uint32_t>{0, 1, 3, 4, 6, 7, 9, 10, 2, 3, 4, 5}));
    EXPECT_EQ(deck.position(), 6);
    EXPECT_EQ(deck.droppedFrames(), 6u);
}

TEST_F(VirtualCamcorderTest, mode_changes_from_another_thread_keep_every_frame_whole_and_a_detached_receiver_uncalled)
{
    CVirtualCamcorder& deck = open(30, SendPace::AsFastAsTaken);
    // From the test's thread while the camcorder's sender runs.
    std::mt19937 rng(1394);
    const long modes[] = {ED_MODE_PLAY,     ED_MODE_FREEZE,   ED_MODE_STOP, ED_MODE_FF,           ED_MODE_REW,
                          ED_MODE_STEP_FWD, ED_MODE_STEP_REV, ED_MODE_PLAY, ED_MODE_RECORD_FREEZE};
    for (int i = 0; i < 400; ++i) {
        if (rng() % 4 == 0)
            deck.setPosition(static_cast<std::int64_t>(rng() % 31));
        else
            deck.setMode(modes[rng() % std::size(modes)]);
        (void)deck.position();
        (void)deck.droppedFrames();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 800));  // jitter, not a wait
    }
    deck.setMode(ED_MODE_PLAY);
    deck.attachReceiver(nullptr);  // while playing: waits for a call in flight
    receiver.onFrame = [](std::uint32_t) { ADD_FAILURE() << "frame after the receiver was detached"; };
    const auto sent = receiver.received().frames;
    EXPECT_GT(sent.size(), 0u);
    for (const auto& frame : sent) {
        ASSERT_LT(frameNumber(frame), 30u);
        EXPECT_EQ(frame, frames[frameNumber(frame)]);
    }
    EXPECT_TRUE(deck.waitForMode(ED_MODE_STOP, kPatience)) << "play goes on to the end without a receiver";
}

TEST_F(VirtualCamcorderTest, destruction_while_playing_freezing_or_winding_joins_the_sender)
{
    for (long mode : {ED_MODE_PLAY, ED_MODE_FREEZE, ED_MODE_FF}) {
        const std::size_t before = receiver.received().frames.size();
        open(100, SendPace::TapeRate).setMode(mode);
        if (mode != ED_MODE_FF) {
            ASSERT_TRUE(receiver.waitFor(before + 1));
        }
        camcorder.reset();  // a sender that did not wake would hang here until the test's time-out
    }
    // The destructor has joined: a later call is a fault.
    receiver.onFrame = [](std::uint32_t) { ADD_FAILURE() << "frame after the camcorder was destroyed"; };
}

}  // namespace
}  // namespace vantrel::mediagraph
