// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe on crafted and careless input: damaged tapes, lying headers, odd names, a full
// disk, FIFOs, other video. It must never hang, crash or give a silent wrong answer.
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <regex>
#include <sys/stat.h>

namespace vantrel::tests {
namespace {

using testsupport::readText;
using testsupport::runShell;
using testsupport::runTool;
using testsupport::splitLines;
using testsupport::testPath;
using testsupport::ToolResult;

constexpr std::size_t kPalFrame = 144000;

std::string tape(const std::string& name, std::vector<std::string> arguments)
{
    const auto path = testPath(name).string();
    arguments.insert(arguments.begin(), testsupport::dvgenPath());
    arguments.insert(arguments.end(), {"-o", path});
    const auto made = runTool(arguments);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return path;
}

ToolResult probe(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), testsupport::probePath());
    return runTool(arguments, {"TZ=UTC"}, 60);
}

std::string writeCopy(const std::string& name, const std::string& bytes)
{
    const auto path = testPath(name).string();
    EXPECT_TRUE(testsupport::writeBytes(path, std::as_bytes(std::span(bytes.data(), bytes.size()))));
    return path;
}

void putU32(std::string& bytes, std::size_t offset, std::uint32_t value) { std::memcpy(&bytes[offset], &value, 4); }

// Offsets of the payloads of the DV frame chunks of a dvgen tape.
std::vector<std::size_t> framePayloads(const std::string& bytes, std::uint32_t frameBytes = kPalFrame)
{
    std::string header = "00dc    ";
    std::memcpy(&header[4], &frameBytes, 4);
    std::vector<std::size_t> offsets;
    for (auto at = bytes.find(header); at != std::string::npos; at = bytes.find(header, at + 8)) offsets.push_back(at + 8);
    return offsets;
}

// Damage to a tape that the probe must name while it still reads every frame as the intact tape.
TEST(ProbeHostileFiles, damage_the_reader_works_around_is_named_and_the_frames_stay_right)
{
    const std::string pal = tape("pal.avi", {"--frames", "20"});
    const std::string ntsc = tape("ntsc.avi", {"--system", "ntsc", "--frames", "12", "--audio", "none"});
    struct Case {
        const char* name;
        const std::string* source;
        std::function<void(std::string&)> damage;
        const char* named;
    };
    const Case cases[] = {
        {"opendml_base_off_by_one", &pal,
         [](std::string& b) {
             const auto base = b.find("ix00") + 8 + 12;
             std::uint64_t value = 0;
             std::memcpy(&value, &b[base], 8);
             ++value;
             std::memcpy(&b[base], &value, 8);
         },
         "not used: the OpenDML index"},
        {"rate_zero", &pal, [](std::string& b) { putU32(b, b.find("strh") + 8 + 24, 0); }, "declares no frame rate"},
        {"ntsc_declared_at_25", &ntsc,
         [](std::string& b) {
             putU32(b, b.find("strh") + 8 + 20, 1);
             putU32(b, b.find("strh") + 8 + 24, 25);
         },
         "DIF headers say NTSC"},
        {"suggested_buffer_1000", &pal, [](std::string& b) { putU32(b, b.find("strh") + 8 + 36, 1000); }, nullptr},
        {"junk_avix_flood", &pal,
         [](std::string& b) {
             for (int i = 0; i < 5000; ++i) b += std::string("RIFF\x04\0\0\0AVIX", 12);
         },
         "4990 more notes"},
    };
    for (const auto& c : cases) {
        const auto intact = probe({*c.source});
        ASSERT_EQ(intact.exitCode, 0) << intact.err;
        std::string bytes = readText(*c.source);
        c.damage(bytes);
        const auto damaged = probe({writeCopy(std::string(c.name) + ".avi", bytes)});
        EXPECT_EQ(damaged.out, intact.out) << c.name << ": every frame as on the intact tape";
        if (c.named == nullptr) {
            EXPECT_EQ(damaged.exitCode, 0) << c.name << ": " << damaged.err;
            continue;
        }
        EXPECT_EQ(damaged.exitCode, 1) << c.name;
        EXPECT_NE(damaged.err.find(c.named), std::string::npos) << c.name << ": " << damaged.err;
        EXPECT_LE(splitLines(damaged.err).size(), 11u) << c.name << ": notes are capped";
    }
}

// A frame that is not DV (zeros, fillers, garbage) is damaged: named, flagged in JSON, exit 1.
TEST(ProbeHostileFiles, frames_without_a_dif_header_are_named_and_flagged)
{
    const std::string pal = tape("pal.avi", {"--frames", "6"});
    std::mt19937 random(5);
    for (const char fill : {'\0', '\xFF', 'r'}) {
        std::string bytes = readText(pal);
        const auto frames = framePayloads(bytes);
        ASSERT_EQ(frames.size(), 6u);
        for (std::size_t i = 0; i < kPalFrame; ++i) {
            bytes[frames[3] + i] = fill == 'r' ? static_cast<char>(random()) : fill;
        }
        const auto path = writeCopy("bad_frame.avi", bytes);
        const auto text = probe({path});
        EXPECT_EQ(text.exitCode, 1);
        EXPECT_EQ(text.err, "vantrel-probe: " + path + ": frame 3 does not begin with a DIF header block (damaged)\n");
        const auto json = probe({"--json", path});
        const auto lines = splitLines(json.out);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_NE(lines[3].find("\"error\":\"does not begin with a DIF header block (damaged)\""), std::string::npos)
            << lines[3];
        EXPECT_NE(lines[2].find("\"error\":null"), std::string::npos) << lines[2];
    }
}

// Random bytes over the packs of every sequence: whatever the probe shows is a real time and date.
TEST(ProbeHostileFiles, random_metadata_never_gives_an_impossible_time_code_or_date)
{
    const std::string pal = tape("pal.avi", {"--frames", "40"});
    std::string bytes = readText(pal);
    std::mt19937 random(2026);
    for (const auto frame : framePayloads(bytes)) {
        for (std::size_t s = 0; s < 12; ++s) {
            for (std::size_t block = 1; block <= 5; ++block) {
                const std::size_t at = frame + s * 12000 + block * 80;
                for (std::size_t i = 3; i < 80; ++i) bytes[at + i] = static_cast<char>(random());
            }
        }
    }
    const auto result = probe({"--json", writeCopy("random_packs.avi", bytes)});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::regex timecode(R"re("timecode":(null|"([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]:([01][0-9]|2[0-4])"))re");
    const std::regex recorded(R"re("recorded":(null|"\d{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01])T([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]"))re");
    const auto lines = splitLines(result.out);
    ASSERT_EQ(lines.size(), 40u);
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_search(line, timecode)) << line;
        EXPECT_TRUE(std::regex_search(line, recorded)) << line;
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
            const auto result = runShell(std::string(testsupport::probePath()) + " " + mode + " " + *file + " " + *file +
                                         " > /dev/full");
            EXPECT_EQ(result.exitCode, 2) << *file;
            EXPECT_EQ(result.err, "vantrel-probe: write error: No space left on device\n") << *file << " " << mode;
        }
    }
}

TEST(ProbeHostileFiles, a_fifo_is_refused_at_once_and_the_other_files_are_read)
{
    const std::string pal = tape("pal.avi", {"--frames", "5"});
    const auto fifo = testPath("fifo.avi").string();
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto result = probe({fifo, pal});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(splitLines(result.out).size(), 5u);
    EXPECT_EQ(result.err, "vantrel-probe: " + fifo + ": not a regular file (a FIFO)\n");
}

// A newline or a stray byte in a file name must not break the lines of stderr or the JSON.
TEST(ProbeHostileFiles, odd_file_names_are_quoted_on_stderr_and_escaped_in_json)
{
    const std::string pal = tape("pal.avi", {"--frames", "2"});
    const auto folder = testPath("names").string();
    ::mkdir(folder.c_str(), 0700);
    const std::string odd = folder + "/two\nlines\xff.avi";
    ASSERT_TRUE(testsupport::writeBytes(odd, testsupport::readBytes(pal)));
    const std::string notAvi = folder + "/tab\there.avi";
    ASSERT_TRUE(testsupport::writeBytes(notAvi, std::as_bytes(std::span("not a RIFF file", 15))));

    const auto json = probe({"--json", odd, notAvi});
    EXPECT_EQ(json.exitCode, 2);
    const auto lines = splitLines(json.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("{\"file\":\"" + folder + "/two\\u000alines\\ufffd.avi\",\"frame\":0,", 0), 0u) << lines[0];
    const auto errors = splitLines(json.err);
    ASSERT_EQ(errors.size(), 1u) << json.err;
    EXPECT_EQ(errors[0].rfind("vantrel-probe: $'" + folder + "/tab\\there.avi': ", 0), 0u) << errors[0];
}

// Other video in an AVI (here uncompressed frames that ffmpeg writes) is no DV: refused.
TEST(ProbeHostileFiles, an_avi_of_other_video_is_refused)
{
    if (!testsupport::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const auto raw = testPath("rawvideo.avi").string();
    const auto made = runTool({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=720x576:rate=25", "-t",
                               "0.2", "-c:v", "rawvideo", "-pix_fmt", "yuyv422", raw});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto result = probe({raw});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("holds no DV"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace vantrel::tests
