// SPDX-License-Identifier: GPL-3.0-or-later
// The reader on crafted files: index sizes claiming gigabytes (in a program of their own, as they
// measure its peak memory). Wrong indexes, floods of forms and reads past the end are damaged-file
// cases; a frame that is not DV among DV frames and files that are no regular files
// are the probe's cases (tests/tools).
#include "avi/avi_test_files.h"
#include "avi/dv_avi.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace vantrel::avi {
namespace {

using namespace testsupport;

// Peak resident memory of this process so far, in MB.
long peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// Size fields that claim gigabytes in a sparse file: nothing is allocated or read for them
// beyond what the real entries need, and the file opens with every frame.
TEST(HostileIndexes, index_sizes_claiming_gigabytes_take_no_memory)
{
    struct Case {
        const char* name;
        const char* chunk;
        bool claimEntriesToo;  // the entry count of the standard index claims the size's worth as well
        IndexSource expectedSource;
    };
    const auto frames = palFrames(5);
    const Case cases[] = {
        {"standard_index_size", "ix00", false, IndexSource::OpenDml},
        {"standard_index_size_and_entries", "ix00", true, IndexSource::LegacyIdx1},
        {"idx1_size", "idx1", false, IndexSource::OpenDml},
    };
    for (const auto& c : cases) {
        auto bytes = writtenAvi(frames);
        const auto chunk = findFourCC(bytes, c.chunk);
        putU32(bytes, chunk + 4, 0xFFFFFFF0u);
        if (c.claimEntriesToo) putU32(bytes, chunk + 8 + 4, (0xFFFFFFF0u - 24) / 8);
        const auto path = writeTestFile(std::string(c.name) + ".avi", bytes);
        ASSERT_EQ(::truncate(path.c_str(), 6LL << 30), 0) << "a sparse file of 6 GB";
        const long before = peakMegabytes();
        expectFrames(path, frames, 5, c.expectedSource);
        EXPECT_LT(peakMegabytes() - before, 100) << c.name;
        ::truncate(path.c_str(), 0);
    }
}

}  // namespace
}  // namespace vantrel::avi
