// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe as a user runs it, on good tapes and on crafted and careless input: listings,
// JSON, exit statuses and error lines of damaged, lying, unreadable and odd files. It must never
// hang, crash or give a silent wrong answer.
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sys/stat.h>

namespace vantrel::testsupport {
namespace {

constexpr std::size_t kPalFrame = 144000;

ToolResult probe(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), probePath());
    return runTool(arguments, {"TZ=UTC"}, 60);
}

std::string tape(const std::string& name, const std::vector<std::string>& arguments)
{
    return generateTape(name, arguments).string();
}

std::string writeCopy(const std::string& name, const std::string& bytes)
{
    const auto path = testPath(name).string();
    EXPECT_TRUE(writeBytes(path, std::as_bytes(std::span(bytes.data(), bytes.size()))));
    return path;
}

void putU32(std::string& bytes, std::size_t offset, std::uint32_t value) { std::memcpy(&bytes[offset], &value, 4); }

// 'strh', size, 'vids', handler, flags, priority and language, initial frames, then dwScale and dwRate.
std::size_t streamScaleOffset(const std::string& bytes) { return bytes.find("strh") + 8 + 20; }

// Offsets of the payloads of the DV frame chunks of a generated tape.
std::vector<std::size_t> framePayloads(const std::string& bytes, std::uint32_t frameBytes = kPalFrame)
{
    std::string header = "00dc    ";
    std::memcpy(&header[4], &frameBytes, 4);
    std::vector<std::size_t> offsets;
    for (auto at = bytes.find(header); at != std::string::npos; at = bytes.find(header, at + 8)) offsets.push_back(at + 8);
    return offsets;
}

// The golden listing is written from the options below, frame by frame (see the file's head).
TEST(ProbeListing, prints_every_frame_of_a_tape_with_scene_cuts_missing_and_damaged_packs)
{
    const auto path = tape(
        "scenes.avi", {"--system", "pal", "--type", "1", "--frames", "12", "--audio", "32k", "--start",
                       "2004-07-14T18:03:09", "--timecode", "00:12:31:04", "--jump", "5:+3600", "--jump", "9:-86400",
                       "--shutter", "100", "--shutter", "7:300", "--no-shutter", "0-1", "--no-shutter", "8",
                       "--camera", "iris=16", "--camera", "3:iris=40,gain=5,ae=3,wb=1,light=4", "--no-camera", "8",
                       "--no-timecode", "10", "--no-date", "11", "--no-time", "6", "--damage", "13:2-3", "--damage",
                       "62:4"});
    const ToolResult result = probe({path});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    expectMatchesGolden("probe_scenes_listing.txt", result.out);
}

// The last shutter speed shown stands in for frames without one, but never across files.
TEST(ProbeListing, the_shutter_memory_starts_afresh_with_each_file)
{
    const auto first = tape("shutter-a.avi", {"--frames", "2", "--shutter", "100"});
    const auto second = tape("shutter-b.avi", {"--frames", "2", "--no-shutter", "0"});
    const ToolResult result = probe({first, second});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[1].find(" Frame 1 Shutter 1/100 sec\t"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(" Frame 0 Shutter 1/-- sec\t"), std::string::npos) << lines[2];
}

// A newline or a stray byte in the file name must not break the lines: escaped in JSON.
TEST(ProbeListing, json_gives_one_object_per_frame_with_the_frame_values)
{
    const auto path = tape("two\nlines\xff.avi", {"--frames", "3", "--start", "2004-07-14T18:03:09", "--timecode", "00:12:31:04",
                                        "--camera", "iris=24,gain=4", "--shutter", "600", "--no-camera", "2",
                                        "--no-date", "2", "--no-timecode", "2", "--shutter-slot", "1", "--no-shutter",
                                        "2"});
    const ToolResult result = probe({"--json", path});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 3u);
    const std::string file = path.substr(0, path.rfind('/')) + "/two\\u000alines\\ufffd.avi";
    EXPECT_EQ(lines[1], "{\"file\":\"" + file +
                            "\",\"frame\":1,\"timecode\":\"00:12:31:05\",\"recorded\":\"2004-07-14T18:03:09\","
                            "\"shutter\":600,\"iris\":8.000,\"gain_db\":9,\"exposure\":\"Fully automatic\","
                            "\"white_balance_mode\":\"auto\",\"white_balance\":\"Sunlight\",\"focus\":\"auto\","
                            "\"error\":null}");
    EXPECT_EQ(lines[2], "{\"file\":\"" + file +
                            "\",\"frame\":2,\"timecode\":null,\"recorded\":null,\"shutter\":null,\"iris\":null,"
                            "\"gain_db\":null,\"exposure\":\"No data recorded\",\"white_balance_mode\":\"No data "
                            "recorded\",\"white_balance\":\"No data recorded\",\"focus\":\"No data recorded\","
                            "\"error\":null}");
}

// Exit 0 done, 1 read with damage, 2 a file could not be read at all; one error line per file
// ("vantrel-probe: FILE: reason"), and the other files are still read whole.
TEST(ProbeCommandLine, exit_status_and_error_lines)
{
    const auto pal = tape("pal.avi", {"--frames", "6"});
    const auto raw = tape("raw.dv", {"--format", "dv", "--frames", "3"});
    const auto missing = testPath("missing.avi").string();
    std::filesystem::remove(missing);
    const auto notRiff = writeCopy("tab\there.avi", "this is not a RIFF file at all\n");  // quoted on stderr
    const auto folder = testPath("adir").string();
    std::filesystem::create_directories(folder);
    const auto cutRaw = writeCopy("raw-cut.dv", readText(raw).substr(0, 72000));  // half a frame
    std::string bytes = readText(tape("rate.avi", {"--frames", "5"}));
    putU32(bytes, streamScaleOffset(bytes), 100);
    putU32(bytes, streamScaleOffset(bytes) + 4, 2997);
    const auto oddRate = writeCopy("rate-2997.avi", bytes);
    // NTSC frames (120000 bytes) whose DIF headers and stream both say PAL: every frame comes up short.
    bytes = readText(tape("ntsc.avi", {"--system", "ntsc", "--frames", "14", "--audio", "none"}));
    putU32(bytes, streamScaleOffset(bytes), 1);
    putU32(bytes, streamScaleOffset(bytes) + 4, 25);
    for (const auto at : framePayloads(bytes, 120000)) bytes[at + 3] = static_cast<char>(bytes[at + 3] | 0x80);
    const auto mislabelled = writeCopy("ntsc-as-pal.avi", bytes);
    bytes = readText(pal);  // the OpenDML index's base offset moved: idx1 serves, and the probe says so
    ++bytes[bytes.find("ix00") + 8 + 12];
    const auto wrongIndex = writeCopy("wrong-index.avi", bytes);
    const auto fifo = testPath("fifo.avi").string();
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::size_t outLines;
        std::size_t errLines;
        std::vector<std::string> errStarts;  // the first error lines begin so (and say more: a reason)
        std::string lastErr = {};
    };
    const auto said = [](const std::string& file) { return "vantrel-probe: " + file + ": "; };
    const Case cases[] = {
        {{"--frobnicate", "x.avi"}, 2, 0, 2, {"vantrel-probe: unknown option --frobnicate"}},
        {{}, 2, 0, 2, {"vantrel-probe: no file given"}},
        {{missing, pal, notRiff, cutRaw, raw, oddRate}, 2, 9, 4, {said(missing), "vantrel-probe: $'" +
         notRiff.substr(0, notRiff.rfind('/')) + "/tab\\there.avi': ", said(cutRaw), said(oddRate)}},
        {{mislabelled}, 1, 14, 11, {said(mislabelled) + "frame 0 has 120000 of 144000 bytes"},
         said(mislabelled) + "14 damaged frames in all (the first 10 named above)"},
        {{fifo, folder, "/dev/zero", pal}, 2, 6, 3, {said(fifo) + "not a regular file (a FIFO)",
         said(folder) + "not a regular file (a directory)", said("/dev/zero") + "not a regular file (a character device)"}},
        {{wrongIndex}, 1, 6, 1, {said(wrongIndex) + "not used: the OpenDML index"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "no arguments" : c.arguments[0]);
        const ToolResult result = probe(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(splitLines(result.out).size(), c.outLines);
        const auto errors = splitLines(result.err);
        ASSERT_EQ(errors.size(), c.errLines) << result.err;
        for (std::size_t i = 0; i < c.errStarts.size(); ++i) {
            EXPECT_TRUE(errors[i].starts_with(c.errStarts[i])) << errors[i];
            EXPECT_GT(errors[i].size(), said("").size() + 10) << "and a reason";
        }
        if (!c.lastErr.empty()) {
            EXPECT_EQ(errors.back(), c.lastErr);
        }
    }
    const ToolResult help = probe({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: vantrel-probe")) << help.out;
}

// A frame that is not DV (zeros, fillers, garbage) is damaged: named, flagged in JSON, exit 1.
TEST(ProbeHostileFiles, frames_without_a_dif_header_are_named_and_flagged)
{
    const std::string pal = tape("pal.avi", {"--frames", "6"});
    std::mt19937 random(5);
    for (const char fill : {'\0', '\xFF', 'r'}) {
        std::string bytes = readText(pal);
        const auto frame3 = framePayloads(bytes).at(3);
        for (std::size_t i = 0; i < kPalFrame; ++i) bytes[frame3 + i] = fill == 'r' ? static_cast<char>(random()) : fill;
        const auto path = writeCopy("bad_frame.avi", bytes);
        const auto text = probe({path});
        EXPECT_EQ(text.exitCode, 1);
        EXPECT_EQ(text.err, "vantrel-probe: " + path + ": frame 3 does not begin with a DIF header block (damaged)\n");
        const auto json = probe({"--json", path});
        EXPECT_EQ(json.exitCode, 1);
        const auto lines = splitLines(json.out);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_NE(lines[3].find("\"error\":\"does not begin with a DIF header block (damaged)\""), std::string::npos)
            << lines[3];
        EXPECT_NE(lines[3].find("\"timecode\":null,\"recorded\":null,"), std::string::npos) << "nothing invented";
        EXPECT_NE(lines[2].find("\"error\":null"), std::string::npos) << lines[2];
    }
}

// A full disk: the reason once, nothing more read, exit 2; whether the output fails at the last
// flush (a short output) or in the middle of a file (a long one).
TEST(ProbeHostileFiles, a_write_error_is_said_once_with_its_reason_and_stops_the_probe)
{
    const std::string small = tape("small.avi", {"--frames", "3"});
    const std::string large = tape("large.avi", {"--frames", "400", "--pictures", "1"});
    for (const auto* mode : {"", "--json"}) {
        for (const auto* file : {&small, &large}) {
            const auto result = runShell(probePath() + " " + mode + " " + *file + " " + *file + " > /dev/full");
            EXPECT_EQ(result.exitCode, 2) << *file;
            EXPECT_EQ(result.err, "vantrel-probe: write error: No space left on device\n") << *file << " " << mode;
        }
    }
}

}  // namespace
}  // namespace vantrel::testsupport
