// SPDX-License-Identifier: GPL-3.0-or-later
// Bounded first-in-first-out store of DV frames between one producer and one consumer thread.
//
// Design note. The ring copies a frame in on Put and lends the consumer a pointer into its own
// storage on Get, so a frame is copied once on its way through. It has one slot more than its
// capacity: when Get lends slot r, the frames still stored lie after r and the producer can fill
// at most capacity slots, the last of them just before r. So the lent frame stays intact until the
// consumer's next Get, which is when it hands the slot back. All memory is one block taken at
// construction; nothing is allocated per frame. Stopping (Put with no data) is final: Put then
// stores nothing, and Get drains the stored frames and then returns false.
#pragma once

#include "pipeline/reference_time.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace vantrel::pipeline {

class CFrameRing {
public:
    // capacity frames (at least 1) of up to slotDataSize + 4 bytes each. Takes
    // (capacity + 1) × (slotDataSize + 16) bytes at once; std::bad_alloc leaves the constructor
    // when they are not there, std::invalid_argument for a capacity below 1 or a negative size.
    CFrameRing(std::int32_t capacity, std::int32_t slotDataSize);
    ~CFrameRing();  // wakes nobody: stop the ring and join its threads first
    CFrameRing(const CFrameRing&) = delete;
    CFrameRing& operator=(const CFrameRing&) = delete;

    // Producer side, the signature of IFrameSink::Deliver. Copies the frame into the next slot,
    // waiting while the ring is full. data == nullptr is the stop request (final; any thread).
    // Returns at once, storing nothing, when the ring is stopped, also when the stop comes while
    // it waits. A frame longer than slotDataSize + 4 bytes (or of negative length) is refused
    // without copying and counted in refusedFrames(): it would not fit its slot.
    void Put(REFERENCE_TIME duration, const std::byte* data, long length);
    void Stop() { Put(-1, nullptr, 0); }

    // Consumer side. Waits for a frame; true with the oldest frame's duration, length and a pointer
    // to its bytes inside the ring, valid until the next Get. False, outputs untouched, once the
    // ring is stopped and empty.
    bool Get(REFERENCE_TIME* duration, const std::byte** data, long* length);

    // Readable from any thread without the lock; a reader may see a value one frame old.
    std::int32_t count() const noexcept { return m_count.load(std::memory_order_acquire); }
    std::int32_t slotCount() const noexcept { return m_slotCount; }
    bool isStopped() const noexcept { return m_stopped.load(std::memory_order_acquire); }
    std::int32_t slotDataSize() const noexcept { return m_slotDataSize; }
    std::uint64_t refusedFrames() const noexcept { return m_refusedFrames.load(std::memory_order_relaxed); }

    // The workers' tests, in integer division (a ring of 1000 has 1001 slots: half is 500).
    bool isLessThanHalfFull() const noexcept { return count() < m_slotCount / 2; }
    bool isMoreThanHalfFull() const noexcept { return count() > m_slotCount / 2; }

    // Slot layout: duration (8 bytes, little-endian), length (4 bytes, little-endian), data.
    static constexpr std::size_t kDurationOffset = 0;
    static constexpr std::size_t kLengthOffset = 8;
    static constexpr std::size_t kDataOffset = 12;
    static constexpr std::size_t kSlotOverheadBytes = 16;  // header, plus 4 spare bytes of data room

private:
    std::byte* slot(std::int32_t index) const noexcept { return m_slotTable[static_cast<std::size_t>(index)]; }

    mutable std::mutex m_lock;             // indexes, count changes and slot contents
    std::condition_variable m_spaceEvent;  // after every removal and on stop; the producer waits on it
    std::condition_variable m_dataEvent;   // after every insertion and on stop; the consumer waits on it
    std::unique_ptr<std::byte[]> m_storage;      // slotCount × (slotDataSize + 16) bytes, one allocation
    std::unique_ptr<std::byte*[]> m_slotTable;   // entry i: m_storage + i × (slotDataSize + 16)
    const std::int32_t m_slotDataSize;
    const std::int32_t m_slotCount;              // capacity + 1
    std::int32_t m_readIndex = 0;                // slot of the next Get; consumer, under the lock
    std::int32_t m_writeIndex = 0;               // slot of the next Put; producer, under the lock
    std::atomic<std::int32_t> m_count{0};        // written under the lock, read anywhere
    std::atomic<bool> m_stopped{false};          // set once, never cleared
    std::atomic<std::uint64_t> m_refusedFrames{0};  // producer writes, anyone reads
};

}  // namespace vantrel::pipeline
