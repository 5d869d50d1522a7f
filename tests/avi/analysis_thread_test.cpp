// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis thread and its frame store: every frame decoded once, never an empty record seen;
// its batched reads through io_uring or pread.
#include "avi/analysis_thread.h"
#include "avi/avi_test_files.h"
#include "avi/batch_reader.h"
#include "avi/frame_batch_analyser.h"
#include "avi/frame_store.h"
#include "avi/mapped_reader.h"
#include "dv/pack_decoders.h"
#include "support/records.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <numeric>
#include <random>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace vantrel::avi {
namespace {

using testsupport::SyntheticDvFrame;

std::string expectedTimeCode(int frame)
{
    char text[64];
    std::snprintf(text, sizeof text, "TimeCode 00:%02d:%02d   %02d", frame / 750, (frame / 25) % 30, frame % 25);
    return text;
}

// A file whose frame i carries time code 00:mm:ss ff = i and the recording second i % 60.
std::shared_ptr<const DvAvi> openFile(const std::string& name, int frames)
{
    testsupport::Frames content;
    for (int i = 0; i < frames; ++i) {
        auto frame = SyntheticDvFrame::pal();
        frame.withTimecode({0, i / 750, (i / 25) % 30, i % 25})
            .withRecordingDate({2004, 7, 14}, {18, 3, i % 60})
            .withCameraPack({.irisCode = 8, .gainCode = 4});
        content.push_back(frame.bytes());
    }
    return testsupport::openWritten(name, content);
}

void expectRecordOfFrame(const dv::DVFrameInfo& record, int frame)
{
    EXPECT_EQ(std::string(record.szTimeCode), expectedTimeCode(frame));
    EXPECT_EQ(record.tmRecorded.tm_sec, frame % 60);
    EXPECT_EQ(record.tmRecorded.tm_year, 104);
    EXPECT_EQ(record.nGain, 4);
    EXPECT_DOUBLE_EQ(record.dIris, 2.0);
}

// Each start replaces the run and the records of the file before, also one still being analysed.
TEST(AnalysisThread, another_file_replaces_the_records_and_two_runs_never_write_at_once)
{
    const auto first = openFile("analysis_restart_a.avi", 30);
    const auto second = openFile("analysis_restart_b.avi", 20);
    AnalysisThread analysis;
    for (int round = 0; round < 10; ++round) {
        analysis.start(round % 2 == 0 ? first : second);
        auto record = analysis.recordFor(7);
        ASSERT_TRUE(record);
        expectRecordOfFrame(*record, 7);
    }
    analysis.waitUntilFinished();
    EXPECT_EQ(analysis.framesDone(), 20u);
    EXPECT_FALSE(analysis.recordFor(20));
}

// Records read while the thread writes are always whole; once it is stopped, records it never
// reached are decoded on demand.
TEST(AnalysisThread, records_are_whole_while_it_runs_and_decoded_on_demand_once_stopped)
{
    AnalysisThread analysis;
    dv::InfoLineFormatter formatter;
    EXPECT_FALSE(analysis.ShowAnalysedFrame(0, formatter));  // no file yet
    const auto file = openFile("analysis_concurrent.avi", 60);
    analysis.start(file);
    std::mt19937 random(3);
    while (!analysis.isFinished()) {
        const auto frame = static_cast<int>(random() % 60);
        auto record = analysis.recordFor(static_cast<std::size_t>(frame));
        ASSERT_TRUE(record);
        expectRecordOfFrame(*record, frame);
    }
    ASSERT_TRUE(analysis.ShowAnalysedFrame(3, formatter));
    EXPECT_EQ(std::string(formatter.lines().timeCode), expectedTimeCode(3));
    EXPECT_FALSE(analysis.ShowAnalysedFrame(60, formatter));
    EXPECT_FALSE(analysis.ShowAnalysedFrame(-1, formatter));

    analysis.start(file);
    analysis.stop();  // stopped early: most records were never reached by the thread
    for (int i = 59; i >= 0; --i) {
        auto record = analysis.recordFor(static_cast<std::size_t>(i));
        ASSERT_TRUE(record) << i;
        ASSERT_FALSE(dv::isNeverAnalysed(*record)) << i;
        expectRecordOfFrame(*record, i);
    }
    EXPECT_EQ(analysis.framesDone(), 60u);
}

TEST(FrameStore, holds_a_two_hour_tape_and_reuses_its_memory_for_shorter_files)
{
    FrameStore store;
    store.reset(180000);
    ASSERT_TRUE(store.tryClaim(179999));
    EXPECT_FALSE(store.tryClaim(179999));  // one writer per record
    EXPECT_FALSE(store.published(179999));  // claimed is not yet published

    const auto* before = &store.claimedRecord(0);
    store.reset(10);
    EXPECT_EQ(&store.claimedRecord(0), before);  // no new allocation for a shorter file
    EXPECT_FALSE(store.tryClaim(10));
    EXPECT_TRUE(store.tryClaim(9));
    EXPECT_TRUE(dv::isNeverAnalysed(store.claimedRecord(9)));
}

constexpr dv::DVPack kDate{{0x62, 0xFF, 0xD4, 0xE7, 0x04}};  // 14.07.2004
constexpr dv::DVPack kTime{{0x63, 0xFF, 0x89, 0x83, 0xD8}};  // 18:03:09

// The record that reading the whole frame and analysing it gives.
dv::DVFrameInfo wholeFrameRecord(const DvAvi& file, std::size_t frameIndex)
{
    std::vector<std::byte> buffer(dv::kMaxFrameBytes);
    const auto read = file.readFrame(frameIndex, buffer);
    EXPECT_TRUE(read) << frameIndex;
    dv::DVFrameInfo record{};
    dv::AnalyseFrame(std::span<const std::byte>(buffer.data(), read ? *read : 0), file.videoSystem(), record,
                     static_cast<long>(frameIndex));
    return record;
}


using ReadSetup = std::tuple<ReadBackend, std::size_t>;  // the back end and the number of workers

const char* backendName(ReadBackend backend)
{
    return backend == ReadBackend::Mapped ? "mapped" : backend == ReadBackend::IoUring ? "io_uring" : "pread";
}

std::string setupName(const ReadSetup& setup)
{
    return std::string(backendName(std::get<0>(setup))) + "_" + std::to_string(std::get<1>(setup)) + "_workers";
}

// The batched, partial reads give every frame the record a whole-frame read gives. Any pack
// layout against whole-frame analysis is the AVI fuzzer's property; these cases are the ones
// where the batches, the workers and the learnt sequence count meet. The setups run as separate
// tests at once: each writes its own files.
class AnalysisReads : public testing::TestWithParam<ReadSetup> {
protected:
    std::string fileName(const std::string& stem) const { return stem + "_" + setupName(GetParam()) + ".avi"; }
};

TEST_P(AnalysisReads, date_moving_to_later_sequences_after_a_run_of_early_ones_is_still_found)
{
    // Frames 0..99 carry everything in sequence 0, so the thread learns to read one sequence;
    // from frame 100 on the date and time come only in the last sequence.
    testsupport::Frames frames;
    for (int i = 0; i < 160; ++i) {
        auto frame = SyntheticDvFrame::pal();
        frame.withTimecode({0, 0, i / 25, i % 25}).withCameraPack({}).withShutterWord(0x0138);
        frame.withSubcodePack(i < 100 ? 0 : 11, 0, 1, kDate).withSubcodePack(i < 100 ? 0 : 11, 0, 2, kTime);
        frames.push_back(frame.bytes());
    }
    const auto file = testsupport::openWritten(fileName("analysis_reads_moving_date"), frames);
    AnalysisThread analysis(std::get<0>(GetParam()), std::get<1>(GetParam()));
    analysis.start(file);
    analysis.waitUntilFinished();
    for (std::size_t i = 0; i < 160; ++i) {
        const auto record = analysis.recordFor(i);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->tmRecorded.tm_year, 104) << i;
        EXPECT_EQ(record->tmRecorded.tm_hour, 18) << i;
    }
}

TEST_P(AnalysisReads, frames_cut_off_after_opening_count_as_failures_and_repeat_the_last_record)
{
    // Cut inside a batch and on a batch's first frame: the record to repeat lies in the same
    // batch or in one that another worker may have read.
    for (const std::size_t firstCut : {std::size_t{75}, std::size_t{80}}) {
        const auto file = testsupport::openWritten(fileName("analysis_reads_cut"), testsupport::palFrames(120));
        std::filesystem::resize_file(testsupport::testPath(fileName("analysis_reads_cut")), file->reader().sample(file->streamIndex(), firstCut).offsetBytes);
        const auto lastReadable = wholeFrameRecord(*file, firstCut - 1);
        AnalysisThread analysis(std::get<0>(GetParam()), std::get<1>(GetParam()));
        // Which worker reads which batch changes from run to run: several runs.
        for (int run = 0; run < 6; ++run) {
            analysis.start(file);
            analysis.waitUntilFinished();
            EXPECT_EQ(analysis.framesDone(), 120u);
            EXPECT_EQ(analysis.readFailures(), 120u - firstCut);
            for (std::size_t i = firstCut - 1; i < 120; ++i) {
                const auto record = analysis.recordFor(i);
                ASSERT_TRUE(record);
                ASSERT_TRUE(testsupport::sameRecord(*record, lastReadable)) << "cut at " << firstCut << ", frame " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Setups, AnalysisReads,
                         testing::Combine(testing::Values(ReadBackend::Mapped, ReadBackend::IoUring, ReadBackend::Pread),
                                          testing::Values(std::size_t{1}, std::size_t{2})),
                         [](const auto& info) { return setupName(info.param); });

// The batch reader on a file out of the page cache.
class BatchReads : public testing::TestWithParam<ReadBackend> {};

// Whether the page of `path` at `offset` is in the page cache (mincore, not the code under test).
bool isCached(const std::string& path, std::uint64_t offset)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    void* map = ::mmap(nullptr, page, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(offset / page * page));
    unsigned char resident = 0;
    const bool isMapped = map != MAP_FAILED && ::mincore(map, page, &resident) == 0;
    if (map != MAP_FAILED) ::munmap(map, page);
    ::close(fd);
    return isMapped && (resident & 1) != 0;
}

// From the disk the pieces of a batch lie too far apart for the kernel's readahead: the analyser
// has it read the span ahead whole (beyond the kernel's own window), and the records stay right.
TEST_P(BatchReads, a_file_out_of_the_page_cache_is_read_ahead_and_gives_the_records_of_whole_frames)
{
    const std::string name = std::string("cold_") + backendName(GetParam()) + ".avi";
    const auto file = testsupport::openWritten(name, testsupport::palFrames(140));
    const std::string path = testsupport::testPath(name).string();
    const std::uint64_t ahead = file->reader().sample(file->streamIndex(), 120).offsetBytes;  // 15 MB past the batch
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    if (isCached(path, 0) || isCached(path, ahead)) GTEST_SKIP() << "the file system keeps this file in memory";

    FrameBatchAnalyser analyser(GetParam());
    std::array<std::size_t, FrameBatchAnalyser::kBatchFrames> frames{};
    std::iota(frames.begin(), frames.end(), std::size_t{0});
    std::array<dv::DVFrameInfo, FrameBatchAnalyser::kBatchFrames> records{};
    std::array<dv::DVFrameInfo*, FrameBatchAnalyser::kBatchFrames> recordPointers{};
    for (std::size_t i = 0; i < records.size(); ++i) recordPointers[i] = &records[i];
    std::array<FrameBatchAnalyser::FrameOutcome, FrameBatchAnalyser::kBatchFrames> outcomes{};
    analyser.analyse(*file, frames, recordPointers, outcomes);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(outcomes[i].isRead) << i;
        EXPECT_TRUE(testsupport::sameRecord(records[i], wholeFrameRecord(*file, i))) << i;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!isCached(path, ahead) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling the page cache, no event to wait on
    }
    EXPECT_TRUE(isCached(path, ahead)) << "the span ahead is read";
}

INSTANTIATE_TEST_SUITE_P(Backends, BatchReads, testing::Values(ReadBackend::Mapped, ReadBackend::IoUring, ReadBackend::Pread),
                         [](const auto& info) { return std::string(backendName(info.param)); });

// Copies out of a mapping kept from one batch to the next take what the file holds now.
TEST(MappedCopies, take_the_bytes_of_the_file_as_it_is_now_and_of_the_file_that_has_the_descriptor_now)
{
    const auto first = testsupport::testPath("mapped_first.bin");
    const auto second = testsupport::testPath("mapped_second.bin");
    ASSERT_TRUE(testsupport::writeBytes(first, std::vector<std::byte>(65000, std::byte{'a'})));  // ends inside a page
    ASSERT_TRUE(testsupport::writeBytes(second, std::vector<std::byte>(65536, std::byte{'b'})));
    MappedReader reader;
    std::array<std::byte, 8> got{};
    const ReadPiece piece{100, got.data(), got.size()};
    const ReadPiece pastTheEnd{64996, got.data(), got.size()};
    {
        const auto file = ReadOnlyFile::open(first.string());
        ASSERT_TRUE(reader.copy(*file, {&piece, 1}));
        EXPECT_EQ(got[0], std::byte{'a'});
        EXPECT_FALSE(reader.copy(*file, {&pastTheEnd, 1}));
    }
    const auto file = ReadOnlyFile::open(second.string());
    ASSERT_TRUE(reader.copy(*file, {&piece, 1}));
    EXPECT_EQ(got[0], std::byte{'b'});
}

// A file cut short under a mapping faults with SIGBUS past its new end: a failed copy, not the
// end of the program; a SIGBUS anywhere else still ends it.
TEST(MappedCopies, a_page_cut_off_under_the_mapping_fails_the_copy_and_only_that)
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const auto path = testsupport::testPath("mapped_cut.bin");
    ASSERT_TRUE(testsupport::writeBytes(path, std::vector<std::byte>(3 * page, std::byte{'c'})));
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    void* map = ::mmap(nullptr, 3 * page, PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(page)), 0);
    const auto mapping = std::span<const std::byte>(static_cast<const std::byte*>(map), 3 * page);
    std::array<std::byte, 8> got{};
    const ReadPiece kept{8, got.data(), got.size()};
    const ReadPiece cut{2 * page + 8, got.data(), got.size()};
    for (int round = 0; round < 2; ++round) {
        EXPECT_TRUE(copyFromMapping(mapping, 0, {&kept, 1}));
        EXPECT_EQ(got[0], std::byte{'c'});
        EXPECT_FALSE(copyFromMapping(mapping, 0, {&cut, 1}));
    }
    EXPECT_DEATH(static_cast<void>(*static_cast<const volatile std::byte*>(mapping.data() + 2 * page)), "");
    ::munmap(map, 3 * page);
    ::close(fd);
}

}  // namespace
}  // namespace vantrel::avi
