// SPDX-License-Identifier: GPL-3.0-or-later
// Bounded first-in-first-out store of DV frames between one producer and one consumer thread.
#include "pipeline/frame_ring.h"

#include <cstring>
#include <stdexcept>

namespace vantrel::pipeline {

namespace {

void storeLittleEndian(std::byte* to, std::uint64_t value, std::size_t bytes) noexcept
{
    for (std::size_t i = 0; i < bytes; ++i) {
        to[i] = static_cast<std::byte>(value >> (8 * i));
    }
}

std::uint64_t loadLittleEndian(const std::byte* from, std::size_t bytes) noexcept
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
        value |= static_cast<std::uint64_t>(from[i]) << (8 * i);
    }
    return value;
}

std::int32_t checkedSlotCount(std::int32_t capacity)
{
    if (capacity < 1 || capacity == INT32_MAX) {
        throw std::invalid_argument("frame ring capacity must be between 1 and 2^31 - 2");
    }
    return capacity + 1;
}

}  // namespace

CFrameRing::CFrameRing(std::int32_t capacity, std::int32_t slotDataSize)
    : m_slotDataSize(slotDataSize), m_slotCount(checkedSlotCount(capacity))
{
    if (slotDataSize < 0 || slotDataSize > INT32_MAX - static_cast<std::int32_t>(kSlotOverheadBytes)) {
        throw std::invalid_argument("frame ring slot data size out of range");
    }
    const std::size_t slotBytes = static_cast<std::size_t>(slotDataSize) + kSlotOverheadBytes;
    const std::size_t slots = static_cast<std::size_t>(m_slotCount);
    m_storage.reset(new std::byte[slots * slotBytes]);  // int32 × int32 fits a 64-bit size
    m_slotTable.reset(new std::byte*[slots]);
    for (std::size_t i = 0; i < slots; ++i) {
        m_slotTable[i] = m_storage.get() + i * slotBytes;
    }
}

CFrameRing::~CFrameRing() = default;

void CFrameRing::Put(REFERENCE_TIME duration, const std::byte* data, long length)
{
    if (data == nullptr) {
        m_stopped.store(true, std::memory_order_release);
        // A waiter checks the flag under the lock before it sleeps: passing through the lock here
        // makes sure it either saw the flag or is already asleep and gets the wake-up.
        { std::lock_guard passThrough(m_lock); }
        m_dataEvent.notify_all();
        m_spaceEvent.notify_all();
        return;
    }
    if (isStopped()) {
        return;
    }
    if (length < 0 || length > static_cast<long>(m_slotDataSize) + 4) {
        m_refusedFrames.fetch_add(1, std::memory_order_relaxed);
        return;
    }

    std::unique_lock lock(m_lock);
    m_spaceEvent.wait(lock, [this] { return isStopped() || m_count.load(std::memory_order_relaxed) < m_slotCount - 1; });
    if (isStopped()) {
        return;  // stopped while full (or just now): the frame is dropped
    }
    std::byte* to = slot(m_writeIndex);
    storeLittleEndian(to + kDurationOffset, static_cast<std::uint64_t>(duration), 8);
    storeLittleEndian(to + kLengthOffset, static_cast<std::uint64_t>(length), 4);
    if (length > 0) {
        std::memcpy(to + kDataOffset, data, static_cast<std::size_t>(length));
    }
    m_writeIndex = (m_writeIndex + 1) % m_slotCount;
    m_count.fetch_add(1, std::memory_order_release);
    m_dataEvent.notify_one();
}

bool CFrameRing::Get(REFERENCE_TIME* duration, const std::byte** data, long* length)
{
    std::unique_lock lock(m_lock);
    while (m_count.load(std::memory_order_relaxed) < 1) {
        if (isStopped()) {
            return false;
        }
        m_dataEvent.wait(lock);
    }
    const std::byte* from = slot(m_readIndex);
    *duration = static_cast<REFERENCE_TIME>(loadLittleEndian(from + kDurationOffset, 8));
    *length = static_cast<long>(loadLittleEndian(from + kLengthOffset, 4));
    *data = from + kDataOffset;
    m_readIndex = (m_readIndex + 1) % m_slotCount;
    m_count.fetch_sub(1, std::memory_order_release);
    m_spaceEvent.notify_one();
    return true;
}

}  // namespace vantrel::pipeline
