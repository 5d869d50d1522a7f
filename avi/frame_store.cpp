// SPDX-License-Identifier: GPL-3.0-or-later
// g_FrameInfos: one DVFrameInfo per frame of the open file, each published once with release/acquire.
#include "avi/frame_store.h"

#include <cstring>
#include <new>

namespace vantrel::avi {

void FrameStore::reset(std::size_t frameCount)
{
    if (frameCount > m_capacity) {
        m_memory = LargeBlock();  // give back the old block before taking the larger one
        m_memory = LargeBlock(frameCount * sizeof(Slot));
        m_slots = static_cast<Slot*>(m_memory.data());
        for (std::size_t i = 0; i < frameCount; ++i) new (&m_slots[i]) Slot;
        m_capacity = frameCount;
    } else {
        for (std::size_t i = 0; i < frameCount; ++i) {
            m_slots[i].state.store(SlotState::Empty, std::memory_order_relaxed);
            std::memset(static_cast<void*>(&m_slots[i].record), 0, sizeof(dv::DVFrameInfo));
        }
    }
    m_size = frameCount;
    m_publishedCount.store(0, std::memory_order_release);
}

bool FrameStore::tryClaim(std::size_t frameIndex) noexcept
{
    if (frameIndex >= m_size) return false;
    auto expected = SlotState::Empty;
    return m_slots[frameIndex].state.compare_exchange_strong(expected, SlotState::Writing, std::memory_order_acquire,
                                                              std::memory_order_relaxed);
}

void FrameStore::publish(std::size_t frameIndex) noexcept
{
    m_slots[frameIndex].state.store(SlotState::Published, std::memory_order_release);
    m_publishedCount.fetch_add(1, std::memory_order_acq_rel);
}

std::optional<dv::DVFrameInfo> FrameStore::published(std::size_t frameIndex) const noexcept
{
    if (frameIndex >= m_size) return std::nullopt;
    if (m_slots[frameIndex].state.load(std::memory_order_acquire) != SlotState::Published) return std::nullopt;
    return m_slots[frameIndex].record;
}

}  // namespace vantrel::avi
