// SPDX-License-Identifier: GPL-3.0-or-later
// The capture-bitmap command on generated tapes: the frame at the asked time as ffmpeg decodes it,
// the panel OR-ed over its corner, a bitmap file that ffmpeg's own reader reads back, and the
// refusals (cancelled, unwritable, not a media file) that write nothing.
#include "grab/frame_grabber.h"
#include "grab/frame_panel.h"
#include "support/run_tool.h"
#include "support/scratch_dir.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <functional>
#include <optional>

namespace vantrel::grab {
namespace {

namespace fs = std::filesystem;
using testsupport::runShell;
using testsupport::shellQuote;

constexpr auto kPal = dv::VideoSystem::Pal625_50;

bool hasFfmpeg() { return testsupport::hasTool("ffmpeg") && testsupport::hasTool("ffprobe"); }

// Frame `frameIndex` of the file as ffmpeg's decoder gives it: BGR, 3 bytes a pixel, rows top-down.
std::optional<std::vector<std::uint8_t>> ffmpegDecodedFrame(const fs::path& media, int frameIndex)
{
    const auto result = runShell("ffmpeg -v error -i " + shellQuote(media.string()) + " -vf 'select=eq(n\\," +
                                 std::to_string(frameIndex) + ")' -frames:v 1 -f rawvideo -pix_fmt bgr24 -");
    if (result.exitCode != 0 || result.out.empty()) return std::nullopt;
    return std::vector<std::uint8_t>(result.out.begin(), result.out.end());
}

// Black with yellow "glyphs" (blocks in the first line's rows, a whole row in the fourth) and one
// partly drawn pixel, as the info panel draws its text.
QImage panelPicture()
{
    QImage panel(360, 124, QImage::Format_BGR888);
    panel.fill(Qt::black);
    for (int y = 12; y < 28; ++y) {
        for (int x = 0; x < 200; x += 7) panel.setPixel(x, y, qRgb(255, 255, 0));
    }
    for (int x = 0; x < 350; ++x) panel.setPixel(x, 105, qRgb(255, 255, 0));
    panel.setPixel(40, 40, qRgb(128, 128, 0));
    return panel;
}

// The largest and the mean byte difference of a bitmap as Qt's reader reads it and a BGR picture,
// where the panel is black.
std::pair<int, double> differenceOutsidePanel(const QImage& ours, const std::vector<std::uint8_t>& theirs,
                                              const QImage& panel)
{
    int largest = 0;
    double sum = 0;
    for (int y = 0; y < ours.height(); ++y) {
        for (int x = 0; x < ours.width(); ++x) {
            if (panel.valid(x, y) && panel.pixel(x, y) != qRgb(0, 0, 0)) continue;
            const std::uint8_t* bgr = &theirs[static_cast<std::size_t>(y * ours.width() + x) * 3];
            const QRgb pixel = ours.pixel(x, y);
            for (const int difference : {qBlue(pixel) - bgr[0], qGreen(pixel) - bgr[1], qRed(pixel) - bgr[2]}) {
                largest = std::max(largest, std::abs(difference));
                sum += std::abs(difference);
            }
        }
    }
    return {largest, sum / static_cast<double>(theirs.size())};
}

std::string textOf(std::FILE* stream)
{
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    std::fclose(stream);
    return text;
}

// Every picture differs from the one before. The odd movie is 350 pixels wide (rows padded in the
// file) and narrower than the panel, which is cut.
struct TapeCase {
    const char* name;
    std::vector<std::string> dvgenArguments;  // none: the movie of `ffmpegMovie`
    const char* ffmpegMovie;
    dv::VideoSystem system;
    int frame;
    int width;
    int height;
};

TEST(FrameGrabber, saves_the_frame_at_the_time_as_ffmpeg_decodes_it_with_the_panel_ored_over_it)
{
    if (!hasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const TapeCase cases[] = {
        {"pal2.avi", {"--type", "2", "--frames", "30", "--pictures", "30"}, nullptr, kPal, 17, 720, 576},
        {"pal1.avi", {"--type", "1", "--frames", "12", "--pictures", "12"}, nullptr, kPal, 0, 720, 576},
        {"ntsc.dv", {"--system", "ntsc", "--format", "dv", "--frames", "30", "--pictures", "30"}, nullptr,
         dv::VideoSystem::Ntsc525_60, 21, 720, 480},
        {"odd.avi", {}, "-f lavfi -i testsrc=size=350x200:rate=25 -t 1 -c:v rawvideo -pix_fmt bgr24", kPal, 7, 350, 200},
    };
    const QImage panel = panelPicture();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = testsupport::freshTestFolder();
        const fs::path tape = dir / c.name;
        if (c.ffmpegMovie != nullptr) {
            ASSERT_EQ(runShell(std::string("ffmpeg -v error ") + c.ffmpegMovie + " " + shellQuote(tape.string())).exitCode, 0);
        } else {
            ASSERT_EQ(testsupport::generateTape(c.name, c.dvgenArguments), tape);
        }
        const fs::path chosen = dir / "saved";
        const std::int64_t time = timeInsideFrame(c.frame, c.system);
        const GrabResult result = GrabFrames(tape.string(), time, panel, [&] { return chosen.string(); });
        ASSERT_EQ(result.outcome, GrabOutcome::Saved) << result.message;
        EXPECT_EQ(result.bitmapPath, chosen.string() + ".bmp");

        const QImage read(QString::fromStdString(result.bitmapPath), "BMP");  // a reader of its own
        ASSERT_EQ(read.size(), QSize(c.width, c.height));
        // That frame as ffmpeg decodes it, within the colour conversion's rounding, not its neighbour.
        const auto decoded = ffmpegDecodedFrame(tape, c.frame);
        const auto neighbour = ffmpegDecodedFrame(tape, c.frame == 0 ? 1 : c.frame - 1);
        ASSERT_TRUE(decoded && neighbour && decoded->size() == static_cast<std::size_t>(c.width * c.height * 3));
        const auto [largest, mean] = differenceOutsidePanel(read, *decoded, panel);
        EXPECT_LE(largest, c.ffmpegMovie != nullptr ? 0 : 4) << "mean " << mean;  // raw pixels need no conversion
        EXPECT_GT(differenceOutsidePanel(read, *neighbour, panel).second, 20 * mean + 0.1) << "the neighbour was saved";

        // Under the panel each pixel is the frame's OR the panel's.
        const auto frame = GrabPicture(tape.string(), time);
        ASSERT_TRUE(frame) << frame.error();
        for (int y = 0; y < std::min(panel.height(), c.height); ++y) {
            for (int x = 0; x < std::min(panel.width(), c.width); ++x)
                ASSERT_EQ(read.pixel(x, y), frame->pixel(x, y) | panel.pixel(x, y)) << x << "," << y;
        }
    }
}

// A cancelled or unwritable name leaves no file and says why; a source without a picture at the
// time asks for no name and writes its text to the progress stream.
TEST(FrameGrabber, refusals_leave_no_file_and_say_why)
{
    const fs::path tape = testsupport::generateTape("refusals.dv", {"--format", "dv", "--frames", "3"});
    const fs::path notes = testsupport::testPath("notes.avi");
    testsupport::writeBytes(notes, std::as_bytes(std::span("these are notes, not a movie\n")));
    const char* const noPicture = "Could not connect source filter to grabber\r\n";
    const struct {
        const char* name;  // also what is chosen, or made, in the test's folder
        fs::path source;
        std::int64_t time;
        GrabOutcome outcome;
        const char* reason;    // nullptr: a text of the framework's
        const char* progress;  // after the first line; nullptr: the name is asked for
    } cases[] = {
        {"cancelled", tape, 0, GrabOutcome::Cancelled, "", nullptr},
        {"missing_folder", tape, 0, GrabOutcome::Failed, "No such file or directory", nullptr},
        {"full_device", tape, 0, GrabOutcome::Failed, "No space left on device", nullptr},
        {"name_of_a_folder", tape, 0, GrabOutcome::Failed, "Is a directory", nullptr},
        {"no_such_file", notes.parent_path() / "nothing.avi", 0, GrabOutcome::Failed, nullptr,
         "Could not load the media file\r\n"},
        {"not_a_movie", notes, 0, GrabOutcome::Failed, nullptr, noPicture},
        {"past_the_end", tape, 10'000'000, GrabOutcome::Failed, nullptr, noPicture},
    };
    const fs::path startFolder = fs::current_path();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::ScratchDir scratch("grab-refusal");
        const fs::path& dir = scratch.path();
        const std::string kind = c.name;
        if (kind == "full_device") fs::create_symlink("/dev/full", dir / "shot.bmp");
        if (kind == "name_of_a_folder") fs::create_directory(dir / "shot.bmp");
        const fs::path chosen =
            kind == "cancelled" ? fs::path() : kind == "missing_folder" ? dir / "missing" / "shot" : dir / "shot";
        const auto before = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
        bool wasAsked = false;
        std::FILE* progress = std::tmpfile();
        fs::current_path(dir);  // where a nameless bitmap would land
        const GrabResult result = GrabFrames(c.source.string(), c.time, panelPicture(), [&] {
            wasAsked = true;
            return chosen.string();
        }, progress);
        fs::current_path(startFolder);
        const std::string text = textOf(progress);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), before);
        EXPECT_EQ(wasAsked, c.progress == nullptr);
        EXPECT_TRUE(c.reason != nullptr ? result.message == c.reason : !result.message.empty()) << result.message;
        if (c.progress != nullptr) {
            EXPECT_EQ(text, "Grabbing bitmaps from " + c.source.string() + ".\r\n" + c.progress);
        }
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

}  // namespace
}  // namespace vantrel::grab
