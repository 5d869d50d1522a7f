// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-capture and vantrel-print as scripts run them: files and paths, exit statuses, messages,
// and the faults (a full disk, an interrupt, the tape failing) that must lose nothing written.
#include "support/run_tool.h"
#include "support/test_files.h"

#include "pipeline/job_test_support.h"
#include "support/scratch_dir.h"
#include "vantrel/version.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace vantrel::tests {
namespace {

namespace jt = pipeline::testing;
using jt::Frame;
using testsupport::hasTool;
using testsupport::shellQuote;
using testsupport::splitLines;
using CommandResult = testsupport::ToolResult;

std::vector<std::string> camcorderEnvironment(const std::string& tape, const char* speed = "max")
{
    return {"TZ=UTC0", "VANTREL_VIRTUAL_CAMCORDER=" + shellQuote(tape), std::string("VANTREL_VIRTUAL_SPEED=") + speed};
}

// The capture files of a folder, in name order, and whether a working (~) file is among them.
std::vector<std::string> captureFiles(const std::filesystem::path& folder, bool* hasWorkingFile = nullptr)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.find('~') != std::string::npos && hasWorkingFile != nullptr)
            *hasWorkingFile = true;
        if (name.ends_with(".avi"))
            names.push_back(entry.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The frames of the files together (that they are the tape's, in order, the job tests check).
std::size_t frameCount(const std::vector<std::string>& files)
{
    std::size_t count = 0;
    for (const std::string& file : files)
        count += jt::readDvFrames(file).size();
    return count;
}

bool waitForWorkingFile(const test::ScratchDir& dir)
{
    return jt::waitUntil([&] {
        bool hasWorkingFile = false;
        captureFiles(dir.path() / "out", &hasWorkingFile);
        return hasWorkingFile;
    });
}

TEST(JobTools, help_version_and_refusals)
{
    const test::ScratchDir dir("jobs-cli-usage");
    const std::string tape = jt::generateTape(dir.file("tape.dv"), {"--format", "dv", "--frames", "5"});
    const std::string clip = jt::generateTape(dir.file("clip.avi"), {"--frames", "5"});
    struct Case {
        std::vector<std::string> arguments;
        bool hasCamcorder;
        int exitCode;
        std::string outStart;
        std::string err;
    };
    const std::string capture = VANTREL_CAPTURE_PATH;
    const std::string print = VANTREL_PRINT_PATH;
    const std::vector<Case> cases = {
        {{capture, "--help"}, false, 0, "Usage: vantrel-capture", ""},
        {{print, "--help"}, false, 0, "Usage: vantrel-print", ""},
        {{capture, "--version"}, false, 0, "vantrel-capture " + std::string(kVersion) + "\n", ""},
        {{print, "--version"}, false, 0, "vantrel-print " + std::string(kVersion) + "\n", ""},
        {{capture, "--type", "3", "x"}, true, 2, "", "vantrel-capture: invalid value for --type: 3\nTry 'vantrel-capture --help'.\n"},
        {{capture, "--number-width", "10", "x"}, true, 2, "", "vantrel-capture: invalid value for --number-width: 10\nTry 'vantrel-capture --help'.\n"},
        {{capture}, true, 2, "", "vantrel-capture: no BASE given\nTry 'vantrel-capture --help'.\n"},
        {{capture, "--list-devices"}, true, 0, "Virtual DV camcorder (tape.dv)\n", ""},
        {{capture, "--list-devices"}, false, 2, "", "vantrel-capture: No video device found\n"},
        {{capture, "--device", "Nope", dir.file("x")}, true, 2, "", "vantrel-capture: Nope: Device not found\n"},
        {{capture, dir.file("missing/x")}, true, 2, "", "vantrel-capture: cannot write into " + dir.file("missing/") + ": No such file or directory\n"},
        {{print, dir.file("none.avi")}, true, 2, "", "vantrel-print: " + dir.file("none.avi") + ": file not found\n"},
        {{print}, true, 2, "", "vantrel-print: No file selected\n"},
        {{print, "--device", "Nope", clip}, true, 2, "", "vantrel-print: Device not found\n"},
    };
    for (const Case& c : cases) {
        const CommandResult result =
            testsupport::runTool(c.arguments, c.hasCamcorder ? camcorderEnvironment(tape) : std::vector<std::string>{"VANTREL_VIRTUAL_CAMCORDER="});
        EXPECT_EQ(result.exitCode, c.exitCode) << c.arguments.back() << "\n" << result.err;
        EXPECT_TRUE(result.out.starts_with(c.outStart)) << result.out;
        EXPECT_EQ(result.err, c.err);
    }
}

TEST(JobTools, capture_prints_each_file_as_it_is_closed)
{
    const test::ScratchDir dir("jobs-cli-capture");
    const std::string tape = jt::generateTape(dir.file("tape.avi"), {"--frames", "200", "--jump", "120:+600"});
    for (const std::string type : {"1", "2"}) {
        const std::filesystem::path out = dir.path() / ("type" + type);
        std::filesystem::create_directory(out);
        const CommandResult result =
            testsupport::runTool({VANTREL_CAPTURE_PATH, "--type", type, "--frames-per-file", "100", (out / "holiday.avi").string()},
                       camcorderEnvironment(tape));
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::vector<std::string> expected = {(out / "holiday.04-07-14_18-03.00.avi").string(),
                                                   (out / "holiday.04-07-14_18-03.01.avi").string(),
                                                   (out / "holiday.04-07-14_18-13.00.avi").string()};
        EXPECT_EQ(splitLines(result.out), expected);
        EXPECT_NE(result.err.find("Capturing...  (0 frames dropped)  0:00:08.0"), std::string::npos) << result.err;
        EXPECT_EQ(frameCount(expected), 200u);
        EXPECT_EQ(avi::OpenDVAvi(expected[0])->streamInfo().fccType, avi::makeFourCC(type == "2" ? "vids" : "iavs"));
    }
}

// A capture at the tape rate, interrupted in the middle of the tape, closes and names its file.
TEST(JobTools, an_interrupted_capture_closes_and_names_its_file_with_every_frame)
{
    const test::ScratchDir dir("jobs-cli-stopped");
    const std::string tape = jt::generateTape(dir.file("tape.dv"), {"--format", "dv", "--frames", "250"});
    std::filesystem::create_directory(dir.path() / "out");
    std::string line;
    for (const auto& assignment : camcorderEnvironment(tape, "tape"))
        line += assignment + " ";
    line += "exec " + shellQuote(VANTREL_CAPTURE_PATH) + " " + shellQuote(dir.file("out/cap")) + " > " +
            shellQuote(dir.file("capture.out")) + " 2> " + shellQuote(dir.file("capture.err"));
    const char* shell[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    struct Child {  // killed and reaped however the test ends
        pid_t pid = -1;
        ~Child()
        {
            if (pid > 0 && kill(pid, SIGKILL) == 0)
                waitpid(pid, nullptr, 0);
        }
    } capture;
    ASSERT_EQ(posix_spawn(&capture.pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(shell), environ), 0);
    ASSERT_TRUE(waitForWorkingFile(dir)) << "recording began";
    kill(capture.pid, SIGINT);
    int status = -1;
    ASSERT_TRUE(jt::waitUntil([&] { return waitpid(capture.pid, &status, WNOHANG) == capture.pid; }));
    capture.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testsupport::readText(dir.file("capture.err"));
    bool hasWorkingFile = false;
    const auto files = captureFiles(dir.path() / "out", &hasWorkingFile);
    EXPECT_FALSE(hasWorkingFile);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(splitLines(testsupport::readText(dir.file("capture.out"))), files);
    const std::size_t frames = frameCount(files);
    EXPECT_GT(frames, 0u);
    EXPECT_LT(frames, 250u) << "stopped in the middle of the tape";
}

TEST(JobTools, full_disk_ends_the_capture_keeping_what_was_written)
{
    if (!hasTool("prlimit"))
        GTEST_SKIP() << "prlimit (util-linux) is needed to limit the file size";
    const test::ScratchDir dir("jobs-cli-full");
    const std::string tape = jt::generateTape(dir.file("tape.dv"), {"--format", "dv", "--frames", "100"});
    std::filesystem::create_directory(dir.path() / "out");
    constexpr int kFileSizeLimit = 3'000'000;  // room for about 19 PAL frames
    const CommandResult result =
        testsupport::runTool({"prlimit", "--fsize=" + std::to_string(kFileSizeLimit), VANTREL_CAPTURE_PATH, "--type", "1",
                    dir.file("out/full")},
                   camcorderEnvironment(tape));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("vantrel-capture: "), std::string::npos);
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    bool hasWorkingFile = false;
    const auto files = captureFiles(dir.path() / "out", &hasWorkingFile);
    EXPECT_FALSE(hasWorkingFile);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(splitLines(result.out), files);
    const std::size_t frames = frameCount(files);
    EXPECT_GE(frames, 15u);
    EXPECT_LE(frames * 144000, static_cast<std::size_t>(kFileSizeLimit));
}

// The files reach the tape in the order given, not in name order.
TEST(JobTools, print_sends_the_files_in_order_to_the_tape)
{
    const test::ScratchDir dir("jobs-cli-print");
    const std::string one = jt::generateTape(dir.file("one.avi"), {"--frames", "30", "--timecode", "00:01:00:00"});
    const std::string two = jt::generateTape(dir.file("two.dv"), {"--format", "dv", "--frames", "20"});
    const std::string blank = dir.file("blank.dv");
    std::ofstream(blank, std::ios::binary);
    const CommandResult result = testsupport::runTool({VANTREL_PRINT_PATH, two, one}, camcorderEnvironment(blank));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("Finished.  0:00:02.0"), std::string::npos) << result.err;
    std::vector<Frame> expected = jt::readDvFrames(two);
    for (Frame& frame : jt::readDvFrames(one))
        expected.push_back(std::move(frame));
    jt::expectPrintedInOrder(jt::readRawDvFrames(blank), expected);
}

}  // namespace
}  // namespace vantrel::tests
