// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the AVI reader: open arbitrary bytes as a file, then read every sample of every stream,
// and analyse the DV frames in batches as the analysis thread does.
#include "avi/avi_reader.h"
#include "avi/dv_avi.h"
#include "avi/frame_batch_analyser.h"
#include "dv/pack_decoders.h"
#include "dv/dif_layout.h"

#include <cstddef>
#include <array>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <span>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// The reader opens paths, so each input becomes an in-memory file.
std::string writeInput(const std::uint8_t* data, std::size_t size)
{
    static int fd = -1;
    if (fd < 0) fd = memfd_create("avi_reader_fuzzer", MFD_CLOEXEC);
    if (fd < 0) __builtin_trap();
    // A memory file takes a write whole.
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) __builtin_trap();
    return "/proc/self/fd/" + std::to_string(fd);
}

// The batched, partial reads must give every frame the record that its whole bytes give.
void checkBatchedAnalysis(const vantrel::avi::DvAvi& avi)
{
    using namespace vantrel;
    static avi::FrameBatchAnalyser analyser;
    static std::vector<std::byte> whole(dv::kMaxFrameBytes);
    constexpr std::size_t kBatch = avi::FrameBatchAnalyser::kBatchFrames;
    analyser.reset();
    std::array<std::size_t, kBatch> frames{};
    std::array<dv::DVFrameInfo, kBatch> infos{};
    std::array<dv::DVFrameInfo*, kBatch> records{};
    std::array<avi::FrameBatchAnalyser::FrameOutcome, kBatch> outcomes{};
    const std::size_t checked = std::min<std::size_t>(avi.frameCount(), 4 * kBatch);
    for (std::size_t first = 0; first < checked; first += kBatch) {
        const std::size_t count = std::min(kBatch, checked - first);
        for (std::size_t k = 0; k < count; ++k) {
            frames[k] = first + k;
            infos[k] = {};
            records[k] = &infos[k];
        }
        analyser.analyse(avi, std::span<const std::size_t>(frames.data(), count),
                         std::span<dv::DVFrameInfo* const>(records.data(), count),
                         std::span<avi::FrameBatchAnalyser::FrameOutcome>(outcomes.data(), count));
        for (std::size_t k = 0; k < count; ++k) {
            if (!outcomes[k].isRead) __builtin_trap();  // indexed frames lie inside the file
            const auto read = avi.readFrame(first + k, whole);
            if (!read) __builtin_trap();
            dv::DVFrameInfo expected{};
            dv::AnalyseFrame(std::span<const std::byte>(whole.data(), *read), avi.videoSystem(), expected,
                             static_cast<long>(first + k));
            if (std::memcmp(&expected, &infos[k], sizeof expected) != 0) __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vantrel;
    const auto path = writeInput(data, size);
    static std::vector<std::byte> buffer(dv::kMaxFrameBytes);

    if (auto reader = avi::AviReader::open(path)) {
        // Indexes are capped by what the file holds: each chunk its payload and an 8-byte header.
        std::uint64_t indexedBytes = 0;
        for (std::size_t s = 0; s < reader->streams().size(); ++s) {
            for (std::size_t i = 0; i < reader->sampleCount(s); ++i) indexedBytes += reader->sample(s, i).sizeBytes + 8u;
        }
        if (indexedBytes > size) __builtin_trap();
        if (reader->notes().size() > 11) __builtin_trap();  // notes are capped, the rest counted
        for (std::size_t s = 0; s < reader->streams().size(); ++s) {
            for (std::size_t i = 0; i < reader->sampleCount(s); ++i) {
                const auto& ref = reader->sample(s, i);
                if (ref.offsetBytes + ref.sizeBytes > size) __builtin_trap();  // an index past the file
                if (!reader->readSample(s, i, buffer)) __builtin_trap();       // indexed samples must read
            }
        }
    }
    if (auto avi = avi::OpenDVAvi(path)) {
        for (std::size_t i = 0; i < avi->frameCount(); ++i) {
            if (avi->frameReadBytes(i) > dv::kMaxFrameBytes) __builtin_trap();
            (void)avi->readFrame(i, buffer);
            (void)avi->readMetadataBlocks(i, buffer);
        }
        checkBatchedAnalysis(*avi);
    }
    return 0;
}
