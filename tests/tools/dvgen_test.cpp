// SPDX-License-Identifier: GPL-3.0-or-later
// The DV fixture generator: its clocks, its command line, deterministic bytes, and peers that
// accept and read its files.
#include "tools/dvgen/command_line.h"
#include "tools/dvgen/frame_metadata.h"
#include "tools/dvgen/tape_generator.h"
#include "tools/peer_readings.h"
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vantrel::tests {
namespace {

using namespace vantrel::dvgen;

TEST(DvgenClocks, ntsc_time_code_counts_drop_frame_and_pal_wraps_at_midnight)
{
    TapeOptions ntsc;
    ntsc.system = dv::VideoSystem::Ntsc525_60;
    ntsc.timecode = {0, 0, 59, 28};
    const Timecode a = timecodeAt(ntsc, 2);  // ;00 and ;01 of minute 1 do not exist
    EXPECT_EQ((std::array{a.hours, a.minutes, a.seconds, a.frames}), (std::array{0, 1, 0, 2}));
    ntsc.timecode = {0, 9, 59, 29};
    const Timecode b = timecodeAt(ntsc, 1);  // every tenth minute keeps them
    EXPECT_EQ((std::array{b.hours, b.minutes, b.seconds, b.frames}), (std::array{0, 10, 0, 0}));
    ntsc.timecode = {0, 0, 0, 0};
    const Timecode c = timecodeAt(ntsc, 17982);  // ten minutes of drop-frame count
    EXPECT_EQ((std::array{c.hours, c.minutes, c.seconds, c.frames}), (std::array{0, 10, 0, 0}));

    TapeOptions pal;
    pal.timecode = {23, 59, 59, 24};
    const Timecode d = timecodeAt(pal, 1);
    EXPECT_EQ((std::array{d.hours, d.minutes, d.seconds, d.frames}), (std::array{0, 0, 0, 0}));
}

TEST(DvgenClocks, recording_clock_advances_with_the_frame_rate_and_jumps_at_scene_cuts)
{
    TapeOptions pal;
    pal.start = {2004, 2, 28, 23, 59, 59};
    pal.jumps = {{50, 3600}, {75, -7200}};
    EXPECT_EQ(recordedAt(pal, 24), (LocalDateTime{2004, 2, 28, 23, 59, 59}));
    EXPECT_EQ(recordedAt(pal, 25), (LocalDateTime{2004, 2, 29, 0, 0, 0}));   // a leap day
    EXPECT_EQ(recordedAt(pal, 50), (LocalDateTime{2004, 2, 29, 1, 0, 1}));
    EXPECT_EQ(recordedAt(pal, 75), (LocalDateTime{2004, 2, 28, 23, 0, 2}));
    TapeOptions ntsc;
    ntsc.system = dv::VideoSystem::Ntsc525_60;
    ntsc.start = {2004, 7, 14, 18, 3, 9};
    EXPECT_EQ(recordedAt(ntsc, 29).second, 9);
    EXPECT_EQ(recordedAt(ntsc, 30).second, 10);  // 30 frames last 1.001 s
    EXPECT_EQ(recordedAt(ntsc, 29999).second, recordedAt(ntsc, 0).second + 1000 - 960);  // 16:40 later
}

TEST(DvgenCommandLine, reads_every_option)
{
    auto command = parseDvgenArguments({"--system", "ntsc", "--type", "1", "--frames", "99", "--start",
                                        "1999-12-31T23:59:58", "--timecode", "01:02:03:04", "--jump", "10:-30",
                                        "--camera", "iris=9,ae=4,gain=2,wb=1,light=5,focus=0x85", "--camera",
                                        "20:gain=7", "--shutter-word", "5:0x84E0", "--no-camera", "3-4",
                                        "--damage", "62:7", "--subcode-slots", "ff,13,62,63,ff,ff", "--audio",
                                        "32k12", "-o", "x.avi"});
    ASSERT_TRUE(command.hasValue()) << command.error();
    const TapeOptions& o = command->options;
    EXPECT_EQ(o.system, dv::VideoSystem::Ntsc525_60);
    EXPECT_EQ(o.format, FileFormat::AviType1);
    EXPECT_EQ(o.frameCount, 99);
    EXPECT_EQ(o.start, (LocalDateTime{1999, 12, 31, 23, 59, 58}));
    EXPECT_EQ(o.timecode.frames, 4);
    ASSERT_EQ(o.jumps.size(), 1u);
    EXPECT_EQ(o.jumps[0].bySeconds, -30);
    EXPECT_EQ(cameraPack(cameraAt(o, 0)), (PackBytes{0x70, 0xC9, 0x42, 0x25, 0x85}));
    EXPECT_EQ(cameraAt(o, 20).gainCode, 7);
    EXPECT_EQ(cameraAt(o, 20).irisCode, 9) << "a change keeps the keys it does not name";
    EXPECT_EQ(shutterWordAt(o, 4), 0x0138);
    EXPECT_EQ(shutterWordAt(o, 5), 0x84E0);
    ASSERT_EQ(o.damagedPacks.size(), 1u);
    EXPECT_EQ(o.damagedPacks[0].packId, 0x62);
    EXPECT_EQ(o.subcodeSlots[7], 0x13) << "six IDs serve both subcode blocks";
    EXPECT_EQ(o.audio, AudioFormat::Pcm32k12);
    EXPECT_EQ(command->outputPath, "x.avi");
}

TEST(DvgenCommandLine, refuses_bad_values_naming_the_option)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--system", "secam", "-o", "x"}, "--system"},
        {{"--start", "2004-07-14 18:03", "-o", "x"}, "--start"},
        {{"--camera", "iris=64", "-o", "x"}, "--camera"},
        {{"--whatever", "1", "-o", "x"}, "--whatever"},
        {{"--format", "dv", "--type", "1", "-o", "x"}, "--type"},
        {{"--frames", "3"}, "-o FILE"},
    };
    for (const auto& [arguments, named] : cases) {
        auto command = parseDvgenArguments(arguments);
        ASSERT_FALSE(command.hasValue()) << named;
        EXPECT_NE(command.error().find(named), std::string::npos) << command.error();
    }
    TapeOptions options;
    options.timecode = {0, 1, 0, 0};
    options.system = dv::VideoSystem::Ntsc525_60;
    EXPECT_FALSE(validate(options).hasValue()) << "00:01:00;00 does not exist in drop-frame counting";
    options = {};
    options.cameraVauxSlot = 9;
    EXPECT_FALSE(validate(options).hasValue()) << "slot 9 holds the video source pack";
}

TEST(DvgenOutput, same_options_give_the_same_bytes_in_the_file_and_in_memory)
{
    const std::vector<std::string> arguments = {"--format", "dv", "--system", "ntsc", "--frames", "12", "--jump",
                                                "6:+5", "--audio", "44.1k"};
    const std::string first = generateTape("same-a.dv", arguments);
    const std::string second = generateTape("same-b.dv", arguments);
    const std::string bytes = readTextFile(first);
    ASSERT_EQ(bytes.size(), 12u * 120000u);
    EXPECT_TRUE(bytes == readTextFile(second));

    auto all = arguments;
    all.insert(all.end(), {"-o", first});
    auto parsed = parseDvgenArguments(all);
    ASSERT_TRUE(parsed.hasValue());
    auto generator = TapeGenerator::create(parsed->options);
    ASSERT_TRUE(generator.hasValue()) << generator.error();
    std::vector<std::byte> frame(generator->frameBytes());
    ASSERT_TRUE(generator->renderFrame(7, frame).hasValue());
    EXPECT_EQ(std::memcmp(frame.data(), bytes.data() + 7 * 120000, frame.size()), 0);
    // Frames 0 and 25 show the same picture but differ in their metadata and sound.
    EXPECT_NE(std::memcmp(bytes.data(), bytes.data() + 7 * 120000, 120000), 0);
}

class DvgenPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!toolExists("ffprobe") || !toolExists("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    }
};

TEST_F(DvgenPeers, ffmpeg_reads_picture_sound_and_time_code_of_every_file_kind)
{
    struct Kind {
        std::vector<std::string> arguments;
        std::string size;
        std::string sampleRate;
        std::string timecode;
    };
    const std::vector<Kind> kinds = {
        {{"--type", "2", "--system", "pal", "--audio", "48k", "--timecode", "00:12:31:04"}, "720x576", "48000",
         "00:12:31:04"},
        {{"--type", "1", "--system", "ntsc", "--audio", "32k", "--timecode", "01:00:00:00"}, "720x480", "32000",
         "01:00:00;00"},
        {{"--format", "dv", "--system", "pal", "--audio", "32k12", "--timecode", "10:00:00:00"}, "720x576", "32000",
         "10:00:00:00"},
    };
    int index = 0;
    for (const Kind& kind : kinds) {
        auto arguments = kind.arguments;
        arguments.insert(arguments.end(), {"--frames", "30"});
        const std::string path = generateTape("peer-kind-" + std::to_string(index++) + ".avi", arguments);

        const CommandResult info = runCommand({"ffprobe", "-v", "error", "-show_entries",
                                               "stream=codec_name,width,height,sample_rate:stream_tags=timecode:"
                                               "format_tags=timecode",
                                               "-of", "default=noprint_wrappers=1", path});
        ASSERT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find("codec_name=dvvideo"), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("width=" + kind.size.substr(0, 3)), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("height=" + kind.size.substr(4)), std::string::npos) << info.out;
        EXPECT_NE(info.out.find("sample_rate=" + kind.sampleRate), std::string::npos) << info.out;
        const CommandResult decoded = runCommand({"ffmpeg", "-v", "error", "-i", path, "-f", "null", "-"});
        EXPECT_EQ(decoded.exitCode, 0);
        EXPECT_EQ(decoded.err, "") << path;
        // Sound is a tone, not silence: ffmpeg measures its level.
        const CommandResult level =
            runCommand({"ffmpeg", "-hide_banner", "-i", path, "-map", "0:a:0", "-af", "volumedetect", "-f", "null", "-"});
        const auto at = level.err.find("max_volume: ");
        ASSERT_NE(at, std::string::npos) << level.err;
        EXPECT_NEAR(std::stod(level.err.substr(at + 12)), -10.5, 1.5) << path;
        if (kind.arguments[0] == "--format") {
            EXPECT_NE(info.out.find("timecode=" + kind.timecode), std::string::npos) << info.out;
        }
    }
}

}  // namespace
}  // namespace vantrel::tests
