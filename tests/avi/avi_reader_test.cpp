// SPDX-License-Identifier: GPL-3.0-or-later
// The AVI reader and OpenDVAvi on our writer's files, edited into every index kind, stream layout
// and frame rate other writers leave.
#include "avi/avi_reader.h"
#include "avi/avi_test_files.h"
#include "avi/dv_avi.h"
#include "support/scratch_dir.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace vantrel::avi {
namespace {

using namespace testsupport;

const Frames& sixPalFrames()
{
    static const auto frames = palFrames(6);
    return frames;
}

// Type 2, two frames a RIFF: 'AVI ' then two 'AVIX' forms.
constexpr std::uint64_t kTwoFramesARiff = 400000;

// The 'idx1' offsets turned from the 'movi' type code into file offsets, as some writers store them.
Bytes withIdx1FileOffsets(Bytes bytes)
{
    const auto moviType = findFourCC(bytes, "movi");
    const auto idx1 = payloadOf(bytes, "idx1");
    for (std::size_t at = idx1; at < idx1 + u32At(bytes, idx1 - 4); at += 16) {
        putU32(bytes, at + 8, u32At(bytes, at + 8) + static_cast<std::uint32_t>(moviType));
    }
    return bytes;
}

TEST(AviReaderIndexes, reads_every_frame_through_each_kind_of_index)
{
    struct Case {
        const char* name;
        std::uint64_t maxRiffBytes;
        Bytes (*edit)(Bytes);
        IndexSource source;
    };
    const Case cases[] = {
        {"idx1_relative.avi", 1u << 30, [](Bytes b) { return keepIndexes(b, Kept::Idx1Only); }, IndexSource::LegacyIdx1},
        {"idx1_absolute.avi", 1u << 30, [](Bytes b) { return withIdx1FileOffsets(keepIndexes(b, Kept::Idx1Only)); },
         IndexSource::LegacyIdx1},
        {"opendml.avi", kTwoFramesARiff, [](Bytes b) { return b; }, IndexSource::OpenDml},
        {"no_index.avi", kTwoFramesARiff, [](Bytes b) { return keepIndexes(b, Kept::None); }, IndexSource::Scan},
        // idx1 misses the AVIX forms.
        {"idx1_and_avix.avi", kTwoFramesARiff, [](Bytes b) { return keepIndexes(b, Kept::Idx1Only); }, IndexSource::Scan},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = c.edit(writtenAvi(sixPalFrames(), {DvAviType::Type2Separate, dv::VideoSystem::Pal625_50, c.maxRiffBytes}));
        putU32(bytes, payloadOf(bytes, "strh") + 32, 2);  // a stream length counting the first form only
        const auto path = writeTestFile(c.name, bytes);
        expectFrames(path, sixPalFrames(), 6, c.source);
        auto avi = OpenDVAvi(path);
        ASSERT_TRUE(avi) << avi.error();
        EXPECT_EQ(avi->streamInfo().dwLength, 6u) << "the index counts, not the header";
        const auto& reader = avi->reader();
        EXPECT_EQ(allNotes(reader.notes()).find("scanning") != std::string::npos, c.source == IndexSource::Scan);
        EXPECT_EQ(reader.sampleCount(1), 6u);
        EXPECT_EQ(reader.sample(1, 0).sizeBytes, 7680u);  // 1920 stereo 16-bit samples
    }
}

// The first 'vids' stream wins, else the first 'iavs'; a file with neither is refused. Stream 0
// holds the DV frames and stream 1 the sound, whatever their headers say.
TEST(AviReaderFileTypes, chooses_the_dv_stream_by_type_and_order)
{
    struct Case {
        const char* types[2];
        const char* refusal;  // nullptr: stream 0 is chosen
    };
    const Case cases[] = {
        {{"vids", "auds"}, nullptr},
        {{"iavs", "auds"}, nullptr},
        {{"vids", "vids"}, nullptr},
        {{"iavs", "vids"}, "the 'vids' stream holds no DV"},
        {{"auds", "iavs"}, "the 'iavs' stream holds no DV"},
        {{"auds", "auds"}, "no video ('vids') or interleaved DV ('iavs') stream"},
    };
    const auto original = writtenAvi(sixPalFrames(), {DvAviType::Type2Separate, dv::VideoSystem::Pal625_50});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.types[0]) + "," + c.types[1]);
        auto bytes = original;
        for (int s = 0; s < 2; ++s) putFourCC(bytes, payloadOf(bytes, "strh", s), c.types[s]);
        auto avi = OpenDVAvi(writeTestFile("streams.avi", bytes));
        ASSERT_EQ(static_cast<bool>(avi), c.refusal == nullptr);
        if (!avi) {
            EXPECT_NE(avi.error().find(c.refusal), std::string::npos) << avi.error();
            continue;
        }
        EXPECT_EQ(avi->streamIndex(), 0u);
        EXPECT_EQ(fourCCText(avi->streamInfo().fccType), "'" + std::string(c.types[0]) + "'");
    }
}

// The rate decides between PAL and NTSC; where it is missing or names the other standard, the
// DIF headers' system bit decides and a note says so.
TEST(AviStandardDecision, the_rate_or_else_the_dif_headers_choose_the_standard)
{
    enum Result { Pal, Ntsc, Refused };
    struct Case {
        bool isNtscContent;
        std::uint32_t rate, scale;
        Result result;
        const char* note;  // in the notes, or the reason of a refusal; nullptr: no note
    };
    const Case cases[] = {
        {false, 25, 1, Pal, nullptr},
        {false, 2500, 100, Pal, nullptr},
        {false, 51, 2, Pal, nullptr},  // 25.5 frames a second: the quotient is truncated
        {true, 30000, 1001, Ntsc, nullptr},
        {false, 2997, 100, Refused, "neither PAL (25) nor NTSC (30000/1001)"},
        {false, 30, 1, Refused, "neither PAL (25) nor NTSC (30000/1001)"},
        {false, 60000, 2002, Refused, "neither PAL"},  // 29.97 too, but not written the NTSC way
        {false, 0, 1, Pal, "no frame rate"},
        {false, 25, 0, Pal, "25/0"},
        {true, 0, 0, Ntsc, "no frame rate"},
        {true, 25, 1, Ntsc, "DIF headers say NTSC"},
        {false, 30000, 1001, Pal, "DIF headers say PAL"},
    };
    const auto pal = writtenAvi(palFrames(3));
    const auto ntsc = writtenAvi(Frames(3, SyntheticDvFrame::ntsc().bytes()), {.system = dv::VideoSystem::Ntsc525_60});
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + "/" + std::to_string(c.scale) + (c.isNtscContent ? " NTSC" : " PAL"));
        auto bytes = c.isNtscContent ? ntsc : pal;
        putU32(bytes, payloadOf(bytes, "strh") + 20, c.scale);
        putU32(bytes, payloadOf(bytes, "strh") + 24, c.rate);
        auto avi = OpenDVAvi(writeTestFile("rate.avi", bytes));
        ASSERT_EQ(static_cast<bool>(avi), c.result != Refused);
        if (!avi) {
            EXPECT_NE(avi.error().find(c.note), std::string::npos) << avi.error();
            continue;
        }
        EXPECT_EQ(avi->IsPAL(), c.result == Pal);
        const auto notes = allNotes(avi->notes());
        EXPECT_TRUE(c.note ? notes.find(c.note) != std::string::npos : notes.empty()) << notes;
    }
}

// The suggested buffer size is a hint: a read gives the whole sample, a short sample stays short,
// and never more than one PAL frame is read.
TEST(AviFrameReads, reads_the_whole_sample_whatever_the_suggested_buffer_and_never_past_it)
{
    struct Case {
        std::uint32_t suggested;
        std::uint32_t sampleBytes;
        std::size_t expectedBytes;
    };
    const Case cases[] = {{144000, 144000, 144000}, {0, 144000, 144000},   {1000, 144000, 144000},
                          {144000, 1001, 1001},     {0, 1001, 1001},       {200000, 150000, 144000}};
    const auto original = keepIndexes(writtenAvi(palFrames(2)), Kept::None);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.suggested) + " " + std::to_string(c.sampleBytes));
        auto bytes = original;
        putU32(bytes, payloadOf(bytes, "avih") + 28, c.suggested);
        putU32(bytes, payloadOf(bytes, "strh") + 36, c.suggested);
        const auto frameChunk = frameChunkOffsets(bytes).front();
        putU32(bytes, frameChunk + 4, c.sampleBytes);
        auto avi = OpenDVAvi(writeTestFile("buffer_size.avi", bytes));
        ASSERT_TRUE(avi) << avi.error();
        std::vector<std::byte> buffer(dv::kMaxFrameBytes, std::byte{0xEE});
        auto read = avi->readFrame(0, buffer);
        ASSERT_TRUE(read);
        EXPECT_EQ(*read, c.expectedBytes);
        EXPECT_EQ(avi->frameReadBytes(0), c.expectedBytes);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*read),
                               bytes.begin() + static_cast<std::ptrdiff_t>(frameChunk + 8)));
        if (*read < buffer.size()) {
            EXPECT_EQ(buffer[*read], std::byte{0xEE}) << "read past the sample";
        }
    }
}

// Writes our writer's file to `path` with a hole of `hole` bytes (a 'JUNK' chunk) opening the movie
// list of every 'AVIX' form; the forms' sizes and the OpenDML offsets move with them.
void writeWithHoles(Bytes bytes, const std::string& path, std::uint64_t hole)
{
    std::vector<std::size_t> forms;
    for (std::size_t at = 0; at + 12 <= bytes.size(); at += 8 + u32At(bytes, at + 4)) forms.push_back(at);
    forms.push_back(bytes.size());
    const auto superIndex = findFourCC(bytes, "indx");  // npos: hidden
    for (std::size_t k = 1; k + 1 < forms.size(); ++k) {
        putU32(bytes, forms[k] + 4, u32At(bytes, forms[k] + 4) + static_cast<std::uint32_t>(hole));
        putU32(bytes, forms[k] + 16, u32At(bytes, forms[k] + 16) + static_cast<std::uint32_t>(hole));
        const auto base = findFourCC(bytes, "ix00", forms[k]) + 8 + 12;
        putU64(bytes, base, forms[k] + k * hole);
        const auto entry = superIndex + 8 + 24 + 16 * k;
        if (superIndex != std::string::npos) putU64(bytes, entry, u32At(bytes, entry) + k * hole);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const auto put = [&](std::size_t from, std::size_t to, std::uint64_t at) {
        ASSERT_EQ(::pwrite(fd, bytes.data() + from, to - from, static_cast<off_t>(at)), static_cast<ssize_t>(to - from));
    };
    put(0, forms[1], 0);
    for (std::size_t k = 1; k + 1 < forms.size(); ++k) {
        put(forms[k], forms[k] + 24, forms[k] + (k - 1) * hole);
        Bytes junk(8);
        putFourCC(junk, 0, "JUNK");
        putU32(junk, 4, static_cast<std::uint32_t>(hole - 8));
        ASSERT_EQ(::pwrite(fd, junk.data(), 8, static_cast<off_t>(forms[k] + 24 + (k - 1) * hole)), 8);
        put(forms[k] + 24, forms[k + 1], forms[k] + 24 + k * hole);
    }
    ::close(fd);
}

// A sparse file of about 4.4 GB: two frames in each RIFF, 2.2 GB of nothing before the frames of
// each 'AVIX' form, so that the last frames lie beyond 4 GB and need the OpenDML 64-bit offsets.
TEST(AviReaderLargeFiles, reads_the_last_frames_of_a_file_beyond_4_gb)
{
    const test::ScratchDir folder("beyond_4_gb");  // removed however the test ends: no gigabytes left behind
    const auto path = folder.file("beyond_4_gb.avi");
    const auto written = writtenAvi(sixPalFrames(), {.maxRiffBytes = kTwoFramesARiff});
    for (const auto kept : {Kept::Both, Kept::None}) {
        writeWithHoles(keepIndexes(written, kept), path, 2200000000);
        ASSERT_GT(std::filesystem::file_size(path), std::uint64_t{1} << 32);
        // Frames read from offsets cut to 32 bits would be bytes of the holes or of other frames.
        expectFrames(path, sixPalFrames(), 6, kept == Kept::Both ? IndexSource::OpenDml : IndexSource::Scan);
    }
}

}  // namespace
}  // namespace vantrel::avi
