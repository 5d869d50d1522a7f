// SPDX-License-Identifier: GPL-3.0-or-later
// The frame ring between a producer and a consumer thread: capacity, lending, stopping, contents.
#include "pipeline/frame_ring.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <limits>
#include <new>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;

// Sanitizers run the stress test shorter and end the process on impossible allocations.
#if defined(__has_feature)
#define VANTREL_HAS_FEATURE(x) __has_feature(x)
#else
#define VANTREL_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__) || VANTREL_HAS_FEATURE(thread_sanitizer) || \
    VANTREL_HAS_FEATURE(address_sanitizer)
constexpr bool kUnderSanitizer = true;
#else
constexpr bool kUnderSanitizer = false;
#endif

// Long enough for a thread that is going to return to have returned; the checks that use it only
// show that a call is still blocked, never how fast something ran.
constexpr auto kStillBlockedWait = 50ms;

std::vector<std::byte> patternFrame(std::size_t length, std::uint8_t seed)
{
    std::vector<std::byte> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::byte>(seed + i * 7);
    return bytes;
}

struct Taken {
    bool isTaken = false;
    REFERENCE_TIME duration = 0;
    const std::byte* data = nullptr;
    long length = 0;
};

Taken take(CFrameRing& ring)
{
    Taken t;
    t.isTaken = ring.Get(&t.duration, &t.data, &t.length);
    return t;
}

void putFrame(CFrameRing& ring, REFERENCE_TIME duration, const std::vector<std::byte>& bytes)
{
    ring.Put(duration, bytes.data(), static_cast<long>(bytes.size()));
}

// Stop (Stop(), or a Put without data of any length) in each state of the ring: a waiting
// producer returns and its frame is dropped, a waiting consumer returns false; later Puts store
// nothing; the frames in the ring are still taken in order, then Get fails and leaves its outputs.
TEST(FrameRing, stop_wakes_every_waiter_keeps_the_stored_frames_and_then_ends_the_stream)
{
    struct Case {
        const char* what;
        int framesBefore;  // of a capacity of 2: 2 leaves a producer waiting, 0 a consumer
        bool isStopAPut;
        long stopLength;
    };
    const Case cases[] = {
        {"empty ring, consumer waiting", 0, false, 0},
        {"full ring, producer waiting", 2, false, 0},
        {"one frame, stopped by a Put without data", 1, true, 0},
        {"empty ring, consumer waiting, stopped by a Put without data but a length", 0, true, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CFrameRing ring(2, 32);
        for (int i = 0; i < c.framesBefore; ++i) putFrame(ring, 10 + i, patternFrame(32, static_cast<std::uint8_t>(i)));
        std::future<void> producer;
        std::future<Taken> consumer;
        if (c.framesBefore == 2) producer = std::async(std::launch::async, [&] { putFrame(ring, 3, patternFrame(32, 3)); });
        if (c.framesBefore == 0) consumer = std::async(std::launch::async, [&] { return take(ring); });
        EXPECT_TRUE(!producer.valid() || producer.wait_for(kStillBlockedWait) == std::future_status::timeout) << "waits";
        EXPECT_TRUE(!consumer.valid() || consumer.wait_for(kStillBlockedWait) == std::future_status::timeout) << "waits";
        if (c.isStopAPut) ring.Put(-1, nullptr, c.stopLength);
        else ring.Stop();
        EXPECT_TRUE(ring.isStopped());
        if (producer.valid()) producer.get();
        EXPECT_FALSE(consumer.valid() && consumer.get().isTaken);
        putFrame(ring, 99, patternFrame(32, 9));
        EXPECT_EQ(ring.count(), c.framesBefore) << "nothing stored after the stop";
        for (int i = 0; i < c.framesBefore; ++i) {
            const Taken t = take(ring);
            EXPECT_TRUE(t.isTaken);
            EXPECT_EQ(t.duration, 10 + i);
            EXPECT_EQ(t.data[0], static_cast<std::byte>(i));
        }
        REFERENCE_TIME duration = 12345;
        long length = 777;
        const std::byte* data = reinterpret_cast<const std::byte*>(&length);
        for (int again = 0; again < 2; ++again) EXPECT_FALSE(ring.Get(&duration, &data, &length));
        EXPECT_EQ(std::tuple(duration, data, length), std::tuple(12345, reinterpret_cast<const std::byte*>(&length), 777));
    }
}

// Frames of every length and duration are in the stress test below; here the largest frame a slot
// takes, the half-full marks against the slot count, and sizes the ring refuses.
TEST(FrameRing, keeps_frames_up_to_slot_size_plus_four_refuses_longer_ones_and_reports_its_fill_level)
{
    constexpr std::int32_t kSlotData = 100;
    CFrameRing small(2, kSlotData);  // three slots: the third ends where the allocation ends
    const auto longest = patternFrame(kSlotData + 4, 0x11);
    for (int round = 0; round < 3; ++round) {  // round 2 fills slot 2, the last bytes of the block
        putFrame(small, 1, patternFrame(kSlotData + 5, 0x22));
        EXPECT_EQ(small.count(), 0);
        putFrame(small, 2, longest);
        const Taken t = take(small);
        EXPECT_EQ(t.duration, 2);
        ASSERT_EQ(t.length, kSlotData + 4);
        EXPECT_EQ(std::memcmp(t.data, longest.data(), longest.size()), 0);
    }
    small.Put(3, longest.data(), -1);
    EXPECT_EQ(small.count(), 0);
    EXPECT_EQ(small.refusedFrames(), 4u);

    CFrameRing ring(1000, 4);
    const std::byte byte{1};
    for (int i = 0; i < 499; ++i) ring.Put(0, &byte, 1);
    EXPECT_TRUE(ring.isLessThanHalfFull());   // 499 < 1001 / 2
    ring.Put(0, &byte, 1);
    EXPECT_FALSE(ring.isLessThanHalfFull());  // 500 is half, in integer division
    EXPECT_FALSE(ring.isMoreThanHalfFull());
    ring.Put(0, &byte, 1);
    EXPECT_TRUE(ring.isMoreThanHalfFull());   // 501

    EXPECT_THROW(CFrameRing(0, 144000), std::invalid_argument);
    EXPECT_THROW(CFrameRing(10, -1), std::invalid_argument);
    if (!kUnderSanitizer) {  // sanitizer allocators end the process instead of throwing
        EXPECT_THROW(CFrameRing(std::numeric_limits<std::int32_t>::max() - 1, std::numeric_limits<std::int32_t>::max() - 16),
                     std::bad_alloc);
    }
}

// The producer numbers its frames and varies their lengths and durations; now and then it rests so
// that the consumer waits on an empty ring. The consumer checks order and contents, now and then
// holds a frame until the ring is full, and checks that the frame it holds never changes.
TEST(FrameRing, stress_a_million_numbered_frames_arrive_in_order_and_intact)
{
    const std::uint64_t kFrames = kUnderSanitizer ? 200'000 : 1'000'000;
    constexpr std::int32_t kCapacity = 16;
    constexpr std::int32_t kSlotData = 64;
    CFrameRing ring(kCapacity, kSlotData);
    // Frame i: its 8-byte number, then bytes made from it; 8 to kSlotData + 4 bytes long.
    auto frameOf = [](std::uint64_t i) {
        std::vector<std::byte> frame(8 + (i * 2654435761u) % (kSlotData + 4 - 8 + 1));
        std::memcpy(frame.data(), &i, 8);
        for (std::size_t k = 8; k < frame.size(); ++k) frame[k] = static_cast<std::byte>(i * 131 + k);
        return frame;
    };
    auto durationOf = [](std::uint64_t i) {
        return static_cast<REFERENCE_TIME>(i % 3 == 0 ? -static_cast<std::int64_t>(i) : i * 400000);
    };
    std::jthread producer([&] {
        for (std::uint64_t i = 0; i < kFrames; ++i) {
            putFrame(ring, durationOf(i), frameOf(i));
            if (i % 50'000 == 49'999) std::this_thread::sleep_for(1ms);  // lets the consumer drain the ring
        }
        ring.Stop();
    });

    std::uint64_t received = 0;
    std::uint64_t fullRingChecks = 0;
    std::uint64_t failures = 0;
    std::vector<std::byte> held;  // a copy of the frame lent by the last Get
    for (Taken lent; (lent = take(ring)).isTaken; ++received) {
        held.assign(lent.data, lent.data + lent.length);
        if ((held != frameOf(received) || lent.duration != durationOf(received)) && ++failures <= 5)
            ADD_FAILURE() << "frame " << received << " arrived with length " << lent.length;
        if (received % 2048 == 2047) {  // hold the frame while the producer fills every other slot
            while (ring.count() < kCapacity && !ring.isStopped()) std::this_thread::yield();
            fullRingChecks += ring.count() == kCapacity ? 1 : 0;
        }
        if (!std::equal(held.begin(), held.end(), lent.data)) {
            ADD_FAILURE() << "frame " << received << " changed while lent";
            break;
        }
    }
    ring.Stop();  // a consumer that gave up must not leave the producer waiting
    EXPECT_EQ(failures, 0u);
    EXPECT_EQ(received, kFrames);
    EXPECT_GT(fullRingChecks, 0u) << "the run never held a frame while the ring was full";
}

}  // namespace
}  // namespace vantrel::pipeline
