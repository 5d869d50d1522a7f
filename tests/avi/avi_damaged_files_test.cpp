// SPDX-License-Identifier: GPL-3.0-or-later
// The AVI reader on damaged files: each case is named by its defect.
#include "avi/avi_reader.h"
#include "avi/dv_avi.h"
#include "avi/test_avi_builder.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace vantrel::avi {
namespace {

using testsupport::expectFrames;
using testsupport::findFourCC;
using testsupport::putU32;
using testsupport::TestAviBuilder;
using testsupport::TestAviOptions;
using testsupport::TestIndex;
using testsupport::TestStream;
using testsupport::writeTestFile;

const testsupport::Frames& frames()
{
    static const auto all = testsupport::palFrames(5);
    return all;
}

struct BuiltFile {
    std::vector<std::byte> bytes;
    std::vector<std::uint64_t> frameChunkOffsets;
};

BuiltFile build(const TestAviOptions& options)
{
    TestAviBuilder builder(options);
    for (const auto& frame : frames()) builder.addFrame(frame);
    BuiltFile file;
    file.frameChunkOffsets = builder.frameChunkOffsets();
    file.bytes = builder.finish();
    return file;
}

void putFourCC(std::vector<std::byte>& bytes, std::size_t offset, const char* text)
{
    for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::byte>(text[i]);
}

void expectFirstFrames(const std::string& name, const std::vector<std::byte>& bytes, std::size_t count, IndexSource source)
{
    expectFrames(writeTestFile(name, bytes), frames(), count, source);
}

TEST(AviDamagedFiles, idx1_points_past_eof)
{
    auto file = build({});
    const auto idx1 = findFourCC(file.bytes, "idx1");
    putU32(file.bytes, idx1 + 8 + 16 * 4 + 8, 0x7FFFFFF0);  // offset of the third frame's entry
    const auto path = writeTestFile("idx1_points_past_eof.avi", file.bytes);
    expectFrames(path, frames(), 5, IndexSource::Scan);
    auto reader = AviReader::open(path);
    ASSERT_TRUE(reader);
    ASSERT_FALSE(reader->notes().empty());
    EXPECT_NE(reader->notes().front().find("points past the end of the file"), std::string::npos)
        << reader->notes().front();
}

TEST(AviDamagedFiles, idx1_points_at_no_chunk)
{
    auto file = build({});
    const auto idx1 = findFourCC(file.bytes, "idx1");
    putU32(file.bytes, idx1 + 8 + 8, 3);  // first entry's offset lands inside a header
    expectFirstFrames("idx1_points_at_no_chunk.avi", file.bytes, 5, IndexSource::Scan);
}

TEST(AviDamagedFiles, riff_size_past_eof)
{
    auto file = build({});
    putU32(file.bytes, 4, static_cast<std::uint32_t>(file.bytes.size() * 3));
    const auto path = writeTestFile("riff_size_past_eof.avi", file.bytes);
    expectFrames(path, frames(), 5, IndexSource::LegacyIdx1);
    auto reader = AviReader::open(path);
    ASSERT_TRUE(reader);
    EXPECT_FALSE(reader->notes().empty());
}

TEST(AviDamagedFiles, riff_and_movi_sizes_zero_after_an_interrupted_capture)
{
    TestAviOptions options;
    options.index = TestIndex::None;
    options.zeroRiffSizes = true;
    expectFirstFrames("riff_size_zero.avi", build(options).bytes, 5, IndexSource::Scan);
}

TEST(AviDamagedFiles, odd_chunk_without_padding)
{
    TestAviOptions options;
    options.index = TestIndex::None;
    TestAviBuilder builder(options);
    builder.addFrame(frames()[0]).addJunk(33, false).addFrame(frames()[1]).addJunk(7, true);
    for (std::size_t i = 2; i < 5; ++i) builder.addFrame(frames()[i]);
    expectFirstFrames("odd_chunk_without_padding.avi", builder.finish(), 5, IndexSource::Scan);
}

TEST(AviDamagedFiles, garbage_where_a_chunk_should_start_ends_the_scan)
{
    TestAviOptions options;
    options.index = TestIndex::None;
    auto file = build(options);
    file.bytes[static_cast<std::size_t>(file.frameChunkOffsets[3])] = std::byte{0x01};
    expectFirstFrames("garbage_chunk_id.avi", file.bytes, 3, IndexSource::Scan);
}

// A capture stopped before it brought its super index up to date: the last 'AVIX' form is not
// indexed, so the frames are found by scanning instead of being lost.
TEST(AviDamagedFiles, opendml_index_missing_the_last_avix_form)
{
    TestAviOptions options;
    options.index = TestIndex::OpenDml;
    options.streams = {TestStream::Vids};
    TestAviBuilder builder(options);
    builder.addFrame(frames()[0]).addFrame(frames()[1]).startExtensionForm();
    builder.addFrame(frames()[2]).startExtensionForm();
    builder.addFrame(frames()[3]).addFrame(frames()[4]);
    auto bytes = builder.finish();
    expectFirstFrames("opendml_complete.avi", bytes, 5, IndexSource::OpenDml);
    putU32(bytes, findFourCC(bytes, "indx") + 8 + 4, 2);  // nEntriesInUse: the first two forms only
    expectFirstFrames("opendml_index_missing_the_last_avix_form.avi", bytes, 5, IndexSource::Scan);
}

TEST(AviDamagedFiles, rejects_what_is_not_a_dv_avi_with_a_reason)
{
    auto file = build({});
    struct Case {
        const char* name;
        std::vector<std::byte> bytes;
        const char* reason;
    };
    std::vector<Case> cases;
    cases.push_back({"empty.avi", {}, "not an AVI file"});
    auto wave = file.bytes;
    putFourCC(wave, 8, "WAVE");
    cases.push_back({"wave.avi", wave, "not an AVI file"});
    auto noStreamHeader = file.bytes;
    putFourCC(noStreamHeader, findFourCC(noStreamHeader, "strh"), "xxxx");
    cases.push_back({"no_strh.avi", noStreamHeader, "no stream header"});
    auto shortStreamHeader = file.bytes;
    putU32(shortStreamHeader, findFourCC(shortStreamHeader, "strh") + 4, 20);
    cases.push_back({"strh_too_short.avi", shortStreamHeader, "too short"});
    auto noMovie = file.bytes;
    putFourCC(noMovie, findFourCC(noMovie, "movi"), "mavi");
    cases.push_back({"no_movi.avi", noMovie, "no movie data"});
    auto hugeHeader = file.bytes;
    putU32(hugeHeader, findFourCC(hugeHeader, "hdrl") - 4, 0xFFFFFFF0);
    cases.push_back({"hdrl_size_past_eof.avi", hugeHeader, "no movie data"});
    for (const auto& c : cases) {
        auto avi = OpenDVAvi(writeTestFile(c.name, c.bytes));
        ASSERT_FALSE(avi) << c.name;
        EXPECT_NE(avi.error().find(c.reason), std::string::npos) << c.name << ": " << avi.error();
    }
}

TEST(AviDamagedFiles, strh_scale_zero)
{
    TestAviOptions options;
    options.scale = 0;
    auto avi = OpenDVAvi(writeTestFile("strh_scale_zero.avi", build(options).bytes));
    ASSERT_TRUE(avi) << "the DIF headers decide";
    EXPECT_TRUE(avi->IsPAL());
    ASSERT_FALSE(avi->notes().empty());
    EXPECT_NE(avi->notes().back().find("25/0"), std::string::npos) << avi->notes().back();
}

// A copy cut at any byte opens (once its headers are complete) and yields every frame that is
// whole before the cut: no more, no fewer.
TEST(AviDamagedFiles, copy_cut_at_any_byte_yields_every_complete_frame)
{
    for (const auto index : {TestIndex::Idx1RelativeToMovi, TestIndex::OpenDml, TestIndex::None}) {
        auto file = build(TestAviOptions{.index = index});
        const std::uint64_t firstFrame = file.frameChunkOffsets.front();
        std::vector<std::size_t> cuts = {0, 7, 12, 100, static_cast<std::size_t>(firstFrame) - 1,
                                         static_cast<std::size_t>(firstFrame) + 8, file.bytes.size() - 1,
                                         file.bytes.size() - 20};
        for (const auto offset : file.frameChunkOffsets) {
            cuts.push_back(static_cast<std::size_t>(offset) + 8 + 144000);      // right behind a frame
            cuts.push_back(static_cast<std::size_t>(offset) + 8 + 144000 - 1);  // one byte short of it
            cuts.push_back(static_cast<std::size_t>(offset) + 5000);            // inside it
        }
        std::mt19937 random(42);
        for (int i = 0; i < 12; ++i) cuts.push_back(random() % file.bytes.size());
        for (const auto cut : cuts) {
            const std::vector<std::byte> head(file.bytes.begin(), file.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            const auto path = writeTestFile("cut.avi", head);
            auto reader = AviReader::open(path);
            if (cut < firstFrame) {  // cut inside the headers
                EXPECT_FALSE(reader) << "cut at " << cut;
                continue;
            }
            ASSERT_TRUE(reader) << "cut at " << cut << ": " << reader.error().message;
            std::size_t complete = 0;
            for (const auto offset : file.frameChunkOffsets) complete += (offset + 8 + 144000 <= cut) ? 1 : 0;
            ASSERT_EQ(reader->sampleCount(0), complete) << "cut at " << cut;
            std::vector<std::byte> buffer(dv::kMaxFrameBytes);
            for (std::size_t i = 0; i < complete; ++i) {
                auto read = reader->readSample(0, i, buffer);
                ASSERT_TRUE(read) << "cut at " << cut;
                ASSERT_TRUE(std::equal(frames()[i].begin(), frames()[i].end(), buffer.begin())) << "cut at " << cut;
            }
        }
    }
}

}  // namespace
}  // namespace vantrel::avi
