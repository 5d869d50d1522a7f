// SPDX-License-Identifier: GPL-3.0-or-later
// Counts heap allocations through a replaced global operator new. Include it in exactly one
// source file of a test program.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace vantrel::testsupport {
inline std::atomic<long> g_allocationCount{0};
inline long allocationCount() { return g_allocationCount.load(); }
}  // namespace vantrel::testsupport

// The replacement pair below allocates with malloc and frees with free, which GCC cannot see.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size)
{
    vantrel::testsupport::g_allocationCount.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
