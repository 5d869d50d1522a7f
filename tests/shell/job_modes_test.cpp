// SPDX-License-Identifier: GPL-3.0-or-later
// The window's Capture and Print-to-tape modes offscreen, on virtual camcorders playing tapes
// made by vantrel-dvgen: device list, toolbar by job state, status texts, errors, pausing.
#include "pipeline/job_test_support.h"
#include "shell/job_picture_view.h"
#include "shell/window_bench.h"
#include "support/scoped_env.h"
#include "support/scratch_dir.h"

#include <QCheckBox>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace vantrel::shell {
namespace {

using namespace pipeline;
using pipeline::testing::Frame;
namespace jt = pipeline::testing;
using Bench = shell::testing::WindowBench;

// A device list whose entries carry the given names (equal names allowed) and open nothing.
class NamedEntries : public mediagraph::IVideoDeviceBackend {
public:
    explicit NamedEntries(std::vector<std::string> names, bool canList = true) : m_names(std::move(names)), m_canList(canList) {}
    Expected<std::vector<std::unique_ptr<mediagraph::IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        if (!m_canList) return unexpected(std::string("no bus"));
        std::vector<std::unique_ptr<mediagraph::IVideoDeviceEntry>> entries;
        for (const std::string& name : m_names) entries.push_back(std::make_unique<Entry>(name));
        return entries;
    }

private:
    struct Entry : mediagraph::IVideoDeviceEntry {
        explicit Entry(std::string n) : name(std::move(n)) {}
        Expected<std::string, std::string> ReadFriendlyName() const override { return name; }
        std::shared_ptr<mediagraph::IVideoDevice> Open() override { return nullptr; }
        std::string name;
    };
    std::vector<std::string> m_names;
    bool m_canList;
};

auto named(std::vector<std::string> names, bool canList = true) { return std::make_shared<NamedEntries>(std::move(names), canList); }

TEST(JobModes, device_list_holds_each_device_once_and_survives_a_failed_listing)
{
    Bench bench;
    {
        mediagraph::ScopedVideoDeviceBackends none({named({})});
        bench.mode(MODE_CAPTURE);
        EXPECT_EQ(bench.part(0), QStringLiteral("Error: No video device found"));
        EXPECT_EQ(bench.part(1), QStringLiteral("Current working mode : CAPTURING"));
        EXPECT_TRUE(bench.devices().isEmpty());
    }
    mediagraph::ScopedVideoDeviceBackends two({named({"DV cam", "DV cam"})});
    const struct {
        WorkingMode mode;
        const char* modeText;
    } steps[] = {
        {MODE_CAPTURE, "Current working mode : CAPTURING"},
        {MODE_PLAYER, "Current working mode : PLAYER"},
        {MODE_CAPTURE, "Current working mode : CAPTURING"},
        {MODE_PRINT_TO_TAPE, "Current working mode : PRINT TO TAPE"},
        {MODE_CAPTURE, "Current working mode : CAPTURING"},
    };
    for (const auto& step : steps) {
        bench.mode(step.mode);
        EXPECT_EQ(bench.part(1), QString::fromLatin1(step.modeText));
        EXPECT_EQ(bench.devices(), QStringList({QStringLiteral("DV cam"), QStringLiteral("DV cam")})) << step.modeText;
    }
    EXPECT_EQ(bench.window->deviceList()->currentIndex(), 0);
    EXPECT_TRUE(bench.window->jobModes()->captureDevice().empty()) << "filling the list selects nothing yet";

    mediagraph::ScopedVideoDeviceBackends broken({named({}, false)});
    bench.mode(MODE_PRINT_TO_TAPE);
    EXPECT_EQ(bench.part(0), QStringLiteral("Error: Cannot create capture device !"));
    EXPECT_EQ(bench.devices().size(), 2) << "a failed listing keeps the list";
}

// Errors of every path reach part 0 and stay there over status ticks until the next command.
TEST(JobModes, errors_reach_part_zero_and_stay_until_the_next_command)
{
    const test::ScratchDir dir("job-modes-errors");
    const std::string tape = jt::generateTape(dir.file("tape.avi"), {"--frames", "50"});
    const std::string good = jt::generateTape(dir.file("good.avi"), {"--frames", "10"});
    std::ofstream(dir.file("bad.avi")) << "RIFF this is no AVI file at all";
    jt::ScopedVirtualCamcorder camcorder(tape);
    Bench bench;
    bench.mode(MODE_PRINT_TO_TAPE);
    ASSERT_EQ(bench.devices(), QStringList(QString::fromStdString(camcorder.name())));

    const struct {
        const char* name;
        QStringList files;
        QString names;
    } cases[] = {
        {"a missing file stops the start", {QString::fromStdString(dir.file("missing.avi"))}, QStringLiteral("missing.avi")},
        {"a broken later file fails on the worker", {QString::fromStdString(good), QString::fromStdString(dir.file("bad.avi"))},
         QStringLiteral("bad.avi")},
    };
    for (const auto& c : cases) {
        bench.choose(c.files);
        EXPECT_EQ(bench.window->tapeFiles(), c.files.join(QStringLiteral(" | "))) << c.name;
        bench.command(command::kPlay);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bench.part(0).startsWith(QStringLiteral("Error: ")); }, 60000))
            << c.name << ": " << bench.part(0).toStdString();
        EXPECT_TRUE(bench.part(0).contains(c.names)) << c.name << ": " << bench.part(0).toStdString();
        const QString error = bench.part(0);
        if (bench.window->jobModes()->isStatusTimerRunning()) {
            ASSERT_TRUE(bench.statusTicks(3));
            EXPECT_EQ(bench.part(0), error) << c.name << ": the timer leaves the error";
        }
        bench.command(command::kStop);
        EXPECT_FALSE(bench.window->jobModes()->isErrorHeld()) << c.name << ": the next command lets it go";
        if (bench.window->jobModes()->isStatusTimerRunning()) {
            ASSERT_TRUE(bench.statusTicks(1));
            EXPECT_EQ(bench.part(0), QStringLiteral("Finished.")) << c.name;
        }
    }

    // Capture with a device that is gone: Play goes through Reinitialize, whose start fails.
    {
        mediagraph::ScopedVideoDeviceBackends none({named({})});
        bench.mode(MODE_CAPTURE);
        bench.choose({QString::fromStdString(dir.file("cap.avi"))});
        EXPECT_EQ(bench.window->captureBase(), QString::fromStdString(dir.file("cap")));
        EXPECT_EQ(bench.buttons(1), "10000000");
        bench.command(command::kPlay);
        EXPECT_TRUE(bench.part(0).startsWith(QStringLiteral("Error: "))) << bench.part(0).toStdString();
        EXPECT_FALSE(bench.window->jobModes()->isStatusTimerRunning());
    }
}

// Capture from the window: the toolbar follows each state, Pause closes the file without
// starting another, Play starts the next, Stop keeps the preview; closing the window closes and
// names the last file with every frame the camcorder sent.
TEST(JobModes, capture_pauses_without_a_new_file_and_closing_keeps_every_frame)
{
    const testsupport::ScopedTimeZone utc(testsupport::kUtc);
    const test::ScratchDir dir("job-modes-capture");
    const std::string tape =
        jt::generateTape(dir.file("tape.avi"), {"--frames", "150", "--start", "2004-07-14T18:03:09"});
    const std::vector<Frame> tapeFrames = jt::readDvFrames(tape);
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
    EXPECT_EQ(bench->buttons(1), "10011110");

    QSignalSpy closed(bench->window->jobModes(), &CJobModes::fileClosed);
    bench->choose({QString::fromStdString(dir.file("out/cap.avi"))});
    bench->command(command::kPlay);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_RECORDING);
    EXPECT_EQ(bench->buttons(1), "01100000");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->window->jobModes()->job().FramesWritten() >= 10; }, 60000));
    ASSERT_TRUE(bench->statusTicks(2));
    EXPECT_EQ(bench->part(0), QStringLiteral("Capturing...  (0 frames dropped)"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^0:00:\\d\\d\\.\\d$")).match(bench->part(1)).hasMatch()) << bench->part(1).toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ Using buffer:\\d+\\.\\d{6} %$")).match(bench->part(2)).hasMatch())
        << bench->part(2).toStdString();
    EXPECT_GT(bench->window->jobView()->pictureCount(), 0u) << "the live picture";
    EXPECT_EQ(bench->window->jobView()->lastPlace(), (PreviewRect{0, 11, 360, 270})) << "4:3 in 360 x 293";
    bench->screenshot("capture-mode.png");

    bench->command(command::kPause);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_PREVIEW);
    ASSERT_TRUE(closed.wait(10000));
    const std::size_t filesAfterPause = jt::fileNamesIn(dir.path() / "out").size();
    ASSERT_TRUE(bench->statusTicks(3));
    EXPECT_EQ(jt::fileNamesIn(dir.path() / "out").size(), filesAfterPause) << "no new file until Play";
    EXPECT_EQ(bench->buttons(1), "10011110");

    const std::uint64_t writtenBefore = bench->window->jobModes()->job().FramesWritten();  // none while paused
    bench->command(command::kPlay);
    EXPECT_EQ(bench->state(), JOB_CAPTURE_RECORDING);
    ASSERT_TRUE(QTest::qWaitFor([&] { return bench->window->jobModes()->job().HasStreamEnded(); }, 60000));
    const std::uint64_t lastFileFrames = bench->window->jobModes()->job().FramesWritten() - writtenBefore;
    ASSERT_GT(lastFileFrames, 0u);
    bench.reset();  // the window closes during the recording

    const std::vector<std::string> names = jt::fileNamesIn(dir.path() / "out");
    ASSERT_EQ(names.size(), 2u) << "one file before Pause, one after";
    for (const std::string& name : names) EXPECT_TRUE(name.starts_with("cap.04-07-14_18-03.")) << name;
    const std::vector<Frame> last = jt::readDvFrames(dir.path() / "out" / names.back());
    ASSERT_EQ(last.size(), lastFileFrames);
    ASSERT_LE(last.size(), tapeFrames.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), tapeFrames.end() - static_cast<std::ptrdiff_t>(last.size())))
        << "the last file holds the tape's last " << last.size() << " frames, none missing";
}

// Print to tape from the window: Pause holds the list and Play goes on from there, so every
// listed frame reaches the tape once, in order, bit for bit.
TEST(JobModes, print_pauses_and_continues_where_it_held)
{
    const test::ScratchDir dir("job-modes-print");
    const std::string first = jt::generateTape(dir.file("a.avi"), {"--frames", "60", "--timecode", "00:10:00:00"});
    const std::string second = jt::generateTape(dir.file("b.dv"), {"--format", "dv", "--frames", "40", "--timecode", "00:20:00:00"});
    std::vector<Frame> expected = jt::readDvFrames(first);
    for (Frame& frame : jt::readRawDvFrames(second)) expected.push_back(std::move(frame));
    ASSERT_EQ(expected.size(), 100u);
    const std::string tape = dir.file("blank-tape.dv");
    std::ofstream(tape, std::ios::binary).close();
    jt::ScopedVirtualCamcorder camcorder(tape, false);
    {
        Bench bench;
        bench.mode(MODE_PRINT_TO_TAPE);
        bench.window->autoControlBox()->click();  // the camcorder records while the list plays
        bench.choose({QString::fromStdString(first), QString::fromStdString(second)});
        EXPECT_EQ(bench.buttons(1), "10000000");
        bench.command(command::kPlay);
        EXPECT_EQ(bench.state(), JOB_TAPE_RECORDING);
        EXPECT_EQ(bench.buttons(1), "01100000");
        ASSERT_TRUE(bench.statusTicks(1));
        EXPECT_EQ(bench.part(0), QStringLiteral("Recording... "));
        EXPECT_TRUE(bench.part(2).startsWith(QStringLiteral(" Using buffer:")));
        // The frame being sent shows in the picture and its recording data in the panel.
        const auto isShown = [&] {
            return bench.window->jobView()->pictureCount() > 0 && bench.panelLine(3).starts_with("TimeCode 00:10:");
        };
        ASSERT_TRUE(QTest::qWaitFor(isShown, 10000)) << bench.panelLine(3);
        bench.screenshot("print-mode.png");
        bench.command(command::kPause);
        EXPECT_EQ(bench.state(), JOB_TAPE_PAUSED);
        ASSERT_TRUE(bench.statusTicks(2));
        EXPECT_EQ(bench.part(0), QStringLiteral("Paused..."));
        EXPECT_EQ(bench.buttons(1), "10011110");
        bench.command(command::kTapeRewind);  // no capture graph: nothing happens
        EXPECT_EQ(bench.state(), JOB_TAPE_PAUSED);
        bench.command(command::kPlay);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bench.state() == JOB_FINISHED; }, 60000));
        const std::uint64_t atEnd = camcorder.camcorder().framesRecorded();
        ASSERT_TRUE(QTest::qWaitFor([&] { return camcorder.camcorder().framesRecorded() >= atEnd + 20; }, 60000))
            << "the frames on their way reach the tape";
        ASSERT_TRUE(bench.statusTicks(1));
        EXPECT_EQ(bench.part(0), QStringLiteral("Finished."));
        EXPECT_EQ(bench.part(1), QStringLiteral("0:00:04.0")) << "100 PAL frames";
        EXPECT_EQ(bench.panelLine(3), "TimeCode 00:20:01   14") << "the list's last frame stays";
        EXPECT_NE(bench.panelLine(0).find(" Frame 99 "), std::string::npos) << bench.panelLine(0);
        EXPECT_EQ(bench.buttons(1), "10000000");
        bench.command(command::kStop);
        EXPECT_TRUE(bench.window->tapeFiles().isEmpty()) << "Stop forgets the list";
        EXPECT_EQ(bench.state(), JOB_FINISHED);
    }
    std::vector<Frame> recorded = jt::readRawDvFrames(tape);
    recorded.erase(std::unique(recorded.begin(), recorded.end()), recorded.end());  // repeats while held
    // In list order, never from the start again, none lost at the pause (the frames on their way
    // to the camcorder reach the tape first), every frame bit for bit.
    EXPECT_EQ(recorded.size(), expected.size());
    EXPECT_TRUE(recorded == expected);
}

}  // namespace
}  // namespace vantrel::shell
