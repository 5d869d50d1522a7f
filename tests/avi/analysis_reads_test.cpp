// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis thread's batched, partial reads give every frame the record a whole-frame read gives.
#include "avi/analysis_thread.h"
#include "avi/batch_reader.h"
#include "avi/avi_test_files.h"
#include "dv/pack_decoders.h"
#include "support/records.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

namespace vantrel::avi {
namespace {

using testsupport::SyntheticDvFrame;

constexpr dv::DVPack kDate{{0x62, 0xFF, 0xD4, 0xE7, 0x04}};  // 14.07.2004
constexpr dv::DVPack kTime{{0x63, 0xFF, 0x89, 0x83, 0xD8}};  // 18:03:09

// Any pack layout against whole-frame analysis is the AVI fuzzer's property; these cases are the
// ones where the batches, the workers and the learnt sequence count meet.
std::shared_ptr<const DvAvi> openTape(const std::string& path)
{
    auto avi = OpenDVAvi(path);
    if (!avi) throw std::runtime_error(avi.error());
    return std::make_shared<const DvAvi>(std::move(*avi));
}

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


const char* backendName(ReadBackend backend)
{
    return backend == ReadBackend::IoUring ? "io_uring" : "pread";
}

struct ReadSetup {
    ReadBackend backend;
    std::size_t workers;
};

std::string setupName(const ReadSetup& setup)
{
    return std::string(backendName(setup.backend)) + "_" + std::to_string(setup.workers) + "_workers";
}

// The setups run as separate tests at once: each writes its own files.
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
    const auto file = openTape(
        testsupport::writeTestFile(fileName("analysis_reads_moving_date"), testsupport::writtenAvi(frames)));
    AnalysisThread analysis(GetParam().backend, GetParam().workers);
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
        const auto path = testsupport::writeTestFile(fileName("analysis_reads_cut"),
                                                     testsupport::writtenAvi(testsupport::palFrames(120)));
        const auto file = openTape(path);
        std::filesystem::resize_file(path, file->reader().sample(file->streamIndex(), firstCut).offsetBytes);
        const auto lastReadable = wholeFrameRecord(*file, firstCut - 1);
        AnalysisThread analysis(GetParam().backend, GetParam().workers);
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
                         testing::Values(ReadSetup{ReadBackend::IoUring, 1}, ReadSetup{ReadBackend::IoUring, 2},
                                         ReadSetup{ReadBackend::Pread, 1}, ReadSetup{ReadBackend::Pread, 2}),
                         [](const auto& info) { return setupName(info.param); });

// The batch reader against plain reads of the same file.
class BatchReads : public testing::TestWithParam<ReadBackend> {};

TEST_P(BatchReads, reads_scattered_pieces_in_any_order_and_flags_those_past_the_end)
{
    const std::string path = testsupport::testPath("content.bin").string();
    std::vector<std::byte> content(300000);
    std::mt19937 random(7);
    for (auto& byte : content) byte = static_cast<std::byte>(random());
    ASSERT_TRUE(testsupport::writeBytes(path, content));
    auto file = ReadOnlyFile::open(path);
    ASSERT_TRUE(file);

    // More pieces than the reader keeps in flight, shuffled, some reaching past the end.
    constexpr std::size_t kPieces = 300;
    std::vector<std::byte> out(kPieces * 1000, std::byte{0});
    std::vector<ReadPiece> pieces;
    std::vector<std::uint64_t> offsets;
    for (std::size_t i = 0; i < kPieces; ++i) {
        const std::uint64_t offset = random() % (content.size() + 2000);
        const std::size_t size = 1 + random() % 999;
        pieces.push_back({offset, out.data() + i * 1000, size});
    }
    std::shuffle(pieces.begin(), pieces.end(), random);
    BatchReader reader(GetParam(), 64);
    if (reader.backend() != GetParam()) GTEST_SKIP() << "the kernel refuses io_uring here";
    std::unique_ptr<bool[]> isRead(new bool[kPieces]);
    reader.read(*file, pieces, std::span<bool>(isRead.get(), kPieces));
    for (std::size_t i = 0; i < kPieces; ++i) {
        const auto& piece = pieces[i];
        const bool isInside = piece.fileOffset + piece.sizeBytes <= content.size();
        ASSERT_EQ(isRead[i], isInside) << i;
        if (isInside) {
            ASSERT_EQ(std::memcmp(piece.destination, content.data() + piece.fileOffset, piece.sizeBytes), 0) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, BatchReads, testing::Values(ReadBackend::IoUring, ReadBackend::Pread),
                         [](const auto& info) { return std::string(backendName(info.param)); });

}  // namespace
}  // namespace vantrel::avi
