// SPDX-License-Identifier: GPL-3.0-or-later
// The DV AVI writer: structure, read-back, several RIFFs, crash recovery, write errors, and what peers make of its files.
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "avi/dv_avi.h"
#include "dv/dv_audio.h"
#include "support/synthetic_dv_frame.h"
#include "tests/dv/audio_test_media.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace vantrel::avi {
namespace {

using dv::VideoSystem;
using testmedia::captureOutput;
using testmedia::hasTool;
using testmedia::readFileBytes;
using testmedia::run;
using testmedia::shellQuoted;

std::filesystem::path dataPath(const std::string& name)
{
    std::filesystem::path dir = std::filesystem::path(VANTREL_TEST_DATA_DIR) / "avi-writer";
    std::filesystem::create_directories(dir);
    return dir / name;
}

// Frames that differ from each other (time code, tone phase) and carry real audio.
std::vector<std::vector<std::byte>> makeFrames(VideoSystem system, std::size_t count, std::uint32_t rateHz = 48000,
                                               std::size_t firstIndex = 0)
{
    std::vector<std::vector<std::byte>> frames;
    std::vector<std::int16_t> stereo;
    std::uint64_t sample = 0;
    for (std::size_t f = 0; f < firstIndex; ++f) sample += dv::nominalAudioSamples(system, rateHz, f);
    for (std::size_t i = firstIndex; i < firstIndex + count; ++i) {
        auto builder = system == VideoSystem::Pal625_50 ? testsupport::SyntheticDvFrame::pal()
                                                        : testsupport::SyntheticDvFrame::ntsc();
        const int index = static_cast<int>(i);
        builder.withTimecode({0, index / 1500, (index / 25) % 60, index % 25})
            .withRecordingDate({2005, 12, 4}, {20, 46, index % 60});
        auto bytes = builder.bytes();
        const std::size_t samples = dv::nominalAudioSamples(system, rateHz, i);
        testmedia::fillTone(stereo, samples, sample, rateHz);
        sample += samples;
        EXPECT_TRUE(dv::encodeAudio(bytes, system, rateHz, dv::AudioQuantisation::Linear16, stereo));
        frames.push_back(std::move(bytes));
    }
    return frames;
}

AviWriter writeFile(const std::filesystem::path& path, const AviWriterOptions& options,
                    const std::vector<std::vector<std::byte>>& frames, bool shouldFinish = true)
{
    auto writer = AviWriter::create(path, options);
    EXPECT_TRUE(writer) << (writer ? "" : writer.error().message);
    for (const auto& frame : frames) {
        auto written = writer->writeFrame(frame);
        EXPECT_TRUE(written) << (written ? "" : written.error().message);
    }
    if (shouldFinish) {
        auto finished = writer->finish();
        EXPECT_TRUE(finished) << (finished ? "" : finished.error().message);
    }
    return std::move(writer.value());
}

std::uint32_t u32At(const std::vector<std::byte>& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes.at(offset + i)) << (8 * i);
    return value;
}

std::string idAt(const std::vector<std::byte>& bytes, std::size_t offset)
{
    std::string text;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto c = static_cast<char>(bytes.at(offset + i));
        text += (c >= 0x20 && c < 0x7F) ? c : '.';
    }
    return text;
}

// Top-level RIFFs of a file and, inside each, the chunks (a LIST shows as "LIST:type").
struct RiffSummary {
    std::string type;
    std::uint64_t offset;
    std::uint32_t sizeBytes;
    std::vector<std::string> children;
    std::map<std::string, std::uint64_t> childOffsets;   // first child of each name
};

std::vector<RiffSummary> walkRiffs(const std::vector<std::byte>& bytes)
{
    std::vector<RiffSummary> riffs;
    std::size_t offset = 0;
    while (offset + 12 <= bytes.size()) {
        EXPECT_EQ(idAt(bytes, offset), "RIFF");
        RiffSummary riff{idAt(bytes, offset + 8), offset, u32At(bytes, offset + 4), {}, {}};
        const std::size_t end = offset + 8 + riff.sizeBytes;
        EXPECT_LE(end, bytes.size());
        std::size_t child = offset + 12;
        while (child + 8 <= end && child + 8 <= bytes.size()) {
            std::string name = idAt(bytes, child);
            const std::uint32_t size = u32At(bytes, child + 4);
            if (name == "LIST") name += ":" + idAt(bytes, child + 8);
            riff.childOffsets.emplace(name, child);
            riff.children.push_back(name);
            child += 8 + size + (size & 1);
        }
        EXPECT_EQ(child, end) << "chunks of a RIFF fill it exactly";
        riffs.push_back(riff);
        offset = end + (riff.sizeBytes & 1);
    }
    return riffs;
}

std::vector<std::byte> concatenated(const std::vector<std::vector<std::byte>>& frames)
{
    std::vector<std::byte> all;
    for (const auto& frame : frames) all.insert(all.end(), frame.begin(), frame.end());
    return all;
}

// The PCM a type-2 file must hold: every frame's audio as decoded, little-endian.
std::vector<std::byte> decodedPcm(const std::vector<std::vector<std::byte>>& frames, VideoSystem system)
{
    std::vector<std::byte> pcm;
    std::vector<std::int16_t> samples(dv::kMaxStereoSamplesPerFrame);
    for (const auto& frame : frames) {
        auto decoded = dv::decodeAudio(frame, system, samples);
        EXPECT_TRUE(decoded);
        for (std::size_t i = 0; i < 2 * decoded->format.samplesPerChannel; ++i) {
            const auto value = static_cast<std::uint16_t>(samples[i]);
            pcm.push_back(static_cast<std::byte>(value & 0xFF));
            pcm.push_back(static_cast<std::byte>(value >> 8));
        }
    }
    return pcm;
}

struct FileCase {
    DvAviType type;
    VideoSystem system;
    const char* name;
};

const FileCase kFileCases[] = {
    {DvAviType::Type1Interleaved, VideoSystem::Pal625_50, "type1_pal"},
    {DvAviType::Type2Separate, VideoSystem::Pal625_50, "type2_pal"},
    {DvAviType::Type1Interleaved, VideoSystem::Ntsc525_60, "type1_ntsc"},
    {DvAviType::Type2Separate, VideoSystem::Ntsc525_60, "type2_ntsc"},
};

TEST(RiffWriterHelper, fills_in_sizes_and_pads_odd_chunks)
{
    ByteBuffer buffer;
    RiffWriter<ByteBuffer> riff(buffer);
    auto list = riff.openList(kList, makeFourCC("test"));
    ASSERT_TRUE(list);
    const std::byte odd[3] = {std::byte{1}, std::byte{2}, std::byte{3}};
    ASSERT_TRUE(riff.chunk(makeFourCC("odd "), odd));
    auto open = riff.openChunk(makeFourCC("grow"));
    ASSERT_TRUE(open);
    buffer.u8(7);
    ASSERT_TRUE(riff.close(*open));
    ASSERT_TRUE(riff.close(*list));
    const std::vector<std::byte> bytes(buffer.bytes().begin(), buffer.bytes().end());
    ASSERT_EQ(bytes.size(), 12u + 12u + 10u);
    EXPECT_EQ(u32At(bytes, 4), 4u + 12u + 10u);   // list size: type code and both padded chunks
    EXPECT_EQ(u32At(bytes, 16), 3u);              // the odd chunk keeps its true size...
    EXPECT_EQ(bytes[23], std::byte{0});           // ...and is followed by one pad byte
    EXPECT_EQ(idAt(bytes, 24), "grow");
    EXPECT_EQ(u32At(bytes, 28), 1u);
    EXPECT_EQ(bytes[33], std::byte{0});
}

TEST(AviWriterLayout, writes_headers_indexes_and_dvinfo_that_describe_the_file)
{
    const auto frames = makeFrames(VideoSystem::Pal625_50, 10);
    for (auto type : {DvAviType::Type1Interleaved, DvAviType::Type2Separate}) {
        const bool isType2 = type == DvAviType::Type2Separate;
        SCOPED_TRACE(isType2 ? "type 2" : "type 1");
        const auto path = dataPath(isType2 ? "layout2.avi" : "layout1.avi");
        writeFile(path, {type, VideoSystem::Pal625_50}, frames);
        const auto bytes = readFileBytes(path);
        const auto riffs = walkRiffs(bytes);
        ASSERT_EQ(riffs.size(), 1u);
        EXPECT_EQ(riffs[0].type, "AVI ");
        EXPECT_EQ(riffs[0].children, (std::vector<std::string>{"LIST:hdrl", "LIST:movi", "idx1"}));
        EXPECT_EQ(riffs[0].sizeBytes + 8u, bytes.size());

        auto reader = AviReader::open(path.string());
        ASSERT_TRUE(reader) << reader.error().message;
        EXPECT_EQ(reader->indexSource(), IndexSource::OpenDml);
        ASSERT_EQ(reader->streams().size(), isType2 ? 2u : 1u);
        const auto& video = reader->streams()[0];
        // Rates, lengths and the OpenDML indexes: see the golden file below.
        EXPECT_EQ(video.header.type, isType2 ? kVideoStream : kInterleavedStream);
        if (isType2) {
            ASSERT_EQ(video.format.size(), 40u);   // BITMAPINFOHEADER, compression dvsd
            EXPECT_EQ(u32At(video.format, 16), makeFourCC("dvsd"));
            EXPECT_EQ(u32At(video.format, 8), 576u);
            const auto& audio = reader->streams()[1];
            EXPECT_EQ(audio.header.type, kAudioStream);
            ASSERT_GE(audio.format.size(), 16u);   // WAVEFORMATEX: PCM, stereo, 48 kHz, 16 bits
            EXPECT_EQ(u32At(audio.format, 0), 0x00020001u);
            EXPECT_EQ(u32At(audio.format, 4), 48000u);
            EXPECT_EQ(u32At(audio.format, 12), 0x00100004u);
        } else {
            // DVINFO holds PC1..PC4 of the first frame's AAUX source/control and VAUX source/control packs.
            ASSERT_EQ(video.format.size(), 32u);
            const auto source = dv::FindAudioPack(frames[0], VideoSystem::Pal625_50, dv::kAudioSourcePack, 0);
            ASSERT_TRUE(source);
            EXPECT_EQ(u32At(video.format, 0), static_cast<std::uint32_t>(source->pc[1] | source->pc[2] << 8 |
                                                                          source->pc[3] << 16 | source->pc[4] << 24));
            const auto vauxSource = dv::FindVauxPack(frames[0], VideoSystem::Pal625_50, 0x60);
            ASSERT_TRUE(vauxSource);
            EXPECT_EQ(video.format[16], std::byte{vauxSource->pc[1]});
        }
        // idx1: every chunk of the first RIFF, offsets from the 'movi' code, each pointing at its chunk.
        const std::uint64_t idx1 = riffs[0].childOffsets.at("idx1");
        const std::uint64_t moviType = riffs[0].childOffsets.at("LIST:movi") + 8;
        const std::uint32_t entries = u32At(bytes, idx1 + 4) / 16;
        EXPECT_EQ(entries, isType2 ? 20u : 10u);
        for (std::uint32_t e = 0; e < entries; ++e) {
            const std::size_t entry = idx1 + 8 + 16 * e;
            const std::string id = idAt(bytes, entry);
            EXPECT_EQ(id, (isType2 && e % 2 == 1) ? "01wb" : "00dc");
            EXPECT_EQ(u32At(bytes, entry + 4), 0x10u);   // key frame
            EXPECT_EQ(idAt(bytes, moviType + u32At(bytes, entry + 8)), id);
            EXPECT_EQ(u32At(bytes, moviType + u32At(bytes, entry + 8) + 4), u32At(bytes, entry + 12));
        }
    }
}

// Small RIFFs: the file goes on in 'AVIX' forms, every one indexed, and reads back bit-exact
// (the header list, indexes and 'dmlh' of such a file are compared with a golden file below).
TEST(AviWriterOpenDml, splits_into_avix_riffs_below_the_limit_and_reads_back_bit_exact)
{
    for (const auto& c : kFileCases) {
        SCOPED_TRACE(c.name);
        const auto frames = makeFrames(c.system, 23);
        const auto path = dataPath(std::string("riffs_") + c.name + ".avi");
        constexpr std::uint64_t kLimit = 700000;   // about four frames a RIFF
        const auto writer = writeFile(path, {c.type, c.system, kLimit}, frames);
        EXPECT_EQ(writer.framesWritten(), 23u);
        const auto riffs = walkRiffs(readFileBytes(path));
        ASSERT_GE(riffs.size(), 5u);
        EXPECT_EQ(writer.riffCount(), riffs.size());
        for (std::size_t r = 0; r < riffs.size(); ++r) {
            EXPECT_LE(riffs[r].sizeBytes + 8u, kLimit) << "RIFF " << r;
            EXPECT_EQ(riffs[r].type, r == 0 ? "AVI " : "AVIX");
            EXPECT_EQ(riffs[r].childOffsets.count("idx1"), r == 0 ? 1u : 0u);
        }
        auto opened = OpenDVAvi(path.string());
        ASSERT_TRUE(opened) << opened.error();
        EXPECT_EQ(opened->IsPAL(), c.system == VideoSystem::Pal625_50);
        const auto& reader = opened->reader();
        EXPECT_EQ(reader.indexSource(), IndexSource::OpenDml);
        EXPECT_EQ(reader.streams()[0].header.length, frames.size());   // every RIFF counts
        ASSERT_EQ(opened->frameCount(), frames.size());
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            auto read = opened->readFrame(i, frame);
            ASSERT_TRUE(read);
            ASSERT_EQ(*read, frames[i].size());
            ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].end(), frame.begin())) << "frame " << i;
        }
        if (c.type == DvAviType::Type2Separate) {
            std::uint64_t samples = 0;
            for (std::size_t f = 0; f < frames.size(); ++f) samples += dv::nominalAudioSamples(c.system, 48000, f);
            EXPECT_EQ(reader.streams()[1].header.length, samples);
            ASSERT_EQ(reader.sampleCount(1), frames.size());
            std::vector<std::byte> pcm;
            std::vector<std::byte> chunk(8192);
            for (std::size_t i = 0; i < reader.sampleCount(1); ++i) {
                auto read = reader.readSample(1, i, chunk);
                ASSERT_TRUE(read);
                pcm.insert(pcm.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*read));
            }
            EXPECT_EQ(pcm, decodedPcm(frames, c.system));
        }
    }
}

TEST(AviWriterCrashSafety, an_unfinished_file_gives_back_every_complete_frame)
{
    for (const auto& c : kFileCases) {
        SCOPED_TRACE(c.name);
        const auto frames = makeFrames(c.system, 14);
        const auto path = dataPath(std::string("crash_") + c.name + ".avi");
        {
            // Small RIFFs, so the crash comes after some RIFFs were closed and indexed.
            const auto writer = writeFile(path, {c.type, c.system, 600000}, frames, false);
        }   // the writer goes away without finish(), as a crash would leave the file
        const auto whole = readFileBytes(path);
        const std::size_t perFrame = whole.size() / frames.size();
        for (std::size_t cut : {whole.size(), whole.size() - perFrame / 2, whole.size() - 3 * perFrame - 11}) {
            SCOPED_TRACE(cut);
            const auto cutPath = dataPath(std::string("crash_cut_") + c.name + ".avi");
            testmedia::writeFileBytes(cutPath, std::vector<std::byte>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
            auto reader = AviReader::open(cutPath.string());
            ASSERT_TRUE(reader) << reader.error().message;
            const std::size_t recovered = reader->sampleCount(0);
            // Every frame whose chunk lies wholly in the file comes back, and no other.
            std::size_t complete = 0;
            auto from = whole.begin();
            const auto end = whole.begin() + static_cast<std::ptrdiff_t>(cut);
            for (std::size_t i = 0; i < frames.size(); ++i) {
                from = std::search(from, end, frames[i].begin(), frames[i].end());
                if (from == end) break;
                ++complete;
            }
            EXPECT_EQ(recovered, complete);
            EXPECT_GE(recovered, frames.size() - 4);
            std::vector<std::byte> frame(dv::kMaxFrameBytes);
            for (std::size_t i = 0; i < recovered; ++i) {
                ASSERT_TRUE(reader->readSample(0, i, frame));
                ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].end(), frame.begin())) << "frame " << i;
            }
            if (hasTool("ffprobe")) {
                const auto counted = captureOutput("ffprobe -v quiet -count_frames -select_streams v:0 -show_entries "
                                                   "stream=nb_read_frames -of csv=p=0 " + shellQuoted(cutPath));
                EXPECT_EQ(std::stoul(counted), complete) << "ffprobe";
            }
        }
    }
}

TEST(AviWriterAudio, resamples_a_32k_scene_into_the_48k_stream_keeping_time)
{
    // 20 frames at 48 kHz, then 20 recorded at 32 kHz, then 10 at 44.1 kHz.
    auto frames = makeFrames(VideoSystem::Pal625_50, 20, 48000);
    for (auto& frame : makeFrames(VideoSystem::Pal625_50, 20, 32000, 20)) frames.push_back(std::move(frame));
    for (auto& frame : makeFrames(VideoSystem::Pal625_50, 10, 44100, 40)) frames.push_back(std::move(frame));
    const auto path = dataPath("rate_change.avi");
    const auto writer = writeFile(path, {DvAviType::Type2Separate, VideoSystem::Pal625_50}, frames);
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
    const auto frames = makeFrames(VideoSystem::Pal625_50, 3);
    {   // A full disk: /dev/full takes the open but fails every write.
        auto writer = AviWriter::create("/dev/full", {DvAviType::Type2Separate, VideoSystem::Pal625_50});
        ASSERT_FALSE(writer);
        EXPECT_EQ(writer.error().code, AviWriteErrorCode::WriteFailed);
        EXPECT_NE(writer.error().message.find("/dev/full"), std::string::npos);
        EXPECT_NE(writer.error().message.find("No space left"), std::string::npos) << writer.error().message;
    }
    {   // A folder that is gone.
        const auto folder = dataPath("gone");
        std::filesystem::remove_all(folder);
        auto writer = AviWriter::create(folder / "capture.avi", {DvAviType::Type1Interleaved, VideoSystem::Pal625_50});
        ASSERT_FALSE(writer);
        EXPECT_EQ(writer.error().code, AviWriteErrorCode::CannotCreate);
        EXPECT_NE(writer.error().message.find("capture.avi"), std::string::npos);
    }
    {   // The file removed while it is written: finish() says so instead of claiming success.
        const auto folder = dataPath("removed");
        std::filesystem::create_directories(folder);
        auto writer = AviWriter::create(folder / "capture.avi", {DvAviType::Type1Interleaved, VideoSystem::Pal625_50});
        ASSERT_TRUE(writer);
        ASSERT_TRUE(writer->writeFrame(frames[0]));
        std::filesystem::remove_all(folder);
        auto finished = writer->finish();
        ASSERT_FALSE(finished);
        EXPECT_EQ(finished.error().code, AviWriteErrorCode::FileRemoved);
    }
    {   // A frame of the wrong size is refused and the file goes on.
        auto writer = AviWriter::create(dataPath("wrong_size.avi"), {DvAviType::Type1Interleaved, VideoSystem::Ntsc525_60});
        ASSERT_TRUE(writer);
        auto refused = writer->writeFrame(frames[0]);   // a PAL frame into an NTSC file
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().code, AviWriteErrorCode::InvalidFrame);
        const auto ntsc = makeFrames(VideoSystem::Ntsc525_60, 1);
        EXPECT_TRUE(writer->writeFrame(ntsc[0]));
        EXPECT_TRUE(writer->finish());
        EXPECT_FALSE(writer->writeFrame(ntsc[0]));
        EXPECT_EQ(writer->finish().error().code, AviWriteErrorCode::NotWritable);
    }
    EXPECT_EQ(AviWriter::create(dataPath("x.avi"), {DvAviType::Unknown, VideoSystem::Pal625_50}).error().code,
              AviWriteErrorCode::InvalidOptions);
}

TEST(AviWriterErrors, a_short_write_at_the_file_size_limit_stops_the_file_with_an_error)
{
    // The process's file size limit makes the kernel write part of a chunk and then refuse.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    auto writer = AviWriter::create(dataPath("size_limit.avi"), {DvAviType::Type2Separate, VideoSystem::Pal625_50});
    ASSERT_TRUE(writer);
    struct rlimit limited = saved;
    limited.rlim_cur = 400000;   // two and a half frames
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto frames = makeFrames(VideoSystem::Pal625_50, 4);
    std::optional<AviWriteError> failure;
    std::size_t accepted = 0;
    for (const auto& frame : frames) {
        auto written = writer->writeFrame(frame);
        if (!written) {
            failure = written.error();
            break;
        }
        ++accepted;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->code, AviWriteErrorCode::WriteFailed);
    EXPECT_NE(failure->message.find("size_limit.avi"), std::string::npos) << failure->message;
    EXPECT_EQ(accepted, 2u);
    // Nothing more goes into a file that has lost bytes.
    EXPECT_EQ(writer->writeFrame(frames[3]).error().code, AviWriteErrorCode::NotWritable);
    EXPECT_EQ(writer->finish().error().code, AviWriteErrorCode::NotWritable);
}

TEST(AviWriterErrors, a_file_whose_super_index_is_full_refuses_more_frames_but_still_finishes)
{
    // One frame a RIFF: the 512 slots of the super index are used up after 512 frames.
    const auto frame = makeFrames(VideoSystem::Ntsc525_60, 1)[0];
    const auto path = dataPath("full_super_index.avi");
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

// A readable dump of the chunk tree: names, sizes and the header and index fields that matter.
void dumpChunks(const std::vector<std::byte>& bytes, std::uint64_t from, std::uint64_t to, int depth, std::ostringstream& out)
{
    std::uint64_t offset = from;
    while (offset + 8 <= to) {
        const std::string id = idAt(bytes, offset);
        const std::uint32_t size = u32At(bytes, offset + 4);
        const std::uint64_t data = offset + 8;
        out << std::string(2 * depth, ' ') << "@" << offset << " " << id << " " << size;
        if (id == "RIFF" || id == "LIST") {
            out << " '" << idAt(bytes, data) << "'\n";
            dumpChunks(bytes, data + 4, data + size, depth + 1, out);
        } else {
            if (id == "avih") out << " frames=" << u32At(bytes, data + 16) << " streams=" << u32At(bytes, data + 24);
            if (id == "strh") {
                out << " " << idAt(bytes, data) << "/" << idAt(bytes, data + 4) << " scale=" << u32At(bytes, data + 20)
                    << " rate=" << u32At(bytes, data + 24) << " length=" << u32At(bytes, data + 32)
                    << " sample=" << u32At(bytes, data + 44);
            }
            if (id == "indx" || id.starts_with("ix")) {
                out << " entries=" << u32At(bytes, data + 4) << " of=" << idAt(bytes, data + 8);
                for (std::uint32_t e = 0; id == "indx" && e < u32At(bytes, data + 4); ++e) {
                    out << " [@" << u32At(bytes, data + 24 + 16 * e) << " " << u32At(bytes, data + 32 + 16 * e) << " "
                        << u32At(bytes, data + 36 + 16 * e) << "]";
                }
                if (id != "indx") out << " base=" << u32At(bytes, data + 12);
            }
            if (id == "idx1") out << " entries=" << size / 16;
            if (id == "dmlh") out << " frames=" << u32At(bytes, data);
            out << "\n";
        }
        offset = data + size + (size & 1);
    }
}

TEST(AviWriterLayout, chunk_tree_of_a_two_riff_type2_file_matches_the_golden_file)
{
    const auto path = dataPath("golden_type2.avi");
    writeFile(path, {DvAviType::Type2Separate, VideoSystem::Pal625_50, 480000}, makeFrames(VideoSystem::Pal625_50, 4));
    const auto bytes = readFileBytes(path);
    std::ostringstream dump;
    dumpChunks(bytes, 0, bytes.size(), 0, dump);
    const std::string golden = std::string(VANTREL_SOURCE_DIR) + "/tests/golden/avi_writer_type2_chunks.txt";
    if (const char* update = std::getenv("VANTREL_UPDATE_GOLDEN"); update && std::string(update) == "1") {
        std::ofstream(golden, std::ios::binary) << dump.str();
        GTEST_SKIP() << "rewrote " << golden;
    }
    std::ifstream in(golden, std::ios::binary);
    ASSERT_TRUE(in) << "missing " << golden << " (VANTREL_UPDATE_GOLDEN=1 writes it)";
    std::ostringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(expected.str(), dump.str()) << "golden file " << golden;
}

// Peers: ffprobe, MediaInfo and GStreamer accept the files silently and count every frame.
struct WrittenFile {
    std::filesystem::path path;
    std::vector<std::vector<std::byte>> frames;
    FileCase fileCase;
};

// Each type and system, in one RIFF and in several.
// Each peer test runs in its own process, at the same time as the others: each writes its own files.
std::vector<WrittenFile> writePeerFiles()
{
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<WrittenFile> files;
    for (const auto& c : kFileCases) {
        for (std::uint64_t limit : {std::uint64_t{1} << 30, std::uint64_t{1200000}}) {
            const auto frames = makeFrames(c.system, 25);
            const auto path = dataPath(test + "_" + c.name + (limit < (1u << 30) ? "_avix" : "") + ".avi");
            writeFile(path, {c.type, c.system, limit}, frames);
            files.push_back({path, frames, c});
        }
    }
    return files;
}

TEST(AviWriterPeers, ffprobe_reads_the_frame_count_and_duration_without_a_word)
{
    if (!hasTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    for (const auto& file : writePeerFiles()) {
        SCOPED_TRACE(file.path.filename().string());
        const auto output = captureOutput("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                          "stream=nb_read_frames:format=duration -of default=nw=1 " +
                                          shellQuoted(file.path) + " 2>&1");
        const bool isPal = file.fileCase.system == VideoSystem::Pal625_50;
        EXPECT_EQ(output, std::string("nb_read_frames=25\nduration=") + (isPal ? "1.000000" : "0.834167") + "\n");
    }
}

TEST(AviWriterPeers, mediainfo_sees_dv_with_every_frame)
{
    if (!hasTool("mediainfo")) GTEST_SKIP() << "mediainfo is not installed";
    for (const auto& file : writePeerFiles()) {
        SCOPED_TRACE(file.path.filename().string());
        const auto output = captureOutput("mediainfo '--Inform=Video;%Format% %FrameCount% %Width%x%Height%' " +
                                          shellQuoted(file.path) + " 2>&1");
        const bool isPal = file.fileCase.system == VideoSystem::Pal625_50;
        EXPECT_EQ(output, std::string("DV 25 720x") + (isPal ? "576" : "480") + "\n");
        if (file.fileCase.type == DvAviType::Type2Separate) {
            EXPECT_EQ(captureOutput("mediainfo '--Inform=Audio;%Format% %SamplingRate% %Channel(s)%' " + shellQuoted(file.path)),
                      "PCM 48000 2\n");
        }
    }
}

TEST(AviWriterPeers, gstreamer_avidemux_gives_back_the_same_frames_and_audio)
{
    if (!hasTool("gst-launch-1.0")) GTEST_SKIP() << "GStreamer is not installed";
    for (const auto& file : writePeerFiles()) {
        SCOPED_TRACE(file.path.filename().string());
        const auto dvOut = file.path.string() + ".gst.dv";
        const auto pcmOut = file.path.string() + ".gst.pcm";
        std::string pipeline = "timeout 60 gst-launch-1.0 -q filesrc location=" + shellQuoted(file.path) +
                               " ! avidemux name=d d.video_0 ! queue ! filesink location=" + shellQuoted(dvOut);
        const bool isType2 = file.fileCase.type == DvAviType::Type2Separate;
        if (isType2) pipeline += " d.audio_0 ! queue ! filesink location=" + shellQuoted(pcmOut);
        ASSERT_TRUE(run(pipeline + " 2>&1"));
        EXPECT_TRUE(readFileBytes(dvOut) == concatenated(file.frames)) << "the DV stream is every frame, unchanged";
        if (isType2) {
            EXPECT_TRUE(readFileBytes(pcmOut) == decodedPcm(file.frames, file.fileCase.system));
        }
    }
}

// The audio of a type-2 file (and of a type-1 file, through ffmpeg) equals what ffmpeg decodes from the same DV frames as raw DV.
TEST(AviWriterPeerAudio, audio_of_both_types_equals_ffmpegs_decoding_of_the_dv_frames)
{
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (auto system : {VideoSystem::Pal625_50, VideoSystem::Ntsc525_60}) {
        const auto source = testmedia::ffmpegDvFile(system, 2);
        ASSERT_FALSE(source.empty());
        const auto bytes = readFileBytes(source);
        const std::size_t frameSize = dv::frameBytes(system);
        std::vector<std::vector<std::byte>> frames;
        for (std::size_t offset = 0; offset + frameSize <= bytes.size(); offset += frameSize) {
            frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(offset + frameSize));
        }
        const auto path = dataPath(system == VideoSystem::Pal625_50 ? "ffmpeg_frames_pal.avi" : "ffmpeg_frames_ntsc.avi");
        writeFile(path, {DvAviType::Type2Separate, system, 1000000}, frames);
        const auto fromDv = path.string() + ".raw.pcm";
        const auto fromAvi = path.string() + ".avi.pcm";
        ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -f dv -i " + shellQuoted(source) + " -map 0:a:0 -f s16le " + shellQuoted(fromDv)));
        ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -i " + shellQuoted(path) + " -map 0:a:0 -f s16le " + shellQuoted(fromAvi)));
        const auto expected = readFileBytes(fromDv);
        EXPECT_GT(expected.size(), 300000u);
        EXPECT_TRUE(readFileBytes(fromAvi) == expected);
        // In a type-1 file the audio stays inside the DV frames: ffmpeg finds the same samples there.
        const auto type1 = path.string() + ".type1.avi";
        const auto fromType1 = path.string() + ".type1.pcm";
        writeFile(type1, {DvAviType::Type1Interleaved, system, 1000000}, frames);
        ASSERT_TRUE(run("ffmpeg -nostdin -v error -y -i " + shellQuoted(type1) + " -map 0:a:0 -f s16le " + shellQuoted(fromType1)));
        EXPECT_TRUE(readFileBytes(fromType1) == expected);
    }
}

}  // namespace
}  // namespace vantrel::avi
