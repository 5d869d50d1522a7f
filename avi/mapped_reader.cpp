// SPDX-License-Identifier: GPL-3.0-or-later
// Copies small pieces of a file out of the page cache through a short-lived mapping, where the kernel maps it in huge pages.
#include "avi/mapped_reader.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::avi {

namespace {

// The copy a thread is making from a mapping: a SIGBUS on an address inside it jumps back.
struct GuardedCopy {
    sigjmp_buf jump;
    const std::byte* begin = nullptr;
    const std::byte* end = nullptr;
};

thread_local GuardedCopy* t_guardedCopy = nullptr;  // the thread's own copy, or none
struct sigaction g_previousSigbus{};                // set once, before the handler can run

void onSigbus(int signal, siginfo_t* info, void* context)
{
    GuardedCopy* guarded = t_guardedCopy;
    const auto* address = static_cast<const std::byte*>(info->si_addr);
    if (guarded && info->si_code > 0 && address >= guarded->begin && address < guarded->end) {
        siglongjmp(guarded->jump, 1);
    }
    // Not a page of ours: what was there before decides.
    if ((g_previousSigbus.sa_flags & SA_SIGINFO) && g_previousSigbus.sa_sigaction) {
        g_previousSigbus.sa_sigaction(signal, info, context);
        return;
    }
    if (!(g_previousSigbus.sa_flags & SA_SIGINFO) && g_previousSigbus.sa_handler != SIG_DFL &&
        g_previousSigbus.sa_handler != SIG_IGN) {
        g_previousSigbus.sa_handler(signal);
        return;
    }
    // The default action: a fault returns to the faulting access and meets it; a sent signal is sent again.
    struct sigaction defaultAction{};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    sigaction(SIGBUS, &defaultAction, nullptr);
    if (info->si_code <= 0) raise(SIGBUS);
}

bool installSigbusHandler() noexcept
{
    static const bool isInstalled = [] {
        struct sigaction action{};
        action.sa_sigaction = onSigbus;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGBUS, &action, &g_previousSigbus) == 0;
    }();
    return isInstalled;
}

long pageFaultsOfThisThread() noexcept
{
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0;
    return usage.ru_minflt + usage.ru_majflt;
}

std::uint64_t roundDown(std::uint64_t value, std::uint64_t unit) noexcept { return value / unit * unit; }

}  // namespace

MappedReader::MappedReader() noexcept
{
    startOver();
}

MappedReader::~MappedReader()
{
    if (m_reservation) munmap(m_reservation, kWindowBytes + kHugePageBytes);
}

bool MappedReader::isWorthTrying() noexcept
{
    if (!m_window) return false;
    if (m_readsToLeave == 0) return true;
    --m_readsToLeave;
    return false;
}

bool MappedReader::copy(const ReadOnlyFile& file, std::span<const ReadPiece> pieces) noexcept
{
    struct stat status{};
    if (!m_window || pieces.empty() || fstat(file.descriptor(), &status) != 0) return false;
    const auto fileBytes = static_cast<std::uint64_t>(status.st_size);
    const MappedFile identity{file.descriptor(), static_cast<std::uint64_t>(status.st_dev),
                              static_cast<std::uint64_t>(status.st_ino)};
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t highest = 0;
    for (const auto& piece : pieces) {
        if (piece.fileOffset > fileBytes || piece.sizeBytes > fileBytes - piece.fileOffset) return false;
        lowest = std::min(lowest, piece.fileOffset);
        highest = std::max(highest, piece.fileOffset + piece.sizeBytes);
    }
    const bool isInWindow = identity == m_mappedFile && lowest >= m_mappedOffset &&
                            highest <= m_mappedOffset + m_mappedBytes;
    if (!isInWindow) {
        // From a huge page boundary, as far as the window or the file reaches: a window's end
        // inside a huge page maps that page in 4 KB pages.
        const auto pageBytes = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        const std::uint64_t offset = roundDown(lowest, kHugePageBytes);
        const std::uint64_t end = std::min(offset + kWindowBytes, roundDown(fileBytes + pageBytes - 1, pageBytes));
        if (highest > end || !map(identity, offset, static_cast<std::size_t>(end - offset))) return false;
    }
    // Faults on the destinations' first use are not the mapping's: take them before counting.
    for (const auto& piece : pieces) {
        if (piece.sizeBytes == 0) continue;
        *static_cast<volatile std::byte*>(piece.destination) = std::byte{0};
        *static_cast<volatile std::byte*>(piece.destination + piece.sizeBytes - 1) = std::byte{0};
    }
    const long faultsBefore = pageFaultsOfThisThread();
    const bool isCopied = copyFromMapping({m_window, m_mappedBytes}, m_mappedOffset, pieces);
    // One fault for each huge page the pieces reach, and one more for a piece of the file's last
    // page, is what a mapping in huge pages costs. In 4 KB pages a fault maps 64 KB, and with
    // the unmapping costs about what reading eight pieces does: with fewer pieces per fault,
    // reading is cheaper. Each dear mapping in a row leaves twice as many reads to the caller.
    constexpr long kPiecesPerSmallFault = 8;
    const long faults = pageFaultsOfThisThread() - faultsBefore;
    const auto hugePages = static_cast<long>((highest - 1) / kHugePageBytes - lowest / kHugePageBytes + 1);
    const bool isDear = faults > hugePages + 1 && faults * kPiecesPerSmallFault > static_cast<long>(pieces.size());
    if (isDear || !isCopied) {
        m_readsToLeave = isCopied ? kReadsLeftAfterDearMapping << std::min<std::size_t>(m_dearInARow, 5) : 0;
        m_dearInARow += isCopied ? 1 : 0;
        release();
    } else {
        m_dearInARow = 0;
    }
    return isCopied;
}

void MappedReader::reserve() noexcept
{
    void* reservation = mmap(nullptr, kWindowBytes + kHugePageBytes, PROT_NONE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reservation == MAP_FAILED) return;
    m_reservation = reservation;
    const auto address = reinterpret_cast<std::uintptr_t>(reservation);
    m_window = reinterpret_cast<std::byte*>((address + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes);
}

void MappedReader::giveBackReservation() noexcept
{
    munmap(m_reservation, kWindowBytes + kHugePageBytes);
    m_reservation = nullptr;
    m_window = nullptr;
}

bool MappedReader::map(const MappedFile& file, std::uint64_t offset, std::size_t bytes) noexcept
{
    release();
    if (!m_window) return false;
    if (mmap(m_window, bytes, PROT_READ, MAP_SHARED | MAP_FIXED, file.descriptor, static_cast<off_t>(offset)) ==
        MAP_FAILED) {
        // A file system that cannot map. A failed fixed mapping may have unmapped the range it
        // was to replace, where anything may be mapped next: the reservation goes whole, and
        // this file is read the other way.
        giveBackReservation();
        return false;
    }
    m_mappedFile = file;
    m_mappedOffset = offset;
    m_mappedBytes = bytes;
    return true;
}

void MappedReader::startOver() noexcept
{
    release();
    if (!m_reservation && installSigbusHandler()) reserve();
    m_readsToLeave = 0;
    m_dearInARow = 0;
}

void MappedReader::release() noexcept
{
    if (m_mappedBytes == 0) return;
    // Back to reserved address space: the file's pages leave this process.
    if (mmap(m_window, m_mappedBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0) ==
        MAP_FAILED) {
        // The file would stay mapped: the whole reservation goes.
        giveBackReservation();
    }
    m_mappedFile = MappedFile{};
    m_mappedOffset = 0;
    m_mappedBytes = 0;
}

// Nothing here may need undoing when the copy is abandoned half-way.
bool copyFromMapping(std::span<const std::byte> mapping, std::uint64_t mappingOffset,
                     std::span<const ReadPiece> pieces) noexcept
{
    if (!installSigbusHandler()) return false;
    GuardedCopy guarded;
    guarded.begin = mapping.data();
    guarded.end = mapping.data() + mapping.size();
    // The signal mask is saved and put back by the jump: SIGBUS is blocked while the handler
    // runs, and must not stay blocked (a second one would then end the process).
    if (sigsetjmp(guarded.jump, 1) != 0) {
        t_guardedCopy = nullptr;
        return false;
    }
    t_guardedCopy = &guarded;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    for (const auto& piece : pieces) {
        std::memcpy(piece.destination, mapping.data() + (piece.fileOffset - mappingOffset), piece.sizeBytes);
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
    t_guardedCopy = nullptr;
    return true;
}

}  // namespace vantrel::avi
