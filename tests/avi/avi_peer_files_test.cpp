// SPDX-License-Identifier: GPL-3.0-or-later
// The reader on DV AVI files written by other programs (ffmpeg, GStreamer, dvgrab), counted by ffprobe.
// Each case is skipped when its tool is missing.
#include "avi/avi_reader.h"
#include "avi/dv_avi.h"
#include "tests/dv/audio_test_media.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace vantrel::avi {
namespace {

namespace fs = std::filesystem;
using testmedia::hasTool;
using testmedia::run;

const fs::path& peerDir()
{
    static const fs::path dir = [] {
        const auto path = fs::path(VANTREL_TEST_DATA_DIR) / "avi" / "peers";
        fs::create_directories(path);
        return path;
    }();
    return dir;
}

std::string quoted(const fs::path& path) { return testmedia::shellQuoted(path); }

// The number of video packets ffprobe reads from the file, or -1 without ffprobe.
long ffprobeVideoPackets(const fs::path& path)
{
    if (!hasTool("ffprobe")) return -1;
    const std::string command = "ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                                "stream=nb_read_packets -of csv=p=0 " + quoted(path);
    long count = -1;
    return std::sscanf(testmedia::captureOutput(command).c_str(), "%ld", &count) == 1 ? count : -1;
}

// Opens the file and reads every frame: each is a whole DV frame of the right standard.
void expectWholeDvFrames(const fs::path& path, bool isPal, std::size_t expectedFrames)
{
    auto avi = OpenDVAvi(path.string());
    ASSERT_TRUE(avi) << avi.error();
    EXPECT_EQ(avi->IsPAL(), isPal);
    EXPECT_TRUE(avi->reader().notes().empty()) << avi->reader().notes().front();
    ASSERT_EQ(avi->frameCount(), expectedFrames);
    const std::size_t frameBytes = isPal ? dv::kPalFrameBytes : dv::kNtscFrameBytes;
    std::vector<std::byte> buffer(dv::kMaxFrameBytes);
    for (std::size_t i = 0; i < avi->frameCount(); ++i) {
        auto read = avi->readFrame(i, buffer);
        ASSERT_TRUE(read) << read.error().message;
        ASSERT_EQ(*read, frameBytes) << "frame " << i;
        // The header block of sequence 0: section type 0 in the top bits of its ID, and the
        // DSF bit (byte 3, bit 7) that tells 625/50 from 525/60.
        ASSERT_EQ(std::to_integer<int>(buffer[0]) & 0xE0, 0x00) << "frame " << i;
        ASSERT_EQ((std::to_integer<int>(buffer[3]) & 0x80) != 0, isPal) << "frame " << i;
        // Sequence 1's subcode block: section type 1.
        ASSERT_EQ(std::to_integer<int>(buffer[dv::kSequenceBytes + 80]) & 0xE0, 0x20) << "frame " << i;
    }
}

TEST(AviPeerFiles, opens_pal_and_ntsc_type2_files_written_by_ffmpeg)
{
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const bool isPal : {true, false}) {
        const auto path = peerDir() / (isPal ? "ffmpeg_pal.avi" : "ffmpeg_ntsc.avi");
        ASSERT_TRUE(run(std::string("ffmpeg -v error -y -f lavfi -i testsrc=") +
                        (isPal ? "size=720x576:rate=25" : "size=720x480:rate=30000/1001") + " -f lavfi -i sine -t 2 "
                        "-c:v dvvideo -pix_fmt " + (isPal ? "yuv420p" : "yuv411p") + " -c:a pcm_s16le " + quoted(path)));
        const long probed = ffprobeVideoPackets(path);
        expectWholeDvFrames(path, isPal, probed >= 0 ? static_cast<std::size_t>(probed) : (isPal ? 50u : 60u));
        auto avi = OpenDVAvi(path.string());
        ASSERT_TRUE(avi);
        EXPECT_EQ(avi->streamInfo().fccType, kVideoStream);
        EXPECT_EQ(avi->reader().findStream(kAudioStream), 1);
        EXPECT_EQ(avi->streamInfo().dwRate, isPal ? 25u : 30000u);
        EXPECT_EQ(avi->streamInfo().dwScale, isPal ? 1u : 1001u);
    }
}

TEST(AviPeerFiles, opens_type2_file_written_by_gstreamer_avimux)
{
    if (!hasTool("gst-launch-1.0")) GTEST_SKIP() << "GStreamer is not installed";
    const auto path = peerDir() / "gst_avimux.avi";
    if (!run("gst-launch-1.0 -q videotestsrc num-buffers=50 ! video/x-raw,width=720,height=576,framerate=25/1 ! "
             "avenc_dvvideo ! avimux ! filesink location=" + quoted(path))) {
        GTEST_SKIP() << "GStreamer lacks avenc_dvvideo or avimux";
    }
    expectWholeDvFrames(path, true, 50);
}

// dvgrab writes type 1 (AVI 1.0 index) and OpenDML type 2 files from a raw DV stream.
TEST(AviPeerFiles, opens_type1_and_opendml_type2_files_written_by_dvgrab)
{
    if (!hasTool("dvgrab") || !hasTool("ffmpeg")) GTEST_SKIP() << "dvgrab or ffmpeg is not installed";
    const auto raw = testmedia::ffmpegDvFile(dv::VideoSystem::Pal625_50, 2);
    ASSERT_FALSE(raw.empty());
    for (const bool isType1 : {true, false}) {
        // Named per process: another run of the same test may be writing beside it.
        const std::string base = std::string(isType1 ? "dvgrab_type1_" : "dvgrab_type2_") + std::to_string(::getpid()) + "_";
        const auto path = peerDir() / (base + "001.avi");
        // dvgrab reading a file now and then waits for ever after its input ended: give each
        // attempt a time limit and a few tries before the peer is given up.
        bool isWritten = false;
        for (int attempt = 0; attempt < 3 && !isWritten; ++attempt) {
            fs::remove(path);
            isWritten = run("cd " + quoted(peerDir()) + " && timeout 30 dvgrab -stdin -format " +
                            (isType1 ? "dv1" : "dv2 -opendml") + " -size 0 " + base + " < " + quoted(raw)) &&
                        fs::exists(path);
        }
        if (!isWritten) GTEST_SKIP() << "dvgrab did not finish writing " << path << " in three tries";
        const long probed = ffprobeVideoPackets(path);
        ASSERT_GT(probed, 0);
        expectWholeDvFrames(path, true, static_cast<std::size_t>(probed));
        auto avi = OpenDVAvi(path.string());
        ASSERT_TRUE(avi);
        EXPECT_EQ(avi->streamInfo().fccType, isType1 ? kInterleavedStream : kVideoStream);
        if (!isType1) {
            EXPECT_EQ(avi->reader().indexSource(), IndexSource::OpenDml);
        }
        // dvgrab passes the frames through unchanged, but reading a file as its input it now and
        // then drops one as "incomplete": every frame read is a frame of the raw file, in order.
        const auto rawBytes = testmedia::readFileBytes(raw);
        const std::size_t rawFrames = rawBytes.size() / dv::kPalFrameBytes;
        std::vector<std::byte> buffer(dv::kMaxFrameBytes);
        std::size_t next = 0;
        for (std::size_t i = 0; i < avi->streamInfo().dwLength; ++i) {
            ASSERT_TRUE(avi->readFrame(i, buffer));
            const auto isRawFrame = [&](std::size_t r) {
                return std::equal(buffer.begin(), buffer.begin() + dv::kPalFrameBytes,
                                  rawBytes.begin() + static_cast<std::ptrdiff_t>(r * dv::kPalFrameBytes));
            };
            while (next < rawFrames && !isRawFrame(next)) ++next;
            ASSERT_LT(next, rawFrames) << "frame " << i << " is no frame of the raw file, or out of order";
            ++next;
        }
        fs::remove(path);
    }
}

// Every peer file cut short still opens, by scanning, with every frame whole before the cut.
TEST(AviPeerFiles, peer_files_cut_short_yield_their_complete_frames)
{
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const auto source = peerDir() / "ffmpeg_pal_for_cut.avi";
    ASSERT_TRUE(run("ffmpeg -v error -y -f lavfi -i testsrc=size=720x576:rate=25 -t 1 -c:v dvvideo " + quoted(source)));
    auto whole = AviReader::open(source.string());
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->sampleCount(0), 25u);
    for (const std::size_t frames : {0u, 3u, 24u}) {
        const auto& next = whole->sample(0, frames);
        const auto cut = next.offsetBytes + 1000;  // inside frame `frames`
        const auto path = peerDir() / "ffmpeg_cut.avi";
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        fs::resize_file(path, cut);
        auto reader = AviReader::open(path.string());
        ASSERT_TRUE(reader) << reader.error().message;
        EXPECT_EQ(reader->indexSource(), IndexSource::Scan);
        ASSERT_EQ(reader->sampleCount(0), frames);
        for (std::size_t i = 0; i < frames; ++i) {
            EXPECT_EQ(reader->sample(0, i).offsetBytes, whole->sample(0, i).offsetBytes);
            EXPECT_EQ(reader->sample(0, i).sizeBytes, whole->sample(0, i).sizeBytes);
        }
    }
}

}  // namespace
}  // namespace vantrel::avi
