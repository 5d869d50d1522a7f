// SPDX-License-Identifier: GPL-3.0-or-later
// g_FrameInfos: one DVFrameInfo per frame of the open file, each published once with release/acquire.
#pragma once

#include "avi/large_block.h"
#include "dv/dv_frame_info.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace vantrel::avi {

// Sized from the file's frame count: a two-hour tape (180000 PAL frames) fits; the memory is
// reused when the next file is not longer. Each record goes from empty to being written to
// published exactly once per run, so a reader never sees a half-written record and two
// writers never write the same one.
//
// Threading: reset() needs every writer and reader stopped (the analysis thread joined);
// tryClaim/publish/published may then run on any threads at once.
class FrameStore {
public:
    FrameStore() = default;
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // Room for frameCount records, every one empty and zero. Allocates only when the current
    // allocation is too small.
    void reset(std::size_t frameCount);

    std::size_t size() const noexcept { return m_size; }

    // Claims record i for writing. False when it is out of range or already claimed by another writer.
    bool tryClaim(std::size_t frameIndex) noexcept;
    // The record the caller has claimed, to write into.
    dv::DVFrameInfo& claimedRecord(std::size_t frameIndex) noexcept { return m_slots[frameIndex].record; }
    // Makes the claimed record visible to every thread.
    void publish(std::size_t frameIndex) noexcept;

    // A copy of record i once it is published; nothing while it is empty or being written.
    std::optional<dv::DVFrameInfo> published(std::size_t frameIndex) const noexcept;
    std::size_t publishedCount() const noexcept { return m_publishedCount.load(std::memory_order_acquire); }

private:
    enum class SlotState : std::uint8_t { Empty, Writing, Published };

    struct Slot {
        std::atomic<SlotState> state{SlotState::Empty};
        dv::DVFrameInfo record{};
    };
    static_assert(std::is_trivially_destructible_v<Slot>, "the block is given back without destructors");

    LargeBlock m_memory;    // zeroed by the kernel: every slot starts Empty with a zero record
    Slot* m_slots = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_size = 0;
    std::atomic<std::size_t> m_publishedCount{0};
};

}  // namespace vantrel::avi
