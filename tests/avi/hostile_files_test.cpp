// SPDX-License-Identifier: GPL-3.0-or-later
// The reader and OpenDVAvi on crafted and careless files: index sizes claiming gigabytes (in a
// program of their own, as they measure its peak memory), a frame that is not DV among DV frames,
// files that are no regular files. Wrong indexes and floods of forms are damaged-file cases.
#include "avi/avi_test_files.h"
#include "avi/dv_avi.h"
#include "avi/frame_batch_analyser.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace vantrel::avi {
namespace {

using namespace testsupport;

const Frames& frames()
{
    static const auto all = palFrames(5);
    return all;
}

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
    const Case cases[] = {
        {"standard_index_size", "ix00", false, IndexSource::OpenDml},
        {"standard_index_size_and_entries", "ix00", true, IndexSource::LegacyIdx1},
        {"idx1_size", "idx1", false, IndexSource::OpenDml},
    };
    for (const auto& c : cases) {
        auto bytes = writtenAvi(frames());
        const auto chunk = findFourCC(bytes, c.chunk);
        putU32(bytes, chunk + 4, 0xFFFFFFF0u);
        if (c.claimEntriesToo) putU32(bytes, chunk + 8 + 4, (0xFFFFFFF0u - 24) / 8);
        const auto path = writeTestFile(std::string(c.name) + ".avi", bytes);
        ASSERT_EQ(::truncate(path.c_str(), 6LL << 30), 0) << "a sparse file of 6 GB";
        const long before = peakMegabytes();
        expectFrames(path, frames(), 5, c.expectedSource);
        EXPECT_LT(peakMegabytes() - before, 100) << c.name;
        ::truncate(path.c_str(), 0);
    }
}

// One bad frame among DV frames (fillers, zeros, garbage) is damaged, not the end of the stream:
// the analysis says which.
TEST(HostileFrames, a_frame_without_a_dif_header_is_flagged_by_the_analysis)
{
    for (const int value : {0xFF, 0x00, -1}) {
        Frames content = frames();
        std::mt19937 random(11);
        for (auto& b : content[2]) b = static_cast<std::byte>(value < 0 ? random() : static_cast<unsigned>(value));
        auto avi = OpenDVAvi(writeTestFile("one_bad_frame.avi", writtenAvi(content)));
        ASSERT_TRUE(avi) << avi.error();
        FrameBatchAnalyser analyser;
        std::array<std::size_t, 5> numbers{0, 1, 2, 3, 4};
        std::array<dv::DVFrameInfo, 5> infos{};
        std::array<dv::DVFrameInfo*, 5> records{&infos[0], &infos[1], &infos[2], &infos[3], &infos[4]};
        std::array<FrameBatchAnalyser::FrameOutcome, 5> outcomes{};
        analyser.analyse(*avi, numbers, records, outcomes);
        for (std::size_t i = 0; i < 5; ++i) {
            EXPECT_TRUE(outcomes[i].isRead) << i;
            EXPECT_EQ(outcomes[i].hasDifHeader, i != 2) << "frame " << i;
        }
        EXPECT_STREQ(infos[2].szTimeCode, "TimeCode --:--:--   --") << "no invented time code";
    }
}

// Opening a FIFO for reading would wait for a writer for ever; nothing but a regular file is opened.
TEST(HostileFiles, what_is_no_regular_file_is_refused_at_once)
{
    const auto folder = testsupport::freshTestFolder();
    const auto fifo = (folder / "fifo.avi").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {{fifo, "not a regular file (a FIFO)"},
                          {folder.string(), "not a regular file (a directory)"},
                          {"/dev/zero", "not a regular file (a character device)"},
                          {(folder / "missing.avi").string(), "cannot open: No such file or directory"}};
    for (const auto& c : cases) {
        auto avi = OpenDVAvi(c.path);
        ASSERT_FALSE(avi) << c.path;
        EXPECT_EQ(avi.error(), c.path + ": " + c.reason);
    }
}

// A read past the end names where the file really ends, not the offset asked for.
TEST(HostileFiles, a_read_past_the_end_names_the_real_end)
{
    const auto path = writeTestFile("short.bin", Bytes(17047, std::byte{1}));
    auto file = ReadOnlyFile::open(path);
    ASSERT_TRUE(file);
    std::array<std::byte, 8> bytes{};
    auto past = file->readExactlyAt(1073266242, bytes);
    ASSERT_FALSE(past);
    EXPECT_EQ(past.error().rfind("the file ends at byte 17047,", 0), 0u) << past.error();
    auto across = file->readExactlyAt(17044, bytes);
    ASSERT_FALSE(across);
    EXPECT_EQ(across.error().rfind("the file ends at byte 17047,", 0), 0u) << across.error();
}

}  // namespace
}  // namespace vantrel::avi
