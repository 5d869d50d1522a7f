// SPDX-License-Identifier: GPL-3.0-or-later
// The DV test tape generator: its clocks, its command line, deterministic bytes and the
// camcorder's subcode layout.
#include "support/run_tool.h"
#include "support/test_files.h"
#include "tools/dvgen/command_line.h"
#include "tools/dvgen/frame_metadata.h"
#include "tools/dvgen/tape_generator.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>

namespace vantrel::testsupport {
namespace {

using namespace vantrel::dvgen;

TapeOptions parsed(std::vector<std::string> arguments)
{
    arguments.insert(arguments.end(), {"-o", "unused.dv"});
    auto command = parseDvgenArguments(arguments);
    EXPECT_TRUE(command.hasValue()) << (command ? "" : command.error());
    return command ? command->options : TapeOptions{};
}

TEST(DvgenClocks, time_code_counts_drop_frame_for_ntsc_and_wraps_at_midnight)
{
    struct Case {
        dv::VideoSystem system;
        Timecode start;
        std::int64_t frame;
        std::array<int, 4> expected;
    };
    const Case cases[] = {
        {dv::VideoSystem::Ntsc525_60, {0, 0, 59, 28}, 2, {0, 1, 0, 2}},   // ;00 and ;01 of minute 1 do not exist
        {dv::VideoSystem::Ntsc525_60, {0, 9, 59, 29}, 1, {0, 10, 0, 0}},  // every tenth minute keeps them
        {dv::VideoSystem::Ntsc525_60, {0, 0, 0, 0}, 17982, {0, 10, 0, 0}},  // ten minutes of drop-frame count
        {dv::VideoSystem::Pal625_50, {23, 59, 59, 24}, 1, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        TapeOptions options;
        options.system = c.system;
        options.timecode = c.start;
        const Timecode t = timecodeAt(options, c.frame);
        EXPECT_EQ((std::array{t.hours, t.minutes, t.seconds, t.frames}), c.expected) << c.frame;
    }
}

// Jumps of the clock are read in the golden probe listing and the capture job tests.
TEST(DvgenClocks, recording_clock_advances_with_the_frame_rate)
{
    TapeOptions pal;
    pal.start = {2004, 2, 28, 23, 59, 59};
    EXPECT_EQ(recordedAt(pal, 24), (LocalDateTime{2004, 2, 28, 23, 59, 59}));
    EXPECT_EQ(recordedAt(pal, 25), (LocalDateTime{2004, 2, 29, 0, 0, 0}));  // a leap day
    TapeOptions ntsc;
    ntsc.system = dv::VideoSystem::Ntsc525_60;
    ntsc.start = {2004, 7, 14, 18, 3, 9};
    EXPECT_EQ(recordedAt(ntsc, 29).second, 9);
    EXPECT_EQ(recordedAt(ntsc, 30).second, 10);  // 30 frames last 1.001 s
    EXPECT_EQ(recordedAt(ntsc, 29999).second, recordedAt(ntsc, 0).second + 1000 - 960);  // 16:40 later
}

// The options no other test reads back (the golden probe listing and the peer tests read the
// system, format, dates, time codes, jumps, missing and damaged packs and the sound formats).
TEST(DvgenCommandLine, reads_the_options_other_tests_do_not_read_back)
{
    const TapeOptions o = parsed({"--shutter", "100", "--system", "ntsc", "--camera",
                                  "iris=9,ae=4,gain=2,wb=1,light=5,focus=0x85", "--camera", "20:gain=7",
                                  "--shutter-word", "5:0x84E0", "--shutter", "8:250", "--subcode-slots",
                                  "ff,13,62,63,ff,ff"});
    EXPECT_EQ(cameraPack(cameraAt(o, 0)), (PackBytes{0x70, 0xC9, 0x42, 0x25, 0x85}));
    EXPECT_EQ(cameraAt(o, 20).gainCode, 7);
    EXPECT_EQ(cameraAt(o, 20).irisCode, 9) << "a change keeps the keys it does not name";
    // Speeds become words of the system given later: NTSC 15720 / 157 = 100.1, 15720 / 63 = 249.5.
    EXPECT_EQ(shutterWordAt(o, 4), 157);
    EXPECT_EQ(shutterWordAt(o, 5), 0x84E0);
    EXPECT_EQ(shutterWordAt(o, 8), 63);
    EXPECT_EQ(o.subcodeSlots[7], 0x13) << "six IDs serve both subcode blocks";
    // The camcorder layout follows the system given anywhere; the later of it and --date-from-sequence counts.
    EXPECT_EQ(parsed({"--camcorder-layout"}).dateFirstSequence, 6);
    EXPECT_EQ(parsed({"--camcorder-layout", "--system", "ntsc"}).dateFirstSequence, 5);
    EXPECT_EQ(parsed({"--camcorder-layout", "--date-from-sequence", "2"}).dateFirstSequence, 2);
    EXPECT_EQ(parsed({"--date-from-sequence=2", "--system", "ntsc", "--camcorder-layout"}).dateFirstSequence, 5);
}

// A value an option does not take is refused naming the option; values the options take that
// do not fit together are refused naming what is wrong.
TEST(DvgenCommandLine, refuses_bad_values_naming_the_option)
{
    const auto refusal = [](const std::vector<std::string>& arguments) -> std::string {
        auto command = parseDvgenArguments(arguments);
        if (!command) return command.error();
        auto valid = validate(command->options);
        return valid ? "" : valid.error();
    };
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--system", "secam", "-o", "x"}, "--system"},
        {{"--start", "2004-07-14 18:03", "-o", "x"}, "--start"},
        {{"--camera", "iris=64", "-o", "x"}, "--camera"},
        {{"--whatever", "1", "-o", "x"}, "--whatever"},
        {{"--format", "dv", "--type", "1", "-o", "x"}, "--type"},
        {{"--frames", "3"}, "-o FILE"},
        {{"--date-from-sequence", "-1", "-o", "x"}, "--date-from-sequence"},
        {{"--camcorder-layout=yes", "-o", "x"}, "--camcorder-layout"},
        {{"--shutter", "0", "-o", "x"}, "--shutter"},
        {{"--system", "ntsc", "--timecode", "00:01:00:00", "-o", "x"}, "time code"},  // no ;00 in drop-frame counting
        {{"--camera-slot", "0:9", "-o", "x"}, "VAUX slot"},                           // the video source pack's slot
        {{"--date-from-sequence", "13", "-o", "x"}, "0 to 12"},                       // PAL has 12 sequences
        {{"--system", "ntsc", "--date-from-sequence", "11", "-o", "x"}, "0 to 10"},
    };
    for (const auto& [arguments, named] : cases) {
        const auto said = refusal(arguments);
        EXPECT_NE(said.find(named), std::string::npos) << named << ": " << said;
    }
    EXPECT_EQ(refusal({"--date-from-sequence", "12", "-o", "x"}), "") << "no date or time in the subcode at all";

    // The tool refuses it as a usage error and writes nothing.
    const auto path = testPath("date-beyond-frame.dv");
    std::filesystem::remove(path);
    const ToolResult refused =
        runTool({dvgenPath(), "--format", "dv", "--system", "ntsc", "--date-from-sequence", "11", "-o", path.string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("0 to 10"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(DvgenOutput, same_options_give_the_same_bytes)
{
    const std::vector<std::string> arguments = {"--format", "dv", "--system", "ntsc", "--frames", "12", "--jump",
                                                "6:+5", "--audio", "44.1k"};
    const std::string bytes = readText(generateTape("same-a.dv", arguments));
    ASSERT_EQ(bytes.size(), 12u * 120000u);
    EXPECT_TRUE(bytes == readText(generateTape("same-b.dv", arguments)));
    EXPECT_NE(std::memcmp(bytes.data(), bytes.data() + 7 * 120000, 120000), 0) << "frames differ";
}

// Camcorders write the date and time subcode packs only in the second half of the sequences: the
// first half's slots hold filler, and a reader finds the same dates as in the usual layout.
TEST(DvgenOutput, camcorder_layout_empties_the_first_half_date_slots_and_reads_the_same)
{
    for (const auto& [system, firstDateSequence] : {std::pair<std::string, std::size_t>{"pal", 6}, {"ntsc", 5}}) {
        const std::vector<std::string> arguments = {"--system", system, "--frames", "30", "--pictures", "1",
                                                    "--audio", "none", "--jump", "20:+3600"};
        auto camcorderArguments = arguments;
        camcorderArguments.push_back("--camcorder-layout");
        auto generator = TapeGenerator::create(parsed(camcorderArguments));
        ASSERT_TRUE(generator.hasValue());
        std::vector<std::byte> frame(generator->frameBytes());
        ASSERT_TRUE(generator->renderFrame(27, frame).hasValue());
        const auto idAt = [&](std::size_t s, std::size_t b, std::size_t k) {
            return std::to_integer<int>(frame[dv::subcodePackOffset(s, b, k)]);
        };
        // Default slots 13,62,63,13,62,63 in both subcode blocks.
        EXPECT_EQ((std::array{idAt(firstDateSequence - 1, 0, 1), idAt(firstDateSequence - 1, 1, 5),
                              idAt(firstDateSequence, 0, 1), idAt(firstDateSequence, 1, 2)}),
                  (std::array{0xFF, 0xFF, 0x62, 0x63})) << system;
        const ToolResult usual = runTool({probePath(), generateTape("usual-" + system + ".avi", arguments).string()}, {"TZ=UTC"});
        const ToolResult camcorder =
            runTool({probePath(), generateTape("camcorder-" + system + ".avi", camcorderArguments).string()}, {"TZ=UTC"});
        ASSERT_EQ(camcorder.exitCode, 0) << camcorder.err;
        EXPECT_NE(camcorder.out.find("\t14.07.2004 19:03:09 Frame 20 "), std::string::npos) << camcorder.out;
        EXPECT_EQ(camcorder.out, usual.out);
    }
}

}  // namespace
}  // namespace vantrel::testsupport
