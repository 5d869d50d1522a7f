// SPDX-License-Identifier: GPL-3.0-or-later
// The reader and OpenDVAvi on crafted and careless files: wrong or huge indexes, floods of
// forms, frames that are not DV, rates that lie, files that are no regular files.
#include "avi/dv_avi.h"
#include "avi/frame_batch_analyser.h"
#include "avi/avi_test_files.h"
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

// Five frames, the last two in an 'AVIX' form when asked.
Bytes build(Kept kept, bool withExtensionForm = false)
{
    return keepIndexes(writtenAvi(frames(), {.maxRiffBytes = withExtensionForm ? 500000u : 1u << 30}), kept);
}

std::string write(const std::string& name, const Bytes& bytes) { return writeTestFile(name, bytes); }

std::size_t entriesOf(const Bytes& bytes, const char* chunk) { return payloadOf(bytes, chunk); }

bool anyNoteSays(const std::vector<std::string>& notes, const std::string& text)
{
    return std::any_of(notes.begin(), notes.end(), [&](const std::string& n) { return n.find(text) != std::string::npos; });
}

std::string allNotes(const std::vector<std::string>& notes)
{
    std::string text;
    for (const auto& note : notes) text += note + "\n";
    return text;
}

// Peak resident memory of this process so far, in MB.
long peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

// An index that points a byte off, into a frame, or at one frame again and again is not trusted:
// the reader falls back to the other index or to a scan, says why, and finds every real frame.
TEST(HostileIndexes, a_wrong_index_falls_back_with_a_note_and_every_frame_is_found)
{
    struct Case {
        const char* name;
        Kept kept;
        std::function<void(Bytes&)> damage;
        IndexSource expectedSource;
        const char* note;
    };
    const Case cases[] = {
        {"opendml_base_offset_off_by_one", Kept::Both,
         [](Bytes& b) { putU32(b, entriesOf(b, "ix00") + 12, u32At(b, entriesOf(b, "ix00") + 12) + 1); },
         IndexSource::LegacyIdx1, "the OpenDML index"},
        {"opendml_middle_entry_points_into_a_frame", Kept::Both,
         [](Bytes& b) { putU32(b, entriesOf(b, "ix00") + 24 + 8 * 2, 5000); }, IndexSource::LegacyIdx1,
         "the OpenDML index"},
        {"idx1_entries_point_into_frame_0", Kept::Idx1Only,
         [](Bytes& b) {
             const auto idx1 = entriesOf(b, "idx1");
             for (std::size_t k = 1; k < 5; ++k) putU32(b, idx1 + 16 * k + 8, 4 + 8 + 5000 + 16 * static_cast<std::uint32_t>(k));
         },
         IndexSource::Scan, "idx1"},
        {"idx1_names_frame_0_five_times", Kept::Idx1Only,
         [](Bytes& b) {
             const auto idx1 = entriesOf(b, "idx1");
             for (std::size_t k = 1; k < 5; ++k) putU32(b, idx1 + 16 * k + 8, u32At(b, idx1 + 8));
         },
         IndexSource::Scan, "idx1"},
    };
    for (const auto& c : cases) {
        auto bytes = build(c.kept);
        c.damage(bytes);
        const auto path = write(std::string(c.name) + ".avi", bytes);
        expectFrames(path, frames(), 5, c.expectedSource);
        auto reader = AviReader::open(path);
        ASSERT_TRUE(reader) << c.name;
        EXPECT_TRUE(anyNoteSays(reader->notes(), c.note)) << c.name << ":\n" << allNotes(reader->notes());
    }
}

// A super index that names one standard index many times counts its frames once.
TEST(HostileIndexes, a_standard_index_named_again_and_again_counts_once)
{
    auto bytes = build(Kept::Both);
    const auto indx = entriesOf(bytes, "indx");
    std::uint64_t firstEntry = 0;
    std::memcpy(&firstEntry, &bytes[indx + 24], 8);
    putU32(bytes, indx + 4, 32);  // 32 slots in use
    for (std::size_t k = 1; k < 32; ++k) putU64(bytes, indx + 24 + 16 * k, firstEntry);
    const auto path = write("super_index_repeats.avi", bytes);
    expectFrames(path, frames(), 5, IndexSource::OpenDml);
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
        auto bytes = build(Kept::Both);
        const auto chunk = findFourCC(bytes, c.chunk);
        putU32(bytes, chunk + 4, 0xFFFFFFF0u);
        if (c.claimEntriesToo) putU32(bytes, chunk + 8 + 4, (0xFFFFFFF0u - 24) / 8);
        const auto path = write(std::string(c.name) + ".avi", bytes);
        ASSERT_EQ(::truncate(path.c_str(), 6LL << 30), 0) << "a sparse file of 6 GB";
        const long before = peakMegabytes();
        expectFrames(path, frames(), 5, c.expectedSource);
        EXPECT_LT(peakMegabytes() - before, 100) << c.name;
        ::truncate(path.c_str(), 0);
    }
}

// A cut inside the header of the second RIFF form leaves its frames out: the index that reaches
// them is refused and said to be, so the damage is not silent.
TEST(HostileIndexes, a_file_cut_inside_its_extension_form_header_says_so)
{
    const auto whole = build(Kept::Both, true);
    const auto avix = findFourCC(whole, "AVIX") - 8;
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(avix + 6));
    const auto path = write("cut_in_avix_header.avi", cut);
    expectFrames(path, frames(), 3, IndexSource::LegacyIdx1);
    auto reader = AviReader::open(path);
    ASSERT_TRUE(reader);
    EXPECT_TRUE(anyNoteSays(reader->notes(), "the file ends at byte " + std::to_string(cut.size())))
        << allNotes(reader->notes());
}

// A flood of empty 'AVIX' forms: the notes are capped, the last one counts the rest.
TEST(HostileIndexes, notes_about_a_flood_of_forms_are_capped)
{
    auto bytes = build(Kept::Both);
    const char junk[] = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', 'X'};
    constexpr std::size_t kForms = 20000;
    for (std::size_t i = 0; i < kForms; ++i) {
        for (const char c : junk) bytes.push_back(static_cast<std::byte>(c));
    }
    auto reader = AviReader::open(write("junk_avix_flood.avi", bytes));
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->notes().size(), 11u) << allNotes(reader->notes());
    EXPECT_NE(reader->notes().back().find(std::to_string(kForms - 10) + " more notes"), std::string::npos)
        << reader->notes().back();
}

// What begins no DIF frame: garbage, zeros, fillers.
Bytes frameOfBytes(std::uint8_t value) { return Bytes(dv::kPalFrameBytes, std::byte{value}); }

Bytes randomFrame(unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(dv::kPalFrameBytes);
    for (auto& b : bytes) b = static_cast<std::byte>(random());
    return bytes;
}

std::string buildDvFile(const std::string& name, const Frames& content)
{
    return write(name, writtenAvi(content));
}

TEST(HostileFrames, a_stream_whose_first_frames_are_not_dv_is_refused)
{
    struct Case {
        const char* name;
        Bytes frame;
    };
    const Case cases[] = {{"all_ff", frameOfBytes(0xFF)}, {"all_zero", frameOfBytes(0x00)}, {"random", randomFrame(7)}};
    for (const auto& c : cases) {
        const Frames content(6, c.frame);
        auto avi = OpenDVAvi(buildDvFile(std::string("not_dv_") + c.name + ".avi", content));
        ASSERT_FALSE(avi) << c.name;
        EXPECT_NE(avi.error().find("holds no DV"), std::string::npos) << avi.error();
    }
}

// One bad frame among DV frames is damaged, not the end of the stream: the analysis says which.
TEST(HostileFrames, a_frame_without_a_dif_header_is_flagged_by_the_analysis)
{
    for (const auto& bad : {frameOfBytes(0xFF), frameOfBytes(0x00), randomFrame(11)}) {
        Frames content = frames();
        content[2] = bad;
        auto avi = OpenDVAvi(buildDvFile("one_bad_frame.avi", content));
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
    const auto path = write("short.bin", Bytes(17047, std::byte{1}));
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
