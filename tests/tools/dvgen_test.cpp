// SPDX-License-Identifier: GPL-3.0-or-later
// The DV fixture generator: its clocks, its command line, deterministic bytes, the camcorder's
// subcode layout, and peers that accept and read its files.
#include "tools/dvgen/command_line.h"
#include "tools/dvgen/frame_metadata.h"
#include "tools/dvgen/tape_generator.h"
#include "tools/peer_readings.h"
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace vantrel::tests {
namespace {

using namespace vantrel::dvgen;

// Frame `frameIndex` of the tape the arguments describe, rendered in this process.
std::vector<std::byte> renderedFrame(std::vector<std::string> arguments, std::int64_t frameIndex)
{
    arguments.insert(arguments.end(), {"-o", "unused.dv"});
    auto parsed = parseDvgenArguments(arguments);
    EXPECT_TRUE(parsed.hasValue()) << (parsed ? "" : parsed.error());
    if (!parsed) return {};
    auto generator = TapeGenerator::create(parsed->options);
    EXPECT_TRUE(generator.hasValue()) << (generator ? "" : generator.error());
    if (!generator) return {};
    std::vector<std::byte> frame(generator->frameBytes());
    EXPECT_TRUE(generator->renderFrame(frameIndex, frame).hasValue());
    return frame;
}

std::uint8_t subcodePackId(const std::vector<std::byte>& frame, std::size_t sequence, std::size_t block,
                           std::size_t slot)
{
    return std::to_integer<std::uint8_t>(frame.at(dv::subcodePackOffset(sequence, block, slot)));
}

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
        {{"--date-from-sequence", "-1", "-o", "x"}, "--date-from-sequence"},
        {{"--camcorder-layout=yes", "-o", "x"}, "--camcorder-layout"},
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

TEST(DvgenCommandLine, date_sequence_may_reach_the_sequence_count_of_the_system_but_not_beyond)
{
    TapeOptions options;
    options.dateFirstSequence = 12;  // no date or time in the subcode at all
    EXPECT_TRUE(validate(options).hasValue());
    options.dateFirstSequence = 13;
    EXPECT_FALSE(validate(options).hasValue());
    options.system = dv::VideoSystem::Ntsc525_60;
    options.dateFirstSequence = 10;
    EXPECT_TRUE(validate(options).hasValue());
    options.dateFirstSequence = 11;
    EXPECT_FALSE(validate(options).hasValue());

    // The tool refuses it as a usage error and writes nothing.
    const std::string path = testDataPath("date-beyond-frame.dv");
    std::filesystem::remove(path);
    const CommandResult refused = runCommand(
        {VANTREL_DVGEN_PATH, "--format", "dv", "--system", "ntsc", "--date-from-sequence", "11", "-o", path});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("0 to 10"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(DvgenCommandLine, camcorder_layout_follows_the_system_given_anywhere_and_the_later_option_counts)
{
    const auto firstDateSequence = [](const std::vector<std::string>& arguments) {
        auto all = arguments;
        all.insert(all.end(), {"-o", "x"});
        auto command = parseDvgenArguments(all);
        EXPECT_TRUE(command.hasValue()) << (command ? "" : command.error());
        return command ? command->options.dateFirstSequence : -1;
    };
    EXPECT_EQ(firstDateSequence({"--camcorder-layout"}), 6);
    EXPECT_EQ(firstDateSequence({"--camcorder-layout", "--system", "ntsc"}), 5);
    EXPECT_EQ(firstDateSequence({"--camcorder-layout", "--date-from-sequence", "2"}), 2);
    EXPECT_EQ(firstDateSequence({"--date-from-sequence=2", "--system", "ntsc", "--camcorder-layout"}), 5);
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

TEST(DvgenOutput, camcorder_layout_leaves_only_the_date_and_time_subcode_slots_of_the_first_half_empty)
{
    struct System {
        std::string name;
        std::size_t sequences;
        std::size_t firstDateSequence;
    };
    for (const System& system : {System{"pal", 12, 6}, System{"ntsc", 10, 5}}) {
        SCOPED_TRACE(system.name);
        const std::vector<std::string> arguments = {"--system", system.name, "--pictures", "1"};
        auto camcorderArguments = arguments;
        camcorderArguments.push_back("--camcorder-layout");
        const std::vector<std::byte> usual = renderedFrame(arguments, 27);
        const std::vector<std::byte> camcorder = renderedFrame(camcorderArguments, 27);
        ASSERT_EQ(camcorder.size(), system.sequences * dv::kSequenceBytes);
        ASSERT_EQ(usual.size(), camcorder.size());

        const std::size_t first = system.firstDateSequence;
        EXPECT_EQ(subcodePackId(camcorder, first - 1, 0, 0), 0x13) << "time code in every sequence";
        EXPECT_EQ(subcodePackId(camcorder, first - 1, 0, 1), 0xFF);
        EXPECT_EQ(subcodePackId(camcorder, first - 1, 1, 2), 0xFF);
        EXPECT_EQ(subcodePackId(camcorder, first, 0, 1), 0x62);
        EXPECT_EQ(subcodePackId(camcorder, first, 1, 2), 0x63);

        // Apart from those slots turned into filler, the frame is the usual one: time code,
        // VAUX, sound and picture alike.
        std::vector<std::byte> expected = usual;
        std::size_t emptiedSlots = 0;
        for (std::size_t s = 0; s < first; ++s) {
            for (std::size_t b = 0; b < dv::kSubcodeBlocks; ++b) {
                for (std::size_t k = 0; k < dv::kSubcodePacksPerBlock; ++k) {
                    const std::uint8_t id = subcodePackId(usual, s, b, k);
                    if (id != 0x62 && id != 0x63) continue;
                    const auto slot = expected.begin() + static_cast<std::ptrdiff_t>(dv::subcodePackOffset(s, b, k));
                    std::fill(slot, slot + dv::kPackBytes, std::byte{0xFF});
                    ++emptiedSlots;
                }
            }
        }
        EXPECT_EQ(emptiedSlots, first * 8);
        const auto at = std::mismatch(expected.begin(), expected.end(), camcorder.begin()).first;
        EXPECT_EQ(at, expected.end()) << "first difference at byte " << (at - expected.begin());
    }
}

TEST(DvgenOutput, probe_reads_the_same_dates_and_time_codes_from_the_camcorder_layout)
{
    for (const std::string system : {"pal", "ntsc"}) {
        SCOPED_TRACE(system);
        const std::vector<std::string> arguments = {"--system", system, "--frames", "30", "--pictures", "1",
                                                    "--audio", "none", "--jump", "20:+3600"};
        auto camcorderArguments = arguments;
        camcorderArguments.push_back("--camcorder-layout");
        const std::string usual = generateTape("usual-layout-" + system + ".avi", arguments);
        const std::string camcorder = generateTape("camcorder-layout-" + system + ".avi", camcorderArguments);
        const CommandResult usualProbe = runCommand({VANTREL_PROBE_PATH, usual}, {"TZ=UTC"});
        const CommandResult camcorderProbe = runCommand({VANTREL_PROBE_PATH, camcorder}, {"TZ=UTC"});
        ASSERT_EQ(camcorderProbe.exitCode, 0) << camcorderProbe.err;
        const std::vector<std::string> lines = splitLines(camcorderProbe.out);
        ASSERT_EQ(lines.size(), 30u);
        EXPECT_NE(lines[0].find("\t14.07.2004 18:03:09 Frame 0 "), std::string::npos) << lines[0];
        EXPECT_NE(lines[20].find("\t14.07.2004 19:03:09 Frame 20 "), std::string::npos) << lines[20];
        EXPECT_EQ(lines[29].find("TimeCode --"), std::string::npos) << lines[29];
        EXPECT_EQ(camcorderProbe.out, usualProbe.out);
    }
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
