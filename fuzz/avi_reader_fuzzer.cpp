// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the AVI reader: open arbitrary bytes as a file, then read every sample of every stream.
#include "avi/avi_reader.h"
#include "avi/dv_avi.h"
#include "dv/dif_layout.h"

#include <cstddef>
#include <cstdint>
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
    if (ftruncate(fd, 0) != 0) __builtin_trap();
    std::size_t done = 0;
    while (done < size) {
        const auto wrote = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (wrote <= 0) __builtin_trap();
        done += static_cast<std::size_t>(wrote);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vantrel;
    const auto path = writeInput(data, size);
    static std::vector<std::byte> buffer(dv::kMaxFrameBytes);

    if (auto reader = avi::AviReader::open(path)) {
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
    }
    return 0;
}
