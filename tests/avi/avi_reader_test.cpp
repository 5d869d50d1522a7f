// SPDX-License-Identifier: GPL-3.0-or-later
// The AVI reader on hand-built files: every index kind, both file types, and damaged files.
#include "avi/avi_reader.h"
#include "avi/dv_avi.h"
#include "avi/test_avi_builder.h"
#include "support/synthetic_dv_frame.h"

#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <thread>

namespace vantrel::avi {
namespace {

using testsupport::buildAvi;
using testsupport::expectFrames;
using testsupport::palFrames;
using testsupport::TestAviBuilder;
using testsupport::TestAviOptions;
using testsupport::TestIndex;
using testsupport::TestStream;
using testsupport::writeTestFile;

const testsupport::Frames& sixPalFrames()
{
    static const auto frames = palFrames(6);
    return frames;
}

bool mentions(const std::vector<std::string>& notes, const std::string& word)
{
    return std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.find(word) != std::string::npos; });
}

// Six frames, in one RIFF form or in forms of two frames ('AVI ' then 'AVIX'), read through each kind of index.
TEST(AviReaderIndexes, reads_every_frame_through_each_kind_of_index)
{
    struct Case {
        const char* name;
        TestIndex index;
        std::size_t framesPerForm;
        IndexSource source;
    };
    const Case cases[] = {
        {"idx1_relative.avi", TestIndex::Idx1RelativeToMovi, 6, IndexSource::LegacyIdx1},
        {"idx1_absolute.avi", TestIndex::Idx1FileOffsets, 6, IndexSource::LegacyIdx1},
        {"opendml.avi", TestIndex::OpenDml, 2, IndexSource::OpenDml},
        {"no_index.avi", TestIndex::None, 6, IndexSource::Scan},
        {"idx1_and_avix.avi", TestIndex::Idx1RelativeToMovi, 2, IndexSource::Scan},  // idx1 misses the AVIX forms
    };
    for (const auto& c : cases) {
        TestAviBuilder builder({.index = c.index});
        for (std::size_t i = 0; i < 6; ++i) {
            if (i > 0 && i % c.framesPerForm == 0) builder.startExtensionForm();
            builder.addFrame(sixPalFrames()[i]);
        }
        const auto path = writeTestFile(c.name, builder.finish());
        expectFrames(path, sixPalFrames(), 6, c.source);
        auto avi = OpenDVAvi(path);
        ASSERT_TRUE(avi) << avi.error();
        EXPECT_EQ(avi->streamInfo().dwLength, 6u) << c.name;
        const auto& reader = avi->reader();
        EXPECT_EQ(mentions(reader.notes(), "scanning"), c.source == IndexSource::Scan) << c.name;
        ASSERT_EQ(reader.streams().size(), 2u);
        EXPECT_EQ(reader.streams()[1].header.type, kAudioStream);
        EXPECT_EQ(reader.sampleCount(1), 6u) << c.name;
        EXPECT_EQ(reader.sample(1, 0).sizeBytes, 7680u);
        EXPECT_EQ(reader.streams()[0].hasOpenDmlIndex, c.index == TestIndex::OpenDml) << c.name;
        // OpenDML writers store the first form's count in the stream header.
        if (c.index == TestIndex::OpenDml) {
            EXPECT_EQ(reader.streams()[0].header.length, 2u);
        }
    }
}

// The first 'vids' stream wins, else the first 'iavs'; a file with neither is refused.
TEST(AviReaderFileTypes, chooses_the_dv_stream_by_type_and_order)
{
    struct Case {
        std::vector<TestStream> streams;
        FourCC chosenType;  // 0: refused
        std::size_t chosenIndex;
    };
    const Case cases[] = {
        {{TestStream::Iavs}, kInterleavedStream, 0},
        {{TestStream::Vids, TestStream::Auds}, kVideoStream, 0},
        {{TestStream::Iavs, TestStream::Vids}, kVideoStream, 1},
        {{TestStream::Auds, TestStream::Vids, TestStream::Vids}, kVideoStream, 1},
        {{TestStream::Auds, TestStream::Iavs, TestStream::Iavs}, kInterleavedStream, 1},
        {{TestStream::Auds}, 0, 0},
    };
    for (const auto& c : cases) {
        TestAviOptions options;
        options.streams = c.streams;
        const auto path = writeTestFile("streams.avi", buildAvi(options, sixPalFrames()));
        auto avi = OpenDVAvi(path);
        ASSERT_EQ(static_cast<bool>(avi), c.chosenType != 0) << c.streams.size() << " streams";
        if (!avi) {
            EXPECT_NE(avi.error().find("no video ('vids') or interleaved DV ('iavs') stream"), std::string::npos);
            continue;
        }
        EXPECT_EQ(avi->streamInfo().fccType, c.chosenType);
        EXPECT_EQ(avi->streamIndex(), c.chosenIndex);
        EXPECT_TRUE(avi->IsPAL());
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        for (std::size_t i = 0; i < 6; ++i) {
            ASSERT_TRUE(avi->readFrame(i, frame));
            ASSERT_TRUE(std::equal(sixPalFrames()[i].begin(), sixPalFrames()[i].end(), frame.begin())) << i;
        }
    }
}

struct RateCase {
    std::uint32_t rate;
    std::uint32_t scale;
    dv::VideoSystem expected;
};

TEST(AviStandardDecision, classifies_rates_as_pal_ntsc_or_neither)
{
    const RateCase cases[] = {
        {25, 1, dv::VideoSystem::Pal625_50},       {2500, 100, dv::VideoSystem::Pal625_50},
        {51, 2, dv::VideoSystem::Pal625_50},       // 25.5 frames a second: the quotient is truncated
        {30000, 1001, dv::VideoSystem::Ntsc525_60}, {2997, 100, dv::VideoSystem::Unknown},
        {25, 0, dv::VideoSystem::Unknown},         {30, 1, dv::VideoSystem::Unknown},
        {60000, 2002, dv::VideoSystem::Unknown},   // 29.97 too, but not written the NTSC way
    };
    for (const auto& c : cases) {
        EXPECT_EQ(videoSystemOfRate(c.rate, c.scale), c.expected) << c.rate << "/" << c.scale;
        TestAviOptions options;
        options.rate = c.rate;
        options.scale = c.scale;
        // Frames of the standard the rate names, so that their DIF headers agree with it.
        const auto frames = c.expected == dv::VideoSystem::Ntsc525_60
                                ? testsupport::Frames{testsupport::SyntheticDvFrame::ntsc().bytes()}
                                : palFrames(1);
        const auto path = writeTestFile("rate.avi", buildAvi(options, frames));
        auto avi = OpenDVAvi(path);
        // A missing rate (scale 0) leaves the decision to the frames' DIF headers, which say PAL.
        const bool isRateMissing = c.scale == 0;
        ASSERT_EQ(static_cast<bool>(avi), c.expected != dv::VideoSystem::Unknown || isRateMissing) << c.rate << "/" << c.scale;
        if (avi) {
            EXPECT_EQ(avi->IsPAL(), c.expected == dv::VideoSystem::Pal625_50 || isRateMissing);
            EXPECT_EQ(avi->streamInfo().dwRate, c.rate);
            EXPECT_EQ(avi->streamInfo().dwScale, c.scale);
        } else {
            EXPECT_NE(avi.error().find("neither PAL (25) nor NTSC (30000/1001)"), std::string::npos) << avi.error();
        }
    }
}

TEST(AviFrameReads, reads_the_whole_sample_whatever_the_suggested_buffer_and_never_past_it)
{
    const auto frame = testsupport::SyntheticDvFrame::pal().bytes();
    const std::vector<std::byte> shortSample(frame.begin(), frame.begin() + 1001);
    std::vector<std::byte> oversized(frame);
    oversized.resize(150000, std::byte{0x77});

    struct Case {
        std::uint32_t suggested;
        const std::vector<std::byte>* sample;
        std::size_t expectedBytes;
    };
    const Case cases[] = {
        {144000, &frame, 144000}, {0, &frame, 144000},            // 0: the sample's own size
        {1000, &frame, 144000}, {144000, &shortSample, 1001},     // the suggestion is a hint; a short sample stays short
        {0, &shortSample, 1001},  {200000, &oversized, 144000},  // never more than one PAL frame
    };
    for (const auto& c : cases) {
        TestAviOptions options;
        options.suggestedBufferSize = c.suggested;
        const auto path = writeTestFile("buffer_size.avi", buildAvi(options, {*c.sample}));
        auto avi = OpenDVAvi(path);
        ASSERT_TRUE(avi);
        std::vector<std::byte> buffer(dv::kMaxFrameBytes, std::byte{0xEE});
        auto read = avi->readFrame(0, buffer);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, c.expectedBytes);
        EXPECT_EQ(avi->frameReadBytes(0), c.expectedBytes);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*read), c.sample->begin()));
        if (*read < buffer.size()) {
            EXPECT_EQ(buffer[*read], std::byte{0xEE}) << "read past the sample";
        }
    }
}

// The block read fills only the subcode and VAUX blocks of each sequence and the header block of
// the first; the one-call read also copies the gaps between them, but nothing past the last VAUX
// block of the frame's last sequence.
TEST(AviFrameReads, metadata_reads_fill_the_subcode_and_vaux_blocks_and_stay_inside_the_frame)
{
    for (const bool isPal : {true, false}) {
        const auto frame = (isPal ? testsupport::SyntheticDvFrame::pal() : testsupport::SyntheticDvFrame::ntsc())
                               .withTimecode({1, 2, 3, 4})
                               .bytes();
        TestAviOptions options;
        if (!isPal) {
            options.rate = 30000;
            options.scale = 1001;
        }
        const auto path = writeTestFile("metadata_span.avi", buildAvi(options, {frame}));
        auto avi = OpenDVAvi(path);
        ASSERT_TRUE(avi);
        std::vector<std::byte> blocks(dv::kMaxFrameBytes, std::byte{0xEE});
        std::vector<std::byte> span(dv::kMaxFrameBytes, std::byte{0xEE});
        ASSERT_EQ(avi->readMetadataBlocks(0, blocks).value(), frame.size());
        EXPECT_FALSE(avi->readMetadataBlocks(1, blocks));
        EXPECT_FALSE(avi->readFrame(1, blocks));
        auto read = avi->readMetadataSpan(0, span);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, frame.size());
        const std::size_t spanEnd = (frame.size() / dv::kSequenceBytes - 1) * dv::kSequenceBytes + 480;
        for (std::size_t i = 0; i < span.size(); ++i) {
            const std::size_t block = (i % dv::kSequenceBytes) / dv::kDifBlockBytes;
            const bool isMetadata = i < frame.size() && (i < 80 || (block >= 1 && block <= 5));
            ASSERT_EQ(blocks[i], isMetadata ? frame[i] : std::byte{0xEE}) << "byte " << i << (isPal ? " PAL" : " NTSC");
            const bool insideSpan = i < spanEnd;
            ASSERT_EQ(span[i], insideSpan ? frame[i] : std::byte{0xEE}) << "byte " << i << (isPal ? " PAL" : " NTSC");
        }
    }
}

TEST(AviFrameReads, two_threads_read_the_same_file_at_once)
{
    const auto path = writeTestFile("threads.avi", buildAvi({}, sixPalFrames()));
    auto avi = OpenDVAvi(path);
    ASSERT_TRUE(avi);
    std::atomic<int> mismatches{0};
    auto readAll = [&](bool metadataOnly) {
        std::vector<std::byte> buffer(dv::kMaxFrameBytes);
        for (int round = 0; round < 20; ++round) {
            for (std::size_t i = 0; i < avi->frameCount(); ++i) {
                auto read = metadataOnly ? avi->readMetadataBlocks(i, buffer) : avi->readFrame(i, buffer);
                const auto& frame = sixPalFrames()[i];
                if (!read || buffer[dv::kSequenceBytes * 11 + 100] != frame[dv::kSequenceBytes * 11 + 100]) ++mismatches;
            }
        }
    };
    std::thread a(readAll, true);
    std::thread b(readAll, false);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// A sparse file of about 5 GB: real frames at the start and the end, holes (JUNK) between,
// so that the last frames lie beyond 4 GB and need the OpenDML 64-bit offsets.
TEST(AviReaderLargeFiles, reads_the_last_frames_of_a_file_beyond_4_gb)
{
    constexpr std::uint64_t kHole = 2000000000;  // 2 GB of nothing inside a movie list
    // Removed however the test ends: a failed check must not leave 5 GB behind.
    struct RemovedAtEnd {
        std::filesystem::path path = testsupport::testPath("beyond_4_gb.avi");
        ~RemovedAtEnd() { std::filesystem::remove(path); }
    } file;
    const auto& path = file.path;
    for (const auto index : {TestIndex::OpenDml, TestIndex::None}) {
        TestAviOptions options;
        options.index = index;
        const auto& frames = sixPalFrames();
        TestAviBuilder builder(options);
        builder.writeToFile(path.string());
        builder.addFrame(frames[0]).addFrame(frames[1]).addJunk(kHole / 2).startExtensionForm();
        builder.addJunk(kHole).addFrame(frames[2]).startExtensionForm();
        builder.addJunk(kHole).addFrame(frames[3]).addFrame(frames[4]).addFrame(frames[5]);
        builder.finish();
        ASSERT_GT(builder.frameChunkOffsets().back(), std::uint64_t{1} << 32);
        ASSERT_GT(std::filesystem::file_size(path), std::uint64_t{1} << 32);

        expectFrames(path.string(), frames, 6, index == TestIndex::OpenDml ? IndexSource::OpenDml : IndexSource::Scan);
        auto reader = AviReader::open(path.string());
        ASSERT_TRUE(reader);
        EXPECT_EQ(reader->sample(0, 5).offsetBytes, builder.frameChunkOffsets().back() + 8);
    }
}

}  // namespace
}  // namespace vantrel::avi
