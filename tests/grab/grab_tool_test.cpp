// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-grab: the same bitmap bytes as the window's Capture bitmap button for the same frame,
// and the command line's refusals.
#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "grab/frame_grabber.h"
#include "panel/info_panel_picture.h"
#include "support/run_tool.h"
#include "support/scratch_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>
#include <memory>

namespace vantrel::grab {
namespace {

namespace fs = std::filesystem;
using testsupport::readBytes;
using testsupport::runTool;

// What the window does on Capture bitmap while it shows frame n: the panel was drawn by
// ShowAnalysedFrame for every frame from 0 to n into the panel picture of the window's size,
// and the grab is at the play position where frame n begins.
GrabResult grabLikeTheButton(const fs::path& tape, long frame, const fs::path& chosen)
{
    auto opened = avi::OpenDVAvi(tape.string());
    EXPECT_TRUE(opened);
    if (!opened) return {};
    const bool isPal = opened->IsPAL();
    avi::AnalysisThread analysis;
    analysis.start(std::make_shared<const avi::DvAvi>(std::move(*opened)));
    panel::InfoPanelPicture infoBitmap(QSize(360, 123));  // 76 dialog units × 1.625, rounded down
    dv::InfoLineFormatter formatter(&infoBitmap);
    for (long shown = 0; shown <= frame; ++shown) analysis.ShowAnalysedFrame(shown, formatter);
    const std::int64_t playPosition = isPal ? frame * 400'000 : (frame * 1001 * 10'000'000LL + 29'999) / 30'000;
    return GrabFrames(tape.string(), playPosition, infoBitmap.picture(), [&] { return chosen.string(); });
}

TEST(GrabTool, writes_the_same_bytes_as_the_window_button_for_the_same_frame)
{
    testsupport::freshTestFolder();  // no bitmap of an earlier run
    const fs::path pal =
        testsupport::generateTape("tool-pal.avi", {"--frames", "40", "--pictures", "40", "--shutter", "10:500"});
    const fs::path ntsc = testsupport::generateTape(
        "tool-ntsc.dv", {"--system", "ntsc", "--format", "dv", "--frames", "60", "--pictures", "60", "--no-shutter", "40-50"});
    const struct {
        const char* name;
        fs::path tape;
        std::vector<std::string> options;
        long frameShown;  // the frame the window shows at that position
    } cases[] = {
        {"pal_frame_option", pal, {"--frame", "23"}, 23},
        {"pal_first_frame", pal, {}, 0},
        // 1.47 s = 1470 ms: frame 44 by the player's 33.3333 ms, inside frame 44 (1468.1 .. 1501.5 ms).
        {"ntsc_raw_at_seconds", ntsc, {"--at", "1.47"}, 44},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path bitmap = testsupport::testPath(std::string(c.name) + "-tool.bmp");
        std::vector<std::string> command{VANTREL_GRAB_PATH};
        command.insert(command.end(), c.options.begin(), c.options.end());
        command.insert(command.end(), {c.tape.string(), bitmap.string()});
        const auto tool = runTool(command);
        ASSERT_EQ(tool.exitCode, 0) << tool.err;
        EXPECT_EQ(tool.out, "Grabbing bitmaps from " + c.tape.string() + ".\r\nSample grabbing complete.\r\n");

        const GrabResult button = grabLikeTheButton(c.tape, c.frameShown, testsupport::testPath(std::string(c.name) + "-button"));
        ASSERT_EQ(button.outcome, GrabOutcome::Saved) << button.message;
        const auto toolBytes = readBytes(bitmap);
        ASSERT_FALSE(toolBytes.empty());
        EXPECT_TRUE(toolBytes == readBytes(button.bitmapPath)) << "the tool's bitmap differs from the button's";
    }
}


TEST(GrabTool, refuses_what_it_cannot_grab_with_exit_status_2_and_writes_nothing)
{
    const std::string tape = testsupport::generateTape("tool-refusals.dv", {"--format", "dv", "--frames", "8"});
    const test::ScratchDir scratch("grab-tool-refusal");
    const std::string dir = scratch.path().string(), out = dir + "/out.bmp";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string output;  // the start of standard output (exit 0) or of standard error
    } cases[] = {
        {"help", {"--help"}, 0, "Usage: vantrel-grab [--frame N | --at SECONDS] FILE OUT.bmp\n"},
        {"unknown_option", {"--size", "2", tape, out}, 2, "vantrel-grab: unknown option --size"},
        {"frame_and_time", {"--frame", "1", "--at", "1", tape, out}, 2, "vantrel-grab: give --frame or --at once"},
        {"frame_past_the_end", {"--frame", "8", tape, out}, 2, "vantrel-grab: " + tape + ": no frame 8 (the file has 8)"},
        {"missing_file", {dir + "/nothing.dv", out}, 2, "vantrel-grab: " + dir + "/nothing.dv: "},
        {"unwritable_bitmap", {tape, dir + "/missing/out.bmp"}, 2,
         "vantrel-grab: " + dir + "/missing/out.bmp: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> command{VANTREL_GRAB_PATH};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        const auto result = runTool(command);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE((c.exitCode == 0 ? result.out : result.err).starts_with(c.output)) << result.err;
        EXPECT_TRUE(fs::is_empty(dir));
    }
}

}  // namespace
}  // namespace vantrel::grab
