// SPDX-License-Identifier: GPL-3.0-or-later
// Peers and us on the same bytes. We read what ffmpeg, GStreamer's avimux and dvgrab wrote;
// ffprobe, MediaInfo and GStreamer read what our writer and generator wrote. Each peer reading
// happens once; a test whose peer is missing is skipped.
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "avi/dv_avi.h"
#include "dv/dv_audio.h"
#include "dv/pack_decoders.h"
#include "support/run_tool.h"
#include "support/scoped_env.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace vantrel::testsupport {
namespace {

namespace fs = std::filesystem;
using dv::VideoSystem;

bool isPal(VideoSystem system) { return system == VideoSystem::Pal625_50; }

std::vector<Frame> splitFrames(const std::vector<std::byte>& bytes, VideoSystem system)
{
    std::vector<Frame> frames;
    const std::size_t size = dv::frameBytes(system);
    for (std::size_t at = 0; at + size <= bytes.size(); at += size)
        frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
    return frames;
}

// Two seconds of ffmpeg's DV (test picture, 1 kHz tone at 48 kHz, time code 01:02:03:04 and
// creation time 2011-05-06 07:08:09 UTC in every frame), made once per build tree.
fs::path ffmpegDv(VideoSystem system)
{
    const auto path = testDataDir("peer") / (isPal(system) ? "ffmpeg-pal.dv" : "ffmpeg-ntsc.dv");
    if (fs::exists(path)) return path;
    const auto partial = path.string() + "." + std::to_string(::getpid());  // tests run at once
    const ToolResult made = runTool(
        {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
         isPal(system) ? "testsrc=size=720x576:rate=25" : "testsrc=size=720x480:rate=30000/1001", "-f", "lavfi",
         "-i", "sine=frequency=1000:sample_rate=48000", "-t", "2", "-pix_fmt", isPal(system) ? "yuv420p" : "yuv411p",
         "-ac", "2", "-timecode", isPal(system) ? "01:02:03:04" : "01:02:03;04", "-metadata",
         "creation_time=2011-05-06T07:08:09Z", "-f", "dv", partial});
    EXPECT_EQ(made.exitCode, 0) << made.err;
    fs::rename(partial, path);
    return path;
}

// Little-endian 16-bit samples of raw PCM bytes.
std::vector<std::int16_t> samplesOf(const std::vector<std::byte>& bytes)
{
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::to_integer<std::uint16_t>(bytes[2 * i]) |
                                               std::to_integer<std::uint16_t>(bytes[2 * i + 1]) << 8);
    return samples;
}

// The PCM of every frame as our decoder gives it, little-endian.
std::vector<std::byte> decodedPcm(const std::vector<Frame>& frames, VideoSystem system)
{
    std::vector<std::byte> pcm;
    std::vector<std::int16_t> samples(dv::kMaxStereoSamplesPerFrame);
    for (const auto& frame : frames) {
        auto decoded = dv::decodeAudio(frame, system, samples);
        EXPECT_TRUE(decoded);
        if (!decoded) continue;
        for (std::size_t i = 0; i < 2 * decoded->format.samplesPerChannel; ++i) {
            const auto value = static_cast<std::uint16_t>(samples[i]);
            pcm.push_back(static_cast<std::byte>(value & 0xFF));
            pcm.push_back(static_cast<std::byte>(value >> 8));
        }
    }
    return pcm;
}

fs::path writeAvi(const std::string& name, avi::AviWriterOptions options, const std::vector<Frame>& frames)
{
    const auto path = testPath(name);
    auto writer = avi::AviWriter::create(path, options);
    EXPECT_TRUE(writer) << (writer ? "" : writer.error().message);
    if (!writer) return path;
    for (const auto& frame : frames) EXPECT_TRUE(writer->writeFrame(frame));
    EXPECT_TRUE(writer->finish());
    return path;
}

// Every frame of the file, read through our reader; each is checked to be a whole DV frame of the system.
std::vector<Frame> framesWeRead(const fs::path& path, VideoSystem system)
{
    auto avi = avi::OpenDVAvi(path.string());
    EXPECT_TRUE(avi) << (avi ? "" : avi.error());
    if (!avi) return {};
    EXPECT_EQ(avi->IsPAL(), isPal(system));
    EXPECT_TRUE(avi->reader().notes().empty()) << avi->reader().notes().front();
    std::vector<Frame> frames;
    Frame buffer(dv::kMaxFrameBytes);
    for (std::size_t i = 0; i < avi->frameCount(); ++i) {
        auto read = avi->readFrame(i, buffer);
        EXPECT_TRUE(read);
        if (!read) break;
        frames.emplace_back(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(*read));
    }
    return frames;
}

struct WrittenFile {
    fs::path path;
    VideoSystem system;
    avi::DvAviType type;
    std::vector<Frame> frames;
};

// Our writer's files: each type and system, in one RIFF and split into AVIX forms.
std::vector<WrittenFile> ourFiles()
{
    std::vector<WrittenFile> files;
    for (auto system : {VideoSystem::Pal625_50, VideoSystem::Ntsc525_60}) {
        const auto frames = toneFrames(system, 25);
        for (auto type : {avi::DvAviType::Type1Interleaved, avi::DvAviType::Type2Separate}) {
            for (std::uint64_t limit : {std::uint64_t{1} << 30, std::uint64_t{1200000}}) {
                const std::string name = std::string(isPal(system) ? "pal-" : "ntsc-") + (limit < (1u << 30) ? "avix-" : "") +
                                         (type == avi::DvAviType::Type2Separate ? "type2.avi" : "type1.avi");
                files.push_back({writeAvi(name, {type, system, limit}, frames), system, type, frames});
            }
        }
    }
    return files;
}

// ---- We read what peers wrote ----

TEST(PeerFilesWeRead, ffmpeg_dv_time_code_date_and_audio_and_its_avi_files)
{
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const ScopedTimeZone zone{kUtc};
    for (auto system : {VideoSystem::Pal625_50, VideoSystem::Ntsc525_60}) {
        SCOPED_TRACE(isPal(system) ? "PAL" : "NTSC");
        const auto raw = ffmpegDv(system);
        const auto frames = splitFrames(readBytes(raw), system);
        ASSERT_GE(frames.size(), isPal(system) ? 50u : 59u);
        for (std::size_t n = 0; n < frames.size(); ++n) {
            dv::DVFrameInfo info{};
            dv::AnalyseFrame(frames[n], system, info, static_cast<long>(n));
            // 01:02:03:04 counted on at 25 (NTSC 30) frames a second; no minute starts, so nothing dropped.
            const int total = 4 + static_cast<int>(n);
            const int rate = isPal(system) ? 25 : 30;
            char timeCode[32];
            std::snprintf(timeCode, sizeof timeCode, "TimeCode 01:02:%02d   %02d", 3 + total / rate, total % rate);
            ASSERT_STREQ(info.szTimeCode, timeCode) << "frame " << n;
            // 2011-05-06 07:08:09 UTC, a second later after each second of frames.
            const auto elapsed = static_cast<std::int64_t>(isPal(system) ? n / 25 : n * 1001 / 30000);
            ASSERT_EQ(dv::GetRecordingTime(frames[n]), 1304665689 + elapsed) << "frame " << n;
        }
        const auto pcm = testPath(isPal(system) ? "ffmpeg-pal.pcm" : "ffmpeg-ntsc.pcm");
        const ToolResult peer = runTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "dv", "-i", raw.string(),
                                         "-map", "0:a:0", "-f", "s16le", pcm.string()});
        ASSERT_EQ(peer.exitCode, 0) << peer.err;
        EXPECT_TRUE(readBytes(pcm) == decodedPcm(frames, system)) << "ffmpeg's reading of its sound is ours";

        // The frames copied into an AVI file (video and sound streams apart).
        const auto copy = testPath(isPal(system) ? "copy-pal.avi" : "copy-ntsc.avi");
        ASSERT_EQ(runTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", raw.string(), "-c", "copy", copy.string()})
                      .exitCode, 0);
        EXPECT_TRUE(framesWeRead(copy, system) == frames);
    }
}

TEST(PeerFilesWeRead, gstreamer_avimux_type2_file)
{
    if (!hasTool("gst-launch-1.0")) GTEST_SKIP() << "GStreamer is not installed";
    const auto path = testPath("avimux.avi");
    const ToolResult made = runTool({"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=50", "!",
                                     "video/x-raw,width=720,height=576,framerate=25/1", "!", "avenc_dvvideo", "!",
                                     "avimux", "!", "filesink", "location=" + path.string()});
    if (made.exitCode != 0) GTEST_SKIP() << "GStreamer lacks avenc_dvvideo or avimux: " << made.err;
    // Every frame whole, from its header block (section type 0, the DSF bit of 625/50 in byte 3).
    const auto frames = framesWeRead(path, VideoSystem::Pal625_50);
    ASSERT_EQ(frames.size(), 50u);
    for (const auto& frame : frames)
        ASSERT_TRUE(frame.size() == dv::kPalFrameBytes && frame[0] == std::byte{0x1F} && frame[3] == std::byte{0xBF});
}

// dvgrab writes type-1 (AVI 1.0 index) and OpenDML type-2 files from a raw DV stream.
TEST(PeerFilesWeRead, dvgrab_type1_and_opendml_type2_files)
{
    if (!hasTool("dvgrab") || !hasTool("ffmpeg")) GTEST_SKIP() << "dvgrab or ffmpeg is not installed";
    const auto raw = ffmpegDv(VideoSystem::Pal625_50);
    const auto rawFrames = splitFrames(readBytes(raw), VideoSystem::Pal625_50);
    const auto folder = freshTestFolder();
    for (const bool isType1 : {true, false}) {
        const std::string base = isType1 ? "type1-" : "type2-";
        const auto path = folder / (base + "001.avi");
        const std::string command = "cd " + shellQuote(folder.string()) + " && dvgrab -stdin -format " +
                                    (isType1 ? "dv1" : "dv2 -opendml") + " -size 0 " + base + " < " + shellQuote(raw.string());
        // dvgrab reading a file now and then waits for ever after its input ended, and on a busy
        // machine it drops frames as "incomplete", at times all but one: each try has a time
        // limit, and a file ffprobe finds fewer than 10 frames in is made again.
        std::string framesInFile;
        for (int attempt = 0; attempt < 3 && std::atoi(framesInFile.c_str()) < 10; ++attempt) {
            fs::remove(path);
            if (runShell(command, 30).exitCode != 0 || !fs::exists(path)) continue;
            framesInFile = runTool({"ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0", "-show_entries",
                                    "stream=nb_read_packets", "-of", "csv=p=0", path.string()}).out;
        }
        if (std::atoi(framesInFile.c_str()) < 10)
            GTEST_SKIP() << "dvgrab did not write 10 frames of " << path << " in three tries";
        auto avi = avi::OpenDVAvi(path.string());
        ASSERT_TRUE(avi) << avi.error();
        EXPECT_EQ(avi->streamInfo().fccType, isType1 ? avi::kInterleavedStream : avi::kVideoStream);
        if (!isType1) {
            EXPECT_EQ(avi->reader().indexSource(), avi::IndexSource::OpenDml);
        }
        // dvgrab passes frames through unchanged: every frame read is a frame of the raw file, in order.
        const auto frames = framesWeRead(path, VideoSystem::Pal625_50);
        EXPECT_EQ(std::to_string(frames.size()) + "\n", framesInFile) << "frames we read against ffprobe's count";
        auto next = rawFrames.begin();
        for (std::size_t i = 0; i < frames.size(); ++i) {
            next = std::find(next, rawFrames.end(), frames[i]);
            ASSERT_NE(next, rawFrames.end()) << "frame " << i << " is no frame of the raw file, or out of order";
            ++next;
        }
    }
}

// ---- Peers read what we wrote ----

// ffprobe, MediaInfo and GStreamer's avidemux read each file of our writer: the stream, the frames
// and their duration (25 frames last 1 s in PAL, 25 x 1001 / 30000 s in NTSC), the sound of type 2.
TEST(PeersReadOurFiles, ffprobe_mediainfo_and_gstreamer_read_every_file_we_wrote)
{
    const bool hasFfprobe = hasTool("ffprobe"), hasMediainfo = hasTool("mediainfo"), hasGst = hasTool("gst-launch-1.0");
    if (!hasFfprobe && !hasMediainfo && !hasGst) GTEST_SKIP() << "no peer is installed";
    for (const auto& file : ourFiles()) {
        SCOPED_TRACE(file.path.filename().string());
        const bool isType2 = file.type == avi::DvAviType::Type2Separate;
        const std::string height = isPal(file.system) ? "576" : "480";
        if (hasFfprobe) {
            const ToolResult probed = runTool({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                               "-show_entries", "stream=codec_name,height,nb_read_frames:format=duration",
                                               "-of", "default=nw=1", file.path.string()});
            EXPECT_EQ(probed.out + probed.err, "codec_name=dvvideo\nheight=" + height + "\nnb_read_frames=25\nduration=" +
                                                   (isPal(file.system) ? "1.000000" : "0.834167") + "\n");
        }
        if (hasMediainfo) {
            EXPECT_EQ(runTool({"mediainfo", "--Inform=Video;%Format% %FrameCount% %Width%x%Height%", file.path.string()}).out,
                      "DV 25 720x" + height + "\n");
            EXPECT_EQ(runTool({"mediainfo", "--Inform=Audio;%Format% %SamplingRate% %Channel(s)%", file.path.string()}).out,
                      "PCM 48000 2\n");  // type 1: the sound inside the frames
        }
        if (!hasGst) continue;
        const auto dvOut = file.path.string() + ".gst.dv";
        const auto pcmOut = file.path.string() + ".gst.pcm";
        std::vector<std::string> pipeline = {"gst-launch-1.0", "-q", "filesrc", "location=" + file.path.string(),
                                             "!", "avidemux", "name=d", "d.video_0", "!", "queue", "!", "filesink",
                                             "location=" + dvOut};
        if (isType2) pipeline.insert(pipeline.end(), {"d.audio_0", "!", "queue", "!", "filesink", "location=" + pcmOut});
        ASSERT_EQ(runTool(pipeline, {}, 60).exitCode, 0);
        EXPECT_TRUE(readBytes(dvOut) == joinFrames(file.frames)) << "every frame, unchanged";
        if (isType2) {
            EXPECT_TRUE(readBytes(pcmOut) == decodedPcm(file.frames, file.system));
        }
    }
}

// MediaInfo's DV analysis: "Errors_Stats" holds a record per frame ('&' between records, TABs
// between fields: frame, ..., time code, ..., recording date and time).
TEST(PeersReadOurFiles, mediainfo_reads_the_time_codes_and_dates_of_a_tape)
{
    if (!hasTool("mediainfo")) GTEST_SKIP() << "mediainfo is not installed";
    const auto tape = generateTape("scenes.avi", {"--frames", "30", "--start", "2004-07-14T18:03:09", "--timecode",
                                                  "00:12:31:04", "--jump", "20:+3600", "--no-timecode", "7",
                                                  "--no-date", "9"});
    const ToolResult analysis = runTool({"mediainfo", "--ParseSpeed=1", "--File_DvDif_Analysis=1", "-f", tape.string()});
    std::vector<std::string> records;
    for (const auto& line : splitLines(analysis.out)) {
        if (line.rfind("Errors_Stats ", 0) != 0 || line.find(": ") == std::string::npos) continue;
        for (const auto& record : splitFields(line.substr(line.find(": ") + 2), '&'))
            if (!record.empty()) records.push_back(record);
    }
    ASSERT_EQ(records.size(), 30u) << analysis.out;
    for (int i = 0; i < 30; ++i) {
        // Frame i: time code 00:12:31:04 + i frames at 25 a second; recorded 18:03:09 plus whole
        // seconds of frames, an hour later from frame 20 on.
        char timeCode[32];
        std::snprintf(timeCode, sizeof timeCode, "00:12:%02d:%02d", 31 + (4 + i) / 25, (4 + i) % 25);
        char recorded[48];
        std::snprintf(recorded, sizeof recorded, "2004-07-14 %02d:03:%02d", i >= 20 ? 19 : 18, 9 + i / 25);
        const auto& record = records[static_cast<std::size_t>(i)];
        EXPECT_EQ(record.find(timeCode) != std::string::npos, i != 7) << i << ": " << record;
        EXPECT_EQ(record.find(recorded) != std::string::npos, i != 9) << i << ": " << record;
    }
}

// ffmpeg's own DV frames with our sound in them: ffmpeg gives back the tone itself in 16 bits, its
// companded value in 12 bits (-32768 is the error code there).
TEST(PeersReadOurFiles, ffmpeg_decodes_the_sound_we_encoded)
{
    if (!hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const struct {
        VideoSystem system;
        std::uint32_t sampleRateHz;
        dv::AudioQuantisation quantisation;
    } cases[] = {
        {VideoSystem::Pal625_50, 48000, dv::AudioQuantisation::Linear16},
        {VideoSystem::Pal625_50, 44100, dv::AudioQuantisation::Linear16},
        {VideoSystem::Pal625_50, 32000, dv::AudioQuantisation::Nonlinear12},
        {VideoSystem::Ntsc525_60, 48000, dv::AudioQuantisation::Linear16},
        {VideoSystem::Ntsc525_60, 32000, dv::AudioQuantisation::Nonlinear12},
    };
    for (const auto& c : cases) {
        auto frames = splitFrames(readBytes(ffmpegDv(c.system)), c.system);
        std::vector<std::int16_t> expected;
        std::vector<std::int16_t> stereo;
        std::uint64_t first = 0;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const std::size_t count = dv::nominalAudioSamples(c.system, c.sampleRateHz, f);
            fillTone(stereo, count, first, c.sampleRateHz);
            first += count;
            ASSERT_TRUE(dv::encodeAudio(frames[f], c.system, c.sampleRateHz, c.quantisation, stereo));
            for (std::int16_t s : stereo) {
                if (s == -32768) s = -32767;
                expected.push_back(c.quantisation == dv::AudioQuantisation::Nonlinear12
                                       ? dv::expandFrom12Bit(dv::compressTo12Bit(s))
                                       : s);
            }
        }
        const auto dvPath = testPath("ours.dv");
        const auto pcm = testPath("ffmpeg.pcm");
        ASSERT_TRUE(writeBytes(dvPath, joinFrames(frames)));
        ASSERT_EQ(runTool({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "dv", "-i", dvPath.string(), "-map",
                           "0:a:0", "-f", "s16le", "-acodec", "pcm_s16le", pcm.string()})
                      .exitCode, 0);
        EXPECT_TRUE(samplesOf(readBytes(pcm)) == expected) << c.sampleRateHz;
    }
}

}  // namespace
}  // namespace vantrel::testsupport
