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

// One defect a file, as capture programs, crashes and crafted files leave them: the frames still
// read, found through the index that survived or by scanning, and what was wrong is noted. An
// index that points a byte off, into a frame or at one frame again and again is not trusted.
TEST(AviDamagedFiles, a_file_with_one_defect_still_gives_its_frames)
{
    struct Case {
        const char* name;
        Bytes bytes;                        // the file before the defect
        std::function<void(Bytes&)> damage;
        std::size_t frames;
        IndexSource source;
        std::string note;  // in the notes
    };
    const auto idx1Only = keepIndexes(written(), Kept::Idx1Only);
    const auto noIndex = keepIndexes(written(), Kept::None);
    const auto withAvix = writtenAvi(frames(), {.maxRiffBytes = 500000});  // the last two frames in an 'AVIX' form
    const auto avixHeader = findFourCC(withAvix, "AVIX") - 8;
    Bytes flood = written();
    for (int i = 0; i < 20000; ++i) {
        for (const char c : std::string("RIFF\4\0\0\0AVIX", 12)) flood.push_back(static_cast<std::byte>(c));
    }
    const Case cases[] = {
        {"idx1 entry of the third frame points past the end", idx1Only,
         [](Bytes& b) { putU32(b, payloadOf(b, "idx1") + 16 * 2 + 8, 0x7FFFFFF0); }, 5, IndexSource::Scan,
         "points past the end of the file"},
        {"idx1 entry points inside a header", idx1Only, [](Bytes& b) { putU32(b, payloadOf(b, "idx1") + 8, 3); }, 5,
         IndexSource::Scan, "points at no such chunk"},
        {"RIFF size past the end", idx1Only, [](Bytes& b) { putU32(b, 4, static_cast<std::uint32_t>(b.size() * 3)); }, 5,
         IndexSource::LegacyIdx1, "RIFF"},
        {"RIFF and movi sizes zero after an interrupted capture", noIndex,
         [](Bytes& b) {
             putU32(b, 4, 0);
             putU32(b, findFourCC(b, "movi") - 4, 0);
         },
         5, IndexSource::Scan, ""},
        {"odd chunks with and without their pad byte", noIndex,
         [](Bytes& b) {
             Bytes unpadded(8 + 33), padded(8 + 7 + 1);
             putFourCC(unpadded, 0, "JUNK");
             putU32(unpadded, 4, 33);
             putFourCC(padded, 0, "JUNK");
             putU32(padded, 4, 7);
             insertIntoFirstMovie(b, frameChunkOffsets(b)[2], padded);
             insertIntoFirstMovie(b, frameChunkOffsets(b)[1], unpadded);
         },
         5, IndexSource::Scan, ""},
        {"garbage where the fourth chunk should start ends the scan", noIndex,
         [](Bytes& b) { b[frameChunkOffsets(b)[3]] = std::byte{0x01}; }, 3, IndexSource::Scan, "no chunk header"},
        // nEntriesInUse: the first two forms only.
        {"super index without the last AVIX form",
         keepIndexes(writtenAvi(frames(), {.maxRiffBytes = 400000}), Kept::OpenDmlOnly),
         [](Bytes& b) { putU32(b, payloadOf(b, "indx") + 4, 2); }, 5, IndexSource::Scan, ""},
        {"super index naming one standard index 32 times", written(),
         [](Bytes& b) {
             const auto indx = payloadOf(b, "indx");
             putU32(b, indx + 4, 32);
             for (std::size_t k = 1; k < 32; ++k) putU32(b, indx + 24 + 16 * k, u32At(b, indx + 24));
         },
         5, IndexSource::OpenDml, ""},
        {"cut inside the header of the AVIX form", withAvix, [&](Bytes& b) { b.resize(avixHeader + 6); },
         3, IndexSource::LegacyIdx1, "the file ends at byte " + std::to_string(avixHeader + 6)},
        {"a flood of 20000 empty AVIX forms: the notes are capped, the last counts the rest", flood, [](Bytes&) {}, 5,
         IndexSource::OpenDml, "19990 more notes"},
        {"OpenDML base offset off by one", written(),
         [](Bytes& b) { putU32(b, payloadOf(b, "ix00") + 12, u32At(b, payloadOf(b, "ix00") + 12) + 1); }, 5,
         IndexSource::LegacyIdx1, "the OpenDML index"},
        {"OpenDML middle entry points into a frame", written(),
         [](Bytes& b) { putU32(b, payloadOf(b, "ix00") + 24 + 8 * 2, 5000); }, 5, IndexSource::LegacyIdx1,
         "the OpenDML index"},
        {"idx1 entries point into frame 0", idx1Only,
         [](Bytes& b) {
             for (std::uint32_t k = 1; k < 5; ++k) putU32(b, payloadOf(b, "idx1") + 16 * k + 8, 4 + 8 + 5000 + 16 * k);
         },
         5, IndexSource::Scan, "idx1"},
        {"idx1 names frame 0 five times", idx1Only,
         [](Bytes& b) {
             const auto idx1 = payloadOf(b, "idx1");
             for (std::size_t k = 1; k < 5; ++k) putU32(b, idx1 + 16 * k + 8, u32At(b, idx1 + 8));
         },
         5, IndexSource::Scan, "idx1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto bytes = c.bytes;
        c.damage(bytes);
        const auto path = writeTestFile("damaged.avi", bytes);
        expectFrames(path, frames(), c.frames, c.source);
        auto reader = AviReader::open(path);
        ASSERT_TRUE(reader);
        EXPECT_NE(allNotes(reader->notes()).find(c.note), std::string::npos) << allNotes(reader->notes());
    }
}

// Every frame's bytes replaced: all `value`, or random where `value` is negative.
void overwriteFrames(Bytes& bytes, int value)
{
    std::mt19937 random(7);
    for (const auto at : frameChunkOffsets(bytes)) {
        std::generate_n(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8), 144000,
                        [&] { return static_cast<std::byte>(value < 0 ? random() : static_cast<unsigned>(value)); });
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
        {"frames_all_ff", [](Bytes& b) { overwriteFrames(b, 0xFF); }, "holds no DV"},
        {"frames_all_zero", [](Bytes& b) { overwriteFrames(b, 0); }, "holds no DV"},
        {"frames_random", [](Bytes& b) { overwriteFrames(b, -1); }, "holds no DV"},
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
