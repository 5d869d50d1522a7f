// SPDX-License-Identifier: GPL-3.0-or-later
// The DV AVI writer: the whole structure of type-1 and type-2 files, read-back across RIFFs, crash
// recovery, rate conversion and write errors (peers read its files in tests/peer).
#include "avi/avi_reader.h"
#include "avi/avi_test_files.h"
#include "avi/avi_writer.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace vantrel::avi {
namespace {

using dv::VideoSystem;
using namespace testsupport;

std::string idAt(const Bytes& bytes, std::size_t offset)
{
    std::string text(reinterpret_cast<const char*>(&bytes.at(offset)), 4);
    std::replace_if(text.begin(), text.end(), [](char c) { return c < 0x20 || c >= 0x7F; }, '.');
    return text;
}

// A writer of `path` that took `frames`, not yet finished.
AviWriter writerOf(const std::filesystem::path& path, const AviWriterOptions& options,
                   const std::vector<std::vector<std::byte>>& frames)
{
    auto writer = AviWriter::create(path, options);
    EXPECT_TRUE(writer) << (writer ? "" : writer.error().message);
    for (const auto& frame : frames) EXPECT_TRUE(writer->writeFrame(frame));
    return std::move(writer.value());
}

// Every field of the headers, stream formats and indexes, one chunk a line, offsets in the file.
void dumpChunks(const std::vector<std::byte>& b, std::uint64_t from, std::uint64_t to, int depth, std::ostringstream& out)
{
    for (std::uint64_t offset = from; offset + 8 <= to;) {
        const std::string id = idAt(b, offset);
        const std::uint32_t size = u32At(b, offset + 4);
        const std::uint64_t d = offset + 8;
        out << std::string(2 * depth, ' ') << "@" << offset << " " << id << " " << size;
        if (id == "RIFF" || id == "LIST") {
            out << " '" << idAt(b, d) << "'\n";
            dumpChunks(b, d + 4, d + size, depth + 1, out);
            offset = d + size + (size & 1);
            continue;
        }
        const auto field = [&](const char* name, std::uint64_t at, int bytes) {
            out << " " << name << "=" << (bytes == 4 ? u32At(b, d + at) : bytes == 2 ? u32At(b, d + at) & 0xFFFF
                                                                                : std::to_integer<std::uint32_t>(b.at(d + at)));
        };
        if (id == "avih") {
            for (auto [name, at] : {std::pair{"usPerFrame", 0}, {"maxBytesPerSec", 4}, {"flags", 12}, {"frames", 16},
                                    {"initial", 20}, {"streams", 24}, {"buffer", 28}, {"width", 32}, {"height", 36}})
                field(name, at, 4);
        } else if (id == "strh") {
            out << " " << idAt(b, d) << "/" << idAt(b, d + 4);
            for (auto [name, at] : {std::pair{"flags", 8}, {"initial", 16}, {"scale", 20}, {"rate", 24}, {"start", 28},
                                    {"length", 32}, {"buffer", 36}, {"quality", 40}, {"sample", 44}})
                field(name, at, 4);
        } else if (id == "strf" && size == 40) {  // BITMAPINFOHEADER
            field("size", 0, 4), field("width", 4, 4), field("height", 8, 4), field("planes", 12, 2);
            field("bits", 14, 2);
            out << " compression=" << idAt(b, d + 16);
            field("image", 20, 4);
        } else if (id == "strf" && size == 18) {  // WAVEFORMATEX
            field("tag", 0, 2), field("channels", 2, 2), field("rate", 4, 4), field("avgBytesPerSec", 8, 4);
            field("blockAlign", 12, 2), field("bits", 14, 2), field("extra", 16, 2);
        } else if (id == "strf" && size == 32) {  // DVINFO
            char hex[12];
            for (int k = 0; k < 8; ++k) {
                std::snprintf(hex, sizeof hex, " %08X", u32At(b, d + 4 * k));
                out << hex;
            }
        } else if (id == "indx" || id.starts_with("ix")) {
            field("longs", 0, 2), field("subType", 2, 1), field("type", 3, 1), field("entries", 4, 4);
            out << " of=" << idAt(b, d + 8);
            const bool isSuper = id == "indx";
            if (!isSuper) out << " base=" << (u32At(b, d + 12) | std::uint64_t{u32At(b, d + 16)} << 32);
            for (std::uint32_t e = 0; e < u32At(b, d + 4); ++e) {
                const std::uint64_t at = d + 24 + (isSuper ? 16 : 8) * e;
                if (isSuper) out << " [@" << u32At(b, at) << " " << u32At(b, at + 8) << " " << u32At(b, at + 12) << "]";
                else out << " [+" << u32At(b, at) << " " << u32At(b, at + 4) << "]";
            }
        } else if (id == "idx1") {
            for (std::uint32_t e = 0; e < size / 16; ++e) {
                const std::uint64_t at = d + 16 * e;
                out << " [" << idAt(b, at) << " " << u32At(b, at + 4) << " +" << u32At(b, at + 8) << " "
                    << u32At(b, at + 12) << "]";
            }
        } else if (id == "dmlh") {
            field("frames", 0, 4);
        }
        out << "\n";
        offset = d + size + (size & 1);
    }
}

// A type-1 NTSC file of 3 frames in one RIFF and a type-2 PAL file of 4 frames split at 472300
// bytes, 46 short of the 472346 a first RIFF of 3 frames takes with its idx1: it holds 2. The golden dump was checked by hand against the layouts: each offset from the sizes before
// it; idx1 offsets from the 'movi' type code, ix## offsets from their base to the data, super index
// entries at their ix## chunk (header included) with its duration; avih counts the first RIFF's
// frames, strh and dmlh all; 33367 us and 3596403 bytes a second are 1001/30000 s of 120000 bytes;
// 192000 = 48000 x 4; DVINFO holds PC1..PC4 of AAUX 0x50 and 0x51 of both halves of the first
// frame (0xD5: 1601 = 1580 + 21 samples; 0x80: 48 kHz, 16 bits), then VAUX 0x60 (0xC0: 60 fields)
// and 0x61 as the frames carry them, then two zero words.
TEST(AviWriterLayout, headers_stream_formats_and_indexes_of_both_types_match_the_golden_dump)
{
    std::ostringstream dump;
    struct Case {
        const char* name;
        AviWriterOptions options;
        std::size_t frames;
    };
    for (const Case& c : {Case{"type1-ntsc.avi", {DvAviType::Type1Interleaved, VideoSystem::Ntsc525_60}, 3},
                          Case{"type2-pal.avi", {DvAviType::Type2Separate, VideoSystem::Pal625_50, 472300}, 4}}) {
        const auto bytes = writtenAvi(toneFrames(c.options.system, c.frames),
                                                   {c.options.type, c.options.system, c.options.maxRiffBytes});
        dump << "# " << c.name << "\n";
        dumpChunks(bytes, 0, bytes.size(), 0, dump);
    }
    expectMatchesGolden("avi_writer_structure.txt", dump.str());
}

// Small RIFFs: the file goes on in 'AVIX' forms below the limit, idx1 only in the first (the
// headers and indexes of such a file are in the golden dump above; peers read the frames and the
// sound of every type and system in tests/peer). Before finish() the file is what a crash leaves:
// every frame comes back.
TEST(AviWriterOpenDml, splits_into_avix_riffs_below_the_limit_and_survives_a_crash)
{
    for (const auto& [type, system] : {std::pair{DvAviType::Type1Interleaved, VideoSystem::Pal625_50},
                                       {DvAviType::Type2Separate, VideoSystem::Pal625_50},
                                       {DvAviType::Type1Interleaved, VideoSystem::Ntsc525_60},
                                       {DvAviType::Type2Separate, VideoSystem::Ntsc525_60}}) {
        const auto path = testPath("riffs_" + std::to_string(static_cast<int>(type)) + "_" +
                                   std::to_string(static_cast<int>(system)) + ".avi");
        SCOPED_TRACE(path.filename());
        const auto frames = toneFrames(system, 23);
        constexpr std::uint64_t kLimit = 700000;   // about four frames a RIFF
        auto writer = writerOf(path, {type, system, kLimit}, frames);
        // Cuts inside frames and their chunks are the damaged-file tests' cases.
        expectFrames(path.string(), frames, frames.size(), IndexSource::Scan);
        ASSERT_TRUE(writer.finish());
        const auto bytes = readBytes(path);
        std::size_t riffs = 0;
        std::size_t at = 0;
        for (; at + 12 <= bytes.size(); at += 8 + u32At(bytes, at + 4), ++riffs) {
            SCOPED_TRACE(riffs);
            EXPECT_LE(u32At(bytes, at + 4) + 8u, kLimit);
            EXPECT_EQ(idAt(bytes, at) + idAt(bytes, at + 8), riffs == 0 ? "RIFFAVI " : "RIFFAVIX");
            EXPECT_EQ(findFourCC(bytes, "idx1", at) < at + 8 + u32At(bytes, at + 4), riffs == 0);
        }
        EXPECT_EQ(at, bytes.size()) << "the RIFFs fill the file";
        expectFrames(path.string(), frames, frames.size(), IndexSource::OpenDml);
    }
}

TEST(AviWriterAudio, resamples_a_32k_scene_into_the_48k_stream_keeping_time)
{
    // 20 frames at 48 kHz, then 20 recorded at 32 kHz, then 10 at 44.1 kHz.
    auto frames = toneFrames(VideoSystem::Pal625_50, 20, 48000);
    for (auto& frame : toneFrames(VideoSystem::Pal625_50, 20, 32000, 20)) frames.push_back(std::move(frame));
    for (auto& frame : toneFrames(VideoSystem::Pal625_50, 10, 44100, 40)) frames.push_back(std::move(frame));
    const auto path = testPath("rate_change.avi");
    auto writer = writerOf(path, {DvAviType::Type2Separate, VideoSystem::Pal625_50}, frames);
    ASSERT_TRUE(writer.finish());
    EXPECT_EQ(writer.audioSampleRateHz(), 48000u);
    // 2 seconds of pictures hold 2 seconds of sound at the stream's rate, to a sample.
    EXPECT_NEAR(static_cast<double>(writer.audioSamplesWritten()), 96000.0, 1.0);

    auto reader = AviReader::open(path.string());
    ASSERT_TRUE(reader);
    std::vector<std::int16_t> left;
    std::vector<std::byte> chunk(16384);
    for (std::size_t i = 0; i < reader->sampleCount(1); ++i) {
        auto read = reader->readSample(1, i, chunk);
        ASSERT_TRUE(read);
        for (std::size_t b = 0; b + 3 < *read; b += 4) {
            left.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(chunk[b]) | static_cast<std::uint16_t>(chunk[b + 1]) << 8));
        }
        // Each frame's chunk covers one frame's time at 48 kHz.
        EXPECT_NEAR(static_cast<double>(*read) / 4.0, 1920.0, 1.0) << "frame " << i;
    }
    // The 440 Hz left tone keeps its pitch through the converted scenes: it crosses zero upwards
    // 440 times a second (0.8 s = 352 crossings in the 32 kHz scene).
    const auto upwardCrossings = [&](std::size_t from, std::size_t to) {
        int count = 0;
        for (std::size_t n = from + 1; n < to; ++n) count += left[n - 1] < 0 && left[n] >= 0;
        return count;
    };
    EXPECT_NEAR(upwardCrossings(20 * 1920, 40 * 1920), 352, 2);
    EXPECT_NEAR(upwardCrossings(40 * 1920, 50 * 1920), 176, 2);
    // And it stays a sine of the original amplitude: no sample far above 12000.
    for (std::size_t n = 20 * 1920; n < left.size(); ++n) ASSERT_LE(std::abs(left[n]), 12001) << n;
}

TEST(AviWriterErrors, reports_every_failed_write_with_the_file_and_the_cause)
{
    const auto frames = toneFrames(VideoSystem::Pal625_50, 3);
    // A full disk (/dev/full takes the open but fails every write), a folder that is gone, no type.
    struct Refusal {
        std::filesystem::path path;
        DvAviType type;
        AviWriteErrorCode code;
        const char* cause;
    };
    const Refusal refusals[] = {
        {"/dev/full", DvAviType::Type2Separate, AviWriteErrorCode::WriteFailed, "No space left"},
        {testPath("gone") / "capture.avi", DvAviType::Type1Interleaved, AviWriteErrorCode::CannotCreate, ""},
        {testPath("x.avi"), DvAviType::Unknown, AviWriteErrorCode::InvalidOptions, ""},
    };
    for (const auto& r : refusals) {
        auto writer = AviWriter::create(r.path, {r.type, VideoSystem::Pal625_50});
        ASSERT_FALSE(writer) << r.path;
        EXPECT_EQ(writer.error().code, r.code) << r.path;
        const bool namesTheFile = writer.error().message.find(r.path.filename().string()) != std::string::npos;
        EXPECT_EQ(namesTheFile, r.code != AviWriteErrorCode::InvalidOptions) << writer.error().message;
        EXPECT_NE(writer.error().message.find(r.cause), std::string::npos) << writer.error().message;
    }
    // The file removed while it is written: finish() says so instead of claiming success.
    const auto folder = testPath("removed");
    std::filesystem::create_directories(folder);
    auto writer = AviWriter::create(folder / "capture.avi", {DvAviType::Type1Interleaved, VideoSystem::Pal625_50});
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->writeFrame(frames[0]));
    std::filesystem::remove_all(folder);
    auto finished = writer->finish();
    ASSERT_FALSE(finished);
    EXPECT_EQ(finished.error().code, AviWriteErrorCode::FileRemoved);
}

TEST(AviWriterErrors, a_short_write_at_the_file_size_limit_stops_the_file_with_an_error)
{
    // The process's file size limit makes the kernel write part of a chunk and then refuse.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    auto writer = AviWriter::create(testPath("size_limit.avi"), {DvAviType::Type2Separate, VideoSystem::Pal625_50});
    ASSERT_TRUE(writer);
    struct rlimit limited = saved;
    limited.rlim_cur = 400000;   // two and a half frames
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto frames = toneFrames(VideoSystem::Pal625_50, 4);
    std::size_t accepted = 0;
    WriteResult last;
    while (accepted < frames.size() && (last = writer->writeFrame(frames[accepted]))) ++accepted;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_FALSE(last);
    EXPECT_EQ(last.error().code, AviWriteErrorCode::WriteFailed);
    EXPECT_NE(last.error().message.find("size_limit.avi"), std::string::npos) << last.error().message;
    EXPECT_EQ(accepted, 2u);
    // Nothing more goes into a file that has lost bytes.
    EXPECT_EQ(writer->writeFrame(frames[3]).error().code, AviWriteErrorCode::NotWritable);
    EXPECT_EQ(writer->finish().error().code, AviWriteErrorCode::NotWritable);
}

TEST(AviWriterErrors, a_file_whose_super_index_is_full_refuses_more_frames_but_still_finishes)
{
    // One frame a RIFF: the 512 slots of the super index are used up after 512 frames.
    const auto frame = toneFrames(VideoSystem::Ntsc525_60, 1)[0];
    const auto path = testPath("full_super_index.avi");
    auto writer = AviWriter::create(path, {DvAviType::Type1Interleaved, VideoSystem::Ntsc525_60, 150000});
    ASSERT_TRUE(writer);
    std::size_t accepted = 0;
    WriteResult last;
    while (accepted < 600 && (last = writer->writeFrame(frame))) ++accepted;
    ASSERT_FALSE(last);
    EXPECT_EQ(last.error().code, AviWriteErrorCode::TooLong);
    EXPECT_EQ(accepted, 512u);
    ASSERT_TRUE(writer->finish());
    auto reader = AviReader::open(path.string());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->indexSource(), IndexSource::OpenDml);
    EXPECT_EQ(reader->sampleCount(0), 512u);
    std::filesystem::remove(path);
}

}  // namespace
}  // namespace vantrel::avi
