// SPDX-License-Identifier: GPL-3.0-or-later
// The AVI reader on damaged files: each case is named by its defect.
#include "avi/avi_reader.h"
#include "avi/dv_avi.h"
#include "avi/test_avi_builder.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <functional>

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

// One defect a file, as capture programs and crashes leave them: the frames still read, found
// through the index that survived or by scanning, and what was wrong is noted.
TEST(AviDamagedFiles, a_file_with_one_defect_still_gives_its_frames)
{
    TestAviOptions unindexed;
    unindexed.index = TestIndex::None;
    TestAviOptions openDml;
    openDml.index = TestIndex::OpenDml;
    openDml.streams = {TestStream::Vids};
    struct Case {
        const char* name;
        std::function<std::vector<std::byte>()> bytes;
        std::size_t frames;
        IndexSource source;
        const char* note;  // in the notes
    };
    const Case cases[] = {
        {"idx1 entry of the third frame points past the end", [] {
             auto file = build({});
             putU32(file.bytes, findFourCC(file.bytes, "idx1") + 8 + 16 * 4 + 8, 0x7FFFFFF0);
             return file.bytes;
         }, 5, IndexSource::Scan, "points past the end of the file"},
        {"idx1 entry points inside a header", [] {
             auto file = build({});
             putU32(file.bytes, findFourCC(file.bytes, "idx1") + 8 + 8, 3);
             return file.bytes;
         }, 5, IndexSource::Scan, "points at no such chunk"},
        {"RIFF size past the end", [] {
             auto file = build({});
             putU32(file.bytes, 4, static_cast<std::uint32_t>(file.bytes.size() * 3));
             return file.bytes;
         }, 5, IndexSource::LegacyIdx1, "RIFF"},
        {"RIFF and movi sizes zero after an interrupted capture", [&] {
             TestAviOptions options = unindexed;
             options.zeroRiffSizes = true;
             return build(options).bytes;
         }, 5, IndexSource::Scan, ""},
        {"odd chunk without its pad byte", [&] {
             TestAviBuilder builder(unindexed);
             builder.addFrame(frames()[0]).addJunk(33, false).addFrame(frames()[1]).addJunk(7, true);
             for (std::size_t i = 2; i < 5; ++i) builder.addFrame(frames()[i]);
             return builder.finish();
         }, 5, IndexSource::Scan, ""},
        {"garbage where the fourth chunk should start ends the scan", [&] {
             auto file = build(unindexed);
             file.bytes[static_cast<std::size_t>(file.frameChunkOffsets[3])] = std::byte{0x01};
             return file.bytes;
         }, 3, IndexSource::Scan, "no chunk header"},
        {"super index without the last AVIX form", [&] {
             TestAviBuilder builder(openDml);
             builder.addFrame(frames()[0]).addFrame(frames()[1]).startExtensionForm();
             builder.addFrame(frames()[2]).startExtensionForm();
             builder.addFrame(frames()[3]).addFrame(frames()[4]);
             auto bytes = builder.finish();
             putU32(bytes, findFourCC(bytes, "indx") + 8 + 4, 2);  // nEntriesInUse: the first two forms only
             return bytes;
         }, 5, IndexSource::Scan, ""},
    };
    for (const auto& c : cases) {
        const auto path = writeTestFile("damaged.avi", c.bytes());
        expectFrames(path, frames(), c.frames, c.source);
        auto reader = AviReader::open(path);
        ASSERT_TRUE(reader) << c.name;
        std::string notes;
        for (const auto& note : reader->notes()) notes += note + "\n";
        EXPECT_NE(notes.find(c.note), std::string::npos) << c.name << ": " << notes;
    }
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
