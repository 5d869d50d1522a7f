// SPDX-License-Identifier: GPL-3.0-or-later
// The window's Capture and Print-to-tape modes offscreen, on virtual camcorders playing tapes
// made by vantrel-dvgen: what the window lists, shows and keeps. What the jobs write is tested
// with the jobs themselves.
#include "pipeline/job_test_support.h"
#include "shell/job_picture_view.h"
#include "shell/window_bench.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

#include <QCheckBox>

#include <gtest/gtest.h>

namespace vantrel::shell {
namespace {

using namespace pipeline;
namespace jt = pipeline::testing;
using Bench = shell::testing::WindowBench;

// A device backend that cannot list its devices.
struct Unlistable : mediagraph::IVideoDeviceBackend {
    Expected<std::vector<std::unique_ptr<mediagraph::IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        return unexpected(std::string("no bus"));
    }
};

// Each job mode lists the devices anew, each entry once (two camcorders may share a name); a
// listing that fails keeps the list.
TEST(JobModes, device_list_holds_each_device_once_and_survives_a_failed_listing)
{
    const mediagraph::ScopedVideoDeviceBackends virtualOnly({mediagraph::makeVirtualCamcorderBackend()});
    Bench bench;
    {
        const testsupport::ScopedEnv none("VANTREL_VIRTUAL_CAMCORDER", nullptr);
        bench.mode(MODE_CAPTURE);
        EXPECT_EQ(bench.part(0), QStringLiteral("Error: No video device found"));
        EXPECT_TRUE(bench.devices().isEmpty());
    }
    const testsupport::ScopedEnv two("VANTREL_VIRTUAL_CAMCORDER", "/tapes/a.dv:/tapes/a.dv");
    const QString name = QString::fromStdString(mediagraph::CVirtualCamcorder::friendlyNameFor("/tapes/a.dv"));
    const std::pair<WorkingMode, const char*> steps[] = {{MODE_CAPTURE, "Current working mode : CAPTURING"},
                                                         {MODE_PRINT_TO_TAPE, "Current working mode : PRINT TO TAPE"},
                                                         {MODE_CAPTURE, "Current working mode : CAPTURING"}};
    for (const auto& [mode, modeText] : steps) {
        bench.mode(mode);
        EXPECT_EQ(bench.part(1), QString::fromLatin1(modeText));
        EXPECT_EQ(bench.devices(), QStringList({name, name})) << modeText;
    }
    EXPECT_EQ(bench.window->deviceList()->currentIndex(), 0);
    EXPECT_TRUE(bench.window->jobModes()->captureDevice().empty()) << "filling the list selects nothing yet";

    const mediagraph::ScopedVideoDeviceBackends broken({std::make_shared<Unlistable>()});
    bench.mode(MODE_PRINT_TO_TAPE);
    EXPECT_EQ(bench.part(0), QStringLiteral("Error: Cannot create capture device !"));
    EXPECT_EQ(bench.devices().size(), 2) << "a failed listing keeps the list";
}

// Capture from the window: the preview, then Pause closes the file and keeps the preview and Play
// records the next; closing the window closes and names the last file.
TEST(JobModes, capture_pauses_to_the_preview_and_names_its_files_by_the_recording_date)
{
    const testsupport::ScopedTimeZone utc(testsupport::kUtc);
    const test::ScratchDir dir("job-modes-capture");
    const std::string tape =
        jt::generateTape(dir.file("tape.avi"), {"--frames", "150", "--start", "2004-07-14T18:03:09"});
    std::filesystem::create_directory(dir.path() / "out");
    jt::ScopedVirtualCamcorder camcorder(tape, false);  // at the tape's own pace
    auto bench = std::make_unique<Bench>();
    bench->mode(MODE_CAPTURE);
    bench->window->autoControlBox()->click();  // the camcorder plays while recording
    bench->window->deviceList()->activated(0);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_PREVIEW);
    EXPECT_EQ(bench->window->jobModes()->captureDevice(), camcorder.name());
    ASSERT_TRUE(bench->statusTicks(1));
    EXPECT_EQ(bench->part(0), QStringLiteral("Paused... Press <Capture> for Capturing."));
    EXPECT_EQ(bench->buttons(1), "10011110") << "the toolbar follows the job";

    QSignalSpy closed(bench->window->jobModes(), &CJobModes::fileClosed);
    bench->choose({QString::fromStdString(dir.file("out/cap.avi"))});
    bench->command(command::kPlay);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_RECORDING);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->window->jobModes()->job().FramesWritten() >= 10; }, 60000));
    ASSERT_TRUE(bench->statusTicks(2));
    EXPECT_EQ(bench->part(0), QStringLiteral("Capturing...  (0 frames dropped)"));
    EXPECT_TRUE(bench->part(2).startsWith(QStringLiteral(" Using buffer:"))) << bench->part(2).toStdString();
    EXPECT_GT(bench->window->jobView()->pictureCount(), 0u) << "the live picture";
    EXPECT_EQ(bench->window->jobView()->lastPlace(), (PreviewRect{0, 11, 360, 270})) << "4:3 in 360 x 293";
    bench->screenshot("capture-mode.png");

    bench->command(command::kPause);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_PREVIEW);
    ASSERT_TRUE(closed.wait(10000));
    bench->command(command::kPlay);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_RECORDING);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->window->jobModes()->job().FramesWritten() >= 20; }, 60000));
    bench.reset();  // the window closes during the recording

    const std::vector<std::string> names = jt::fileNamesIn(dir.path() / "out");
    ASSERT_EQ(names.size(), 2u) << "one file before Pause, one after";
    for (const std::string& name : names) EXPECT_TRUE(name.starts_with("cap.04-07-14_18-03.")) << name;
}

// Print to tape from the window: a missing file stops the start; the frame being sent shows with
// its panel lines; Pause holds the list and Play goes on from there, so every listed frame reaches
// the tape once, in order; the error of a broken last file stays in part 0 until the next command.
TEST(JobModes, print_shows_the_frame_sent_continues_where_it_held_and_holds_its_errors)
{
    const test::ScratchDir dir("job-modes-print");
    const std::string first = jt::generateTape(dir.file("a.avi"), {"--frames", "60", "--timecode", "00:10:00:00"});
    const std::string second =
        jt::generateTape(dir.file("b.dv"), {"--format", "dv", "--frames", "40", "--timecode", "00:20:00:00"});
    std::ofstream(dir.file("bad.avi")) << "RIFF this is no AVI file at all";
    std::vector<jt::Frame> expected = jt::readDvFrames(first);
    for (jt::Frame& frame : jt::readRawDvFrames(second)) expected.push_back(std::move(frame));
    const std::string tape = dir.file("blank-tape.dv");
    std::ofstream(tape, std::ios::binary).close();
    jt::ScopedVirtualCamcorder camcorder(tape, false);
    {
        Bench bench;
        bench.mode(MODE_PRINT_TO_TAPE);
        bench.window->autoControlBox()->click();  // the camcorder records while the list plays
        bench.choose({QString::fromStdString(dir.file("missing.avi"))});
        bench.command(command::kPlay);
        EXPECT_TRUE(bench.part(0).startsWith(QStringLiteral("Error: "))) << bench.part(0).toStdString();
        EXPECT_TRUE(bench.part(0).contains(QStringLiteral("missing.avi"))) << bench.part(0).toStdString();

        bench.choose({QString::fromStdString(first), QString::fromStdString(second),
                      QString::fromStdString(dir.file("bad.avi"))});
        EXPECT_EQ(bench.window->tapeFiles().toStdString(), first + " | " + second + " | " + dir.file("bad.avi"));
        bench.command(command::kPlay);
        EXPECT_EQ(bench.state(), JOB_TAPE_RECORDING);
        ASSERT_TRUE(bench.statusTicks(1));
        EXPECT_EQ(bench.part(0), QStringLiteral("Recording... "));
        const auto isShown = [&] {
            return bench.window->jobView()->pictureCount() > 0 && bench.panelLine(3).starts_with("TimeCode 00:10:");
        };
        ASSERT_TRUE(QTest::qWaitFor(isShown, 10000)) << bench.panelLine(3);
        bench.screenshot("print-mode.png");
        bench.command(command::kPause);
        EXPECT_EQ(bench.state(), JOB_TAPE_PAUSED);
        ASSERT_TRUE(bench.statusTicks(2));
        EXPECT_EQ(bench.part(0), QStringLiteral("Paused..."));
        bench.command(command::kPlay);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bench.part(0).contains(QStringLiteral("bad.avi")); }, 60000))
            << bench.part(0).toStdString();
        const QString error = bench.part(0);
        EXPECT_TRUE(error.startsWith(QStringLiteral("Error: "))) << error.toStdString();
        const std::uint64_t atEnd = camcorder.camcorder().framesRecorded();
        ASSERT_TRUE(QTest::qWaitFor([&] { return camcorder.camcorder().framesRecorded() >= atEnd + 20; }, 60000))
            << "the frames on their way reach the tape";
        ASSERT_TRUE(bench.statusTicks(3));
        EXPECT_EQ(bench.part(0), error) << "the timer leaves the error";
        EXPECT_EQ(bench.part(1), QStringLiteral("0:00:04.0")) << "100 PAL frames";
        EXPECT_EQ(bench.panelLine(3), "TimeCode 00:20:01   14") << "the list's last frame stays";
        EXPECT_NE(bench.panelLine(0).find(" Frame 99 "), std::string::npos) << bench.panelLine(0);
        EXPECT_EQ(bench.buttons(1), "10000000");
        bench.command(command::kStop);
        EXPECT_TRUE(bench.window->tapeFiles().isEmpty()) << "Stop forgets the list";
        ASSERT_TRUE(bench.statusTicks(1));
        EXPECT_EQ(bench.part(0), QStringLiteral("Finished.")) << "the next command lets the error go";
    }
    std::vector<jt::Frame> recorded = jt::readRawDvFrames(tape);
    recorded.erase(std::unique(recorded.begin(), recorded.end()), recorded.end());  // repeats while held
    EXPECT_TRUE(recorded == expected) << "not from the start again after the pause, none lost";
}

}  // namespace
}  // namespace vantrel::shell
