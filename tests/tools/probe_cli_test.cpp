// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe as a user runs it: the whole listing of a tape with scene cuts and damage, exit
// status and error lines of unreadable, non-DV, mislabelled and truncated files, JSON, options.
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace vantrel::testsupport {
namespace {

ToolResult probe(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), probePath());
    return runTool(arguments, {"TZ=UTC"});
}

std::string text(const std::filesystem::path& path) { return path.string(); }

void writeText(const std::filesystem::path& path, const std::string& bytes)
{
    writeBytes(path, {reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()});
}

// A copy of the AVI whose DV stream header claims rate / scale frames a second.
std::filesystem::path withFrameRate(const std::filesystem::path& path, const std::string& name, std::uint32_t scale,
                                    std::uint32_t rate)
{
    std::string bytes = readText(path);
    // 'strh', size, 'vids', handler, flags, priority and language, initial frames, dwScale, dwRate.
    const auto strh = bytes.find("strh");
    EXPECT_EQ(bytes.substr(strh + 8, 4), "vids");
    std::memcpy(bytes.data() + strh + 8 + 20, &scale, 4);
    std::memcpy(bytes.data() + strh + 8 + 24, &rate, 4);
    const auto copy = testPath(name);
    writeText(copy, bytes);
    return copy;
}

// The golden listing is written from the options below, frame by frame (see the file's head).
TEST(ProbeListing, prints_every_frame_of_a_tape_with_scene_cuts_missing_and_damaged_packs)
{
    const auto path = generateTape(
        "scenes.avi", {"--system", "pal", "--type", "1", "--frames", "12", "--audio", "32k", "--start",
                       "2004-07-14T18:03:09", "--timecode", "00:12:31:04", "--jump", "5:+3600", "--jump", "9:-86400",
                       "--shutter", "100", "--shutter", "7:300", "--no-shutter", "0-1", "--no-shutter", "8",
                       "--camera", "iris=16", "--camera", "3:iris=40,gain=5,ae=3,wb=1,light=4", "--no-camera", "8",
                       "--no-timecode", "10", "--no-date", "11", "--no-time", "6", "--damage", "13:2-3", "--damage",
                       "62:4"});
    const ToolResult result = probe({text(path)});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    expectMatchesGolden("probe_scenes_listing.txt", result.out);
}

TEST(ProbeCommandLine, unreadable_and_non_dv_files_get_one_error_line_each_and_the_rest_is_read)
{
    const auto good = generateTape("good.avi", {"--frames", "10"});
    const auto missing = testPath("missing.avi");
    std::filesystem::remove(missing);
    const auto notRiff = testPath("text.avi");
    writeText(notRiff, "this is not a RIFF file at all\n");
    const auto rawDv = generateTape("raw.dv", {"--format", "dv", "--frames", "3"});
    const auto cutRawDv = testPath("raw-cut.dv");  // the first half of a frame
    writeText(cutRawDv, readText(rawDv).substr(0, 72000));
    const auto odd = withFrameRate(generateTape("rate.avi", {"--frames", "5"}), "rate-2997.avi", 100, 2997);

    const ToolResult result =
        probe({text(missing), text(good), text(notRiff), text(cutRawDv), text(rawDv), text(odd)});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(splitLines(result.out).size(), 13u) << "the good AVI and raw DV files are still read whole";
    const auto errors = splitLines(result.err);
    ASSERT_EQ(errors.size(), 4u) << result.err;
    const std::filesystem::path named[] = {missing, notRiff, cutRawDv, odd};
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_EQ(errors[i].rfind("vantrel-probe: " + text(named[i]) + ": ", 0), 0u) << errors[i];
        EXPECT_GT(errors[i].size(), ("vantrel-probe: " + text(named[i]) + ": ").size() + 10) << "and a reason";
    }
}

TEST(ProbeCommandLine, short_frames_are_named_up_to_ten_then_counted)
{
    // NTSC frames (120000 bytes) whose DIF headers and stream both say PAL: every frame comes up short.
    const auto ntsc = generateTape("ntsc.avi", {"--system", "ntsc", "--frames", "14", "--audio", "none"});
    const auto mislabelled = text(withFrameRate(ntsc, "ntsc-as-pal.avi", 1, 25));
    std::string bytes = readText(mislabelled);
    const std::string chunkHeader = std::string("00dc") + std::string("\xC0\xD4\x01\x00", 4);  // 120000 bytes
    for (auto at = bytes.find(chunkHeader); at != std::string::npos; at = bytes.find(chunkHeader, at + 1)) {
        bytes[at + 8 + 3] = static_cast<char>(bytes[at + 8 + 3] | 0x80);  // the DSF bit: 625/50
    }
    writeText(mislabelled, bytes);
    const ToolResult result = probe({mislabelled});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(splitLines(result.out).size(), 14u);
    const auto errors = splitLines(result.err);
    ASSERT_EQ(errors.size(), 11u) << result.err;
    EXPECT_EQ(errors[0], "vantrel-probe: " + mislabelled + ": frame 0 has 120000 of 144000 bytes");
    EXPECT_EQ(errors[10], "vantrel-probe: " + mislabelled + ": 14 damaged frames in all (the first 10 named above)");
}

TEST(ProbeCommandLine, truncated_file_prints_the_frames_that_remain_and_reports_the_damage)
{
    const auto whole = generateTape("whole.avi", {"--frames", "40", "--jump", "20:+60"});
    const ToolResult full = probe({text(whole)});
    ASSERT_EQ(full.exitCode, 0) << full.err;
    const auto fullLines = splitLines(full.out);
    ASSERT_EQ(fullLines.size(), 40u);

    const std::string bytes = readText(whole);
    const auto cut = testPath("truncated.avi");
    writeText(cut, bytes.substr(0, bytes.size() * 6 / 10));
    const ToolResult result = probe({text(cut)});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("vantrel-probe: " + text(cut) + ": "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("scanning"), std::string::npos) << "the rebuilt index is noted: " << result.err;
    const auto lines = splitLines(result.out);
    EXPECT_GE(lines.size(), 20u);
    EXPECT_LE(lines.size(), 24u) << "no more frames than lie wholly in the first 60 %";
    for (std::size_t i = 0; i < lines.size() && i < fullLines.size(); ++i) EXPECT_EQ(lines[i], fullLines[i]) << i;
}

TEST(ProbeCommandLine, remembered_shutter_starts_afresh_with_each_file)
{
    const auto first = generateTape("shutter-a.avi", {"--frames", "3", "--shutter", "100"});
    const auto second = generateTape("shutter-b.avi", {"--frames", "3", "--shutter-slot", "1", "--no-shutter", "0-1"});
    const ToolResult result = probe({text(first), text(second)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3].rfind("0\t", 0), 0u) << "frame numbers restart: " << lines[3];
    EXPECT_NE(lines[2].find("Shutter 1/100 sec"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("Shutter 1/-- sec"), std::string::npos) << lines[3];
    EXPECT_NE(lines[5].find("Shutter 1/50 sec"), std::string::npos) << lines[5];
}

TEST(ProbeCommandLine, ntsc_tapes_show_the_shutter_speeds_the_camcorder_set)
{
    // 1/100 is the word 0x809D of an NTSC Sony Digital8; 1/60 and 1/250 as the generator makes them.
    const auto path = generateTape("ntsc-shutter.avi", {"--system", "ntsc", "--frames", "3", "--audio", "none",
                                                        "--shutter-word", "0x809D", "--shutter", "1:60", "--shutter",
                                                        "2:250"});
    const ToolResult result = probe({text(path)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find(" Frame 0 Shutter 1/100 sec\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(" Frame 1 Shutter 1/60 sec\t"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" Frame 2 Shutter 1/250 sec\t"), std::string::npos) << lines[2];
}

TEST(ProbeCommandLine, json_gives_one_object_per_frame_with_the_frame_values)
{
    const auto path = generateTape("json.avi", {"--frames", "3", "--start", "2004-07-14T18:03:09", "--timecode",
                                                "00:12:31:04", "--camera", "iris=24,gain=4", "--shutter", "600",
                                                "--no-camera", "2", "--no-date", "2", "--no-timecode", "2",
                                                "--shutter-slot", "1", "--no-shutter", "2"});
    const ToolResult result = probe({"--json", text(path)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1],
              "{\"file\":\"" + text(path) + "\",\"frame\":1,\"timecode\":\"00:12:31:05\",\"recorded\":\"2004-07-14T18:03:09\",\"shutter\":600,"
              "\"iris\":8.000,\"gain_db\":9,\"exposure\":\"Fully automatic\",\"white_balance_mode\":\"auto\","
              "\"white_balance\":\"Sunlight\",\"focus\":\"auto\",\"error\":null}");
    EXPECT_EQ(lines[2],
              "{\"file\":\"" + text(path) + "\",\"frame\":2,\"timecode\":null,\"recorded\":null,\"shutter\":null,\"iris\":null,\"gain_db\":null,"
              "\"exposure\":\"No data recorded\",\"white_balance_mode\":\"No data recorded\","
              "\"white_balance\":\"No data recorded\",\"focus\":\"No data recorded\",\"error\":null}");
}

TEST(ProbeCommandLine, help_and_bad_usage)
{
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string said;  // in stdout for --help, stderr otherwise
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: vantrel-probe"},
        {{"--frobnicate", "x.avi"}, 2, "unknown option --frobnicate"},
        {{}, 2, "no file given"},
    };
    for (const auto& c : cases) {
        const ToolResult result = probe(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.said;
        EXPECT_NE((c.exitCode == 0 ? result.out : result.err).find(c.said), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace vantrel::testsupport
