// SPDX-License-Identifier: GPL-3.0-or-later
// Zeroed memory for large, long-lived arrays, mapped in 2 MB pages where the kernel offers them.
#include "avi/large_block.h"

#include <new>
#include <sys/mman.h>
#include <utility>

namespace vantrel::avi {

LargeBlock::LargeBlock(std::size_t sizeBytes)
{
    if (sizeBytes == 0) return;
    void* data = ::mmap(nullptr, sizeBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) throw std::bad_alloc();
    // Only a wish: without transparent huge pages the block works the same in small pages.
    ::madvise(data, sizeBytes, MADV_HUGEPAGE);
    m_data = data;
    m_sizeBytes = sizeBytes;
}

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_sizeBytes(std::exchange(other.m_sizeBytes, 0))
{
}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept
{
    if (this != &other) {
        if (m_data) ::munmap(m_data, m_sizeBytes);
        m_data = std::exchange(other.m_data, nullptr);
        m_sizeBytes = std::exchange(other.m_sizeBytes, 0);
    }
    return *this;
}

LargeBlock::~LargeBlock()
{
    if (m_data) ::munmap(m_data, m_sizeBytes);
}

}  // namespace vantrel::avi
