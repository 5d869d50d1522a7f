// SPDX-License-Identifier: GPL-3.0-or-later
// Zeroed memory for large, long-lived arrays, mapped in 2 MB pages where the kernel offers them.
#pragma once

#include <cstddef>

namespace vantrel::avi {

// The frame store of a two-hour tape is 80 MB, written once per analysis run. In 4 KB pages
// the kernel maps it with twenty thousand page faults, each costing microseconds inside a
// virtual machine; in transparent huge pages it takes a few dozen. The memory comes zeroed.
class LargeBlock {
public:
    LargeBlock() = default;
    // Throws std::bad_alloc when the system has no memory for it.
    explicit LargeBlock(std::size_t sizeBytes);
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    ~LargeBlock();

    void* data() const noexcept { return m_data; }
    std::size_t sizeBytes() const noexcept { return m_sizeBytes; }

private:
    void* m_data = nullptr;
    std::size_t m_sizeBytes = 0;
};

}  // namespace vantrel::avi
