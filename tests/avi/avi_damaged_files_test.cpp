// SPDX-License-Identifier: GPL-3.0-or-later
// The AVI reader on damaged files: each case is named by its defect.
#include "avi/avi_reader.h"
#include "avi/avi_test_files.h"
#include "avi/dv_avi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

namespace vantrel::avi {
namespace {

using namespace testsupport;

const Frames& frames()
{
    static const auto all = palFrames(5);
    return all;
}

const Bytes& written()
{
    static const auto bytes = writtenAvi(frames());
    return bytes;
}

// One defect a file, as capture programs and crashes leave them: the frames still read, found
// through the index that survived or by scanning, and what was wrong is noted.
TEST(AviDamagedFiles, a_file_with_one_defect_still_gives_its_frames)
{
    struct Case {
        const char* name;
        std::function<Bytes()> bytes;
        std::size_t frames;
        IndexSource source;
        const char* note;  // in the notes
    };
    const Case cases[] = {
        {"idx1 entry of the third frame points past the end", [] {
             auto b = keepIndexes(written(), Kept::Idx1Only);
             putU32(b, payloadOf(b, "idx1") + 16 * 2 + 8, 0x7FFFFFF0);
             return b;
         }, 5, IndexSource::Scan, "points past the end of the file"},
        {"idx1 entry points inside a header", [] {
             auto b = keepIndexes(written(), Kept::Idx1Only);
             putU32(b, payloadOf(b, "idx1") + 8, 3);
             return b;
         }, 5, IndexSource::Scan, "points at no such chunk"},
        {"RIFF size past the end", [] {
             auto b = keepIndexes(written(), Kept::Idx1Only);
             putU32(b, 4, static_cast<std::uint32_t>(b.size() * 3));
             return b;
         }, 5, IndexSource::LegacyIdx1, "RIFF"},
        {"RIFF and movi sizes zero after an interrupted capture", [] {
             auto b = keepIndexes(written(), Kept::None);
             putU32(b, 4, 0);
             putU32(b, findFourCC(b, "movi") - 4, 0);
             return b;
         }, 5, IndexSource::Scan, ""},
        {"odd chunks with and without their pad byte", [] {
             auto b = keepIndexes(written(), Kept::None);
             Bytes unpadded(8 + 33), padded(8 + 7 + 1);
             putFourCC(unpadded, 0, "JUNK");
             putU32(unpadded, 4, 33);
             putFourCC(padded, 0, "JUNK");
             putU32(padded, 4, 7);
             insertIntoFirstMovie(b, frameChunkOffsets(b)[2], padded);
             insertIntoFirstMovie(b, frameChunkOffsets(b)[1], unpadded);
             return b;
         }, 5, IndexSource::Scan, ""},
        {"garbage where the fourth chunk should start ends the scan", [] {
             auto b = keepIndexes(written(), Kept::None);
             b[frameChunkOffsets(b)[3]] = std::byte{0x01};
             return b;
         }, 3, IndexSource::Scan, "no chunk header"},
        {"super index without the last AVIX form", [] {
             auto b = keepIndexes(writtenAvi(frames(), {.maxRiffBytes = 400000}), Kept::OpenDmlOnly);
             putU32(b, payloadOf(b, "indx") + 4, 2);  // nEntriesInUse: the first two forms only
             return b;
         }, 5, IndexSource::Scan, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = writeTestFile("damaged.avi", c.bytes());
        expectFrames(path, frames(), c.frames, c.source);
        auto reader = AviReader::open(path);
        ASSERT_TRUE(reader);
        std::string notes;
        for (const auto& note : reader->notes()) notes += note + "\n";
        EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    }
}

TEST(AviDamagedFiles, rejects_what_is_not_a_dv_avi_with_a_reason)
{
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", [](Bytes& b) { b.clear(); }, "not an AVI file"},
        {"wave", [](Bytes& b) { putFourCC(b, 8, "WAVE"); }, "not an AVI file"},
        {"no_strh", [](Bytes& b) { putFourCC(b, findFourCC(b, "strh"), "xxxx"); }, "no stream header"},
        {"strh_too_short", [](Bytes& b) { putU32(b, findFourCC(b, "strh") + 4, 20); }, "too short"},
        {"no_movi", [](Bytes& b) { putFourCC(b, findFourCC(b, "movi"), "mavi"); }, "no movie data"},
        {"hdrl_size_past_eof", [](Bytes& b) { putU32(b, findFourCC(b, "hdrl") - 4, 0xFFFFFFF0); }, "no movie data"},
    };
    for (const auto& c : cases) {
        auto bytes = written();
        c.damage(bytes);
        auto avi = OpenDVAvi(writeTestFile(std::string(c.name) + ".avi", bytes));
        ASSERT_FALSE(avi) << c.name;
        EXPECT_NE(avi.error().find(c.reason), std::string::npos) << c.name << ": " << avi.error();
    }
}

// A copy cut at any byte opens (once its headers are complete) and yields every frame that is
// whole before the cut: no more, no fewer.
TEST(AviDamagedFiles, copy_cut_at_any_byte_yields_every_complete_frame)
{
    for (const auto kept : {Kept::Idx1Only, Kept::OpenDmlOnly, Kept::None}) {
        const auto bytes = keepIndexes(written(), kept);
        const auto chunks = frameChunkOffsets(bytes);
        const std::size_t firstFrame = chunks.front();
        std::vector<std::size_t> cuts = {0, 7, 12, 100, firstFrame - 1, firstFrame + 8, bytes.size() - 1, bytes.size() - 20};
        for (const auto offset : chunks) {
            cuts.push_back(offset + 8 + 144000);      // right behind a frame
            cuts.push_back(offset + 8 + 144000 - 1);  // one byte short of it
            cuts.push_back(offset + 5000);            // inside it
        }
        std::mt19937 random(42);
        for (int i = 0; i < 12; ++i) cuts.push_back(random() % bytes.size());
        for (const auto cut : cuts) {
            SCOPED_TRACE(cut);
            const auto path = writeTestFile("cut.avi", std::span(bytes).first(cut));
            auto reader = AviReader::open(path);
            if (cut < firstFrame) {  // cut inside the headers
                EXPECT_FALSE(reader);
                continue;
            }
            ASSERT_TRUE(reader) << reader.error().message;
            const auto complete = static_cast<std::size_t>(
                std::count_if(chunks.begin(), chunks.end(), [&](std::size_t offset) { return offset + 8 + 144000 <= cut; }));
            ASSERT_EQ(reader->sampleCount(0), complete);
            std::vector<std::byte> buffer(dv::kMaxFrameBytes);
            for (std::size_t i = 0; i < complete; ++i) {
                ASSERT_TRUE(reader->readSample(0, i, buffer));
                ASSERT_TRUE(std::equal(frames()[i].begin(), frames()[i].end(), buffer.begin())) << i;
            }
        }
    }
}

}  // namespace
}  // namespace vantrel::avi
