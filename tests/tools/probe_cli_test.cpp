// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe's exit status and error lines: unreadable, non-DV, truncated and several files.
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace vantrel::tests {
namespace {

CommandResult probe(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), VANTREL_PROBE_PATH);
    return runCommand(arguments, {"TZ=UTC"});
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A copy of the AVI whose DV stream header claims rate / scale frames a second.
std::string withFrameRate(const std::string& path, const std::string& name, std::uint32_t scale, std::uint32_t rate)
{
    std::string bytes = readTextFile(path);
    // 'strh', size, 'vids', handler, flags, priority and language, initial frames, dwScale, dwRate.
    const auto strh = bytes.find("strh");
    EXPECT_EQ(bytes.substr(strh + 8, 4), "vids");
    std::memcpy(bytes.data() + strh + 8 + 20, &scale, 4);
    std::memcpy(bytes.data() + strh + 8 + 24, &rate, 4);
    const std::string copy = testDataPath(name);
    writeBytes(copy, bytes);
    return copy;
}

TEST(ProbeCommandLine, unreadable_and_non_dv_files_get_one_error_line_each_and_the_rest_is_read)
{
    const std::string good = generateTape("cli-good.avi", {"--frames", "10"});
    const std::string missing = testDataPath("cli-missing.avi");
    std::filesystem::remove(missing);
    const std::string text = testDataPath("cli-text.avi");
    writeBytes(text, "this is not a RIFF file at all\n");
    const std::string rawDv = generateTape("cli-raw.dv", {"--format", "dv", "--frames", "3"});
    const std::string cutRawDv = testDataPath("cli-raw-cut.dv");  // the first half of a frame
    writeBytes(cutRawDv, readTextFile(rawDv).substr(0, 72000));

    const CommandResult result = probe({missing, good, text, cutRawDv, rawDv});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(splitLines(result.out).size(), 13u) << "the good AVI and raw DV files are still read whole";
    const auto errors = splitLines(result.err);
    ASSERT_EQ(errors.size(), 3u) << result.err;
    EXPECT_EQ(errors[0].rfind("vantrel-probe: " + missing + ": ", 0), 0u) << errors[0];
    EXPECT_EQ(errors[1].rfind("vantrel-probe: " + text + ": ", 0), 0u) << errors[1];
    EXPECT_EQ(errors[2].rfind("vantrel-probe: " + cutRawDv + ": ", 0), 0u) << errors[2];
    for (const auto& line : errors) EXPECT_GT(line.size(), std::string("vantrel-probe: ").size() + 40) << line;
}

TEST(ProbeCommandLine, avi_at_a_rate_neither_pal_nor_ntsc_is_refused)
{
    const std::string odd = withFrameRate(generateTape("cli-rate.avi", {"--frames", "5"}), "cli-rate-2997.avi", 100, 2997);

    const CommandResult result = probe({odd});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    const auto errors = splitLines(result.err);
    ASSERT_EQ(errors.size(), 1u) << result.err;
    EXPECT_EQ(errors[0].rfind("vantrel-probe: " + odd + ": ", 0), 0u) << errors[0];
}

TEST(ProbeCommandLine, short_frames_are_named_up_to_ten_then_counted)
{
    // NTSC frames (120000 bytes) whose DIF headers and stream both say PAL: every frame comes up short.
    const std::string ntsc = generateTape("cli-ntsc.avi", {"--system", "ntsc", "--frames", "14", "--audio", "none"});
    const std::string mislabelled = withFrameRate(ntsc, "cli-ntsc-as-pal.avi", 1, 25);
    std::string bytes = readTextFile(mislabelled);
    const std::string chunkHeader = std::string("00dc") + std::string("\xC0\xD4\x01\x00", 4);  // 120000 bytes
    for (auto at = bytes.find(chunkHeader); at != std::string::npos; at = bytes.find(chunkHeader, at + 1)) {
        bytes[at + 8 + 3] = static_cast<char>(bytes[at + 8 + 3] | 0x80);  // the DSF bit: 625/50
    }
    writeBytes(mislabelled, bytes);

    const CommandResult result = probe({mislabelled});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(splitLines(result.out).size(), 14u);
    const auto errors = splitLines(result.err);
    ASSERT_EQ(errors.size(), 11u) << result.err;
    EXPECT_EQ(errors[0], "vantrel-probe: " + mislabelled + ": frame 0 has 120000 of 144000 bytes");
    EXPECT_EQ(errors[10], "vantrel-probe: " + mislabelled + ": 14 damaged frames in all (the first 10 named above)");
}

TEST(ProbeCommandLine, truncated_file_prints_the_frames_that_remain_and_reports_the_damage)
{
    const std::string whole = generateTape("cli-whole.avi", {"--frames", "40", "--jump", "20:+60"});
    const CommandResult full = probe({whole});
    ASSERT_EQ(full.exitCode, 0) << full.err;
    const auto fullLines = splitLines(full.out);
    ASSERT_EQ(fullLines.size(), 40u);

    const std::string bytes = readTextFile(whole);
    const std::string cut = testDataPath("cli-truncated.avi");
    writeBytes(cut, bytes.substr(0, bytes.size() * 6 / 10));
    const CommandResult result = probe({cut});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("vantrel-probe: " + cut + ": "), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("scanning"), std::string::npos) << "the rebuilt index is noted: " << result.err;
    const auto lines = splitLines(result.out);
    EXPECT_GE(lines.size(), 20u);
    EXPECT_LT(lines.size(), 40u);
    for (std::size_t i = 0; i < lines.size() && i < fullLines.size(); ++i) {
        EXPECT_EQ(lines[i], fullLines[i]) << "frame " << i;
    }
}

TEST(ProbeCommandLine, remembered_shutter_starts_afresh_with_each_file)
{
    const std::string first = generateTape("cli-shutter-a.avi", {"--frames", "3", "--shutter", "100"});
    const std::string second =
        generateTape("cli-shutter-b.avi", {"--frames", "3", "--shutter-slot", "1", "--no-shutter", "0-1"});
    const CommandResult result = probe({first, second});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3].rfind("0\t", 0), 0u) << "frame numbers restart: " << lines[3];
    EXPECT_NE(lines[2].find("Shutter 1/100 sec"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("Shutter 1/-- sec"), std::string::npos) << lines[3];
    EXPECT_NE(lines[5].find("Shutter 1/50 sec"), std::string::npos) << lines[5];
}

TEST(ProbeCommandLine, json_gives_one_object_per_frame_with_the_frame_values)
{
    const std::string path = generateTape("cli-json.avi", {"--frames", "3", "--start", "2004-07-14T18:03:09",
                                                       "--timecode", "00:12:31:04", "--camera", "iris=24,gain=4",
                                                       "--shutter", "600", "--no-camera", "2", "--no-date", "2",
                                                       "--no-timecode", "2", "--shutter-slot", "1", "--no-shutter", "2"});
    const CommandResult result = probe({"--json", path});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1],
              "{\"file\":\"" + path + "\",\"frame\":1,\"timecode\":\"00:12:31:05\",\"recorded\":\"2004-07-14T18:03:09\",\"shutter\":600,"
              "\"iris\":8.000,\"gain_db\":9,\"exposure\":\"Fully automatic\",\"white_balance_mode\":\"auto\","
              "\"white_balance\":\"Sunlight\",\"focus\":\"auto\",\"error\":null}");
    EXPECT_EQ(lines[2],
              "{\"file\":\"" + path + "\",\"frame\":2,\"timecode\":null,\"recorded\":null,\"shutter\":null,\"iris\":null,\"gain_db\":null,"
              "\"exposure\":\"No data recorded\",\"white_balance_mode\":\"No data recorded\","
              "\"white_balance\":\"No data recorded\",\"focus\":\"No data recorded\",\"error\":null}");
}

TEST(ProbeCommandLine, help_and_bad_usage)
{
    const CommandResult help = probe({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: vantrel-probe"), std::string::npos);
    const CommandResult bad = probe({"--frobnicate", "x.avi"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown option --frobnicate"), std::string::npos);
    const CommandResult none = probe({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("no file given"), std::string::npos);
}

}  // namespace
}  // namespace vantrel::tests
