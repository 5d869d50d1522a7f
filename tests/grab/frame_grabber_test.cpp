// SPDX-License-Identifier: GPL-3.0-or-later
// The capture-bitmap command on generated tapes: the frame at the asked time as ffmpeg decodes it,
// the panel OR-ed over its corner, a bitmap file that ffmpeg's own reader reads back, and the
// refusals (cancelled, unwritable, not a media file) that write nothing.
#include "grab/frame_grabber.h"
#include "grab/frame_panel.h"
#include "grab/grab_test_media.h"
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cstdio>
#include <functional>

namespace vantrel::grab {
namespace {

namespace fs = std::filesystem;
using testing::ffmpegDecodedFrame;
using testing::ffmpegReadBitmap;
using testsupport::freshTestFolder;

constexpr auto kPal = dv::VideoSystem::Pal625_50;

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

// The largest and the mean byte difference of two BGR pictures where the panel is black.
std::pair<int, double> differenceOutsidePanel(const testing::ReadPicture& ours, const std::vector<std::uint8_t>& theirs,
                                              const QImage& panel)
{
    int largest = 0;
    double sum = 0;
    for (std::size_t i = 0; i < ours.bgr.size(); ++i) {
        const int x = static_cast<int>(i / 3 % static_cast<std::size_t>(ours.width));
        const int y = static_cast<int>(i / 3 / static_cast<std::size_t>(ours.width));
        if (panel.valid(x, y) && panel.pixel(x, y) != qRgb(0, 0, 0)) continue;
        const int difference = std::abs(int(ours.bgr[i]) - int(theirs[i]));
        largest = std::max(largest, difference);
        sum += difference;
    }
    return {largest, sum / static_cast<double>(ours.bgr.size())};
}

std::string textOf(std::FILE* stream)
{
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    std::fclose(stream);
    return text;
}

struct TapeCase {
    const char* name;
    std::vector<std::string> dvgenArguments;  // every picture differs from the one before
    dv::VideoSystem system;
    int frame;
    std::size_t fileBytes;  // 54 + 720 × height × 3
};

TEST(FrameGrabber, saves_the_frame_at_the_time_as_ffmpeg_decodes_it_with_the_panel_ored_over_it)
{
    if (!testing::hasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const TapeCase cases[] = {
        {"pal2.avi", {"--type", "2", "--frames", "30", "--pictures", "30"}, kPal, 17, 1244214},
        {"pal1.avi", {"--type", "1", "--frames", "12", "--pictures", "12"}, kPal, 0, 1244214},
        {"ntsc.dv", {"--system", "ntsc", "--format", "dv", "--frames", "30", "--pictures", "30"},
         dv::VideoSystem::Ntsc525_60, 21, 1036854},
    };
    const QImage panel = panelPicture();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path tape = testing::generateTape(c.name, c.dvgenArguments);
        const fs::path chosen = freshTestFolder() / "saved";
        std::FILE* progress = std::tmpfile();
        const std::int64_t time = timeInsideFrame(c.frame, c.system);
        const GrabResult result = GrabFrames(tape.string(), time, panel, [&] { return chosen.string(); }, progress);
        EXPECT_EQ(textOf(progress), "Grabbing bitmaps from " + tape.string() + ".\r\nSample grabbing complete.\r\n");
        ASSERT_EQ(result.outcome, GrabOutcome::Saved) << result.message;
        EXPECT_EQ(result.bitmapPath, chosen.string() + ".bmp");
        EXPECT_EQ(testsupport::readBytes(result.bitmapPath).size(), c.fileBytes);

        const auto read = ffmpegReadBitmap(result.bitmapPath);  // an independent reader
        ASSERT_TRUE(read) << "ffmpeg cannot read the bitmap";
        ASSERT_EQ(read->width, 720);
        ASSERT_EQ(read->height, c.system == kPal ? 576 : 480);
        // That frame as ffmpeg decodes it, within the colour conversion's rounding, not its neighbour.
        const auto decoded = ffmpegDecodedFrame(tape, c.frame);
        const auto neighbour = ffmpegDecodedFrame(tape, c.frame == 0 ? 1 : c.frame - 1);
        ASSERT_TRUE(decoded && neighbour && decoded->size() == read->bgr.size());
        const auto [largest, mean] = differenceOutsidePanel(*read, *decoded, panel);
        EXPECT_LE(largest, 4) << "mean " << mean;
        EXPECT_GT(differenceOutsidePanel(*read, *neighbour, panel).second, 20 * mean + 0.1) << "the neighbour was saved";

        // Under the panel each byte is the frame's OR the panel's: red and green 255 under the glyphs.
        const auto frame = GrabPicture(tape.string(), time);
        ASSERT_TRUE(frame) << frame.error();
        for (int y = 0; y < panel.height(); ++y) {
            for (int x = 0; x < panel.width(); ++x) {
                const auto* saved = &read->bgr[(static_cast<std::size_t>(y) * 720 + static_cast<std::size_t>(x)) * 3];
                const QRgb ored = frame->pixel(x, y) | panel.pixel(x, y);
                ASSERT_EQ(qRgb(saved[2], saved[1], saved[0]), ored) << x << "," << y;
            }
        }
        EXPECT_EQ(read->bgr[(105 * 720 + 300) * 3 + 2] & read->bgr[(105 * 720 + 300) * 3 + 1], 255);
    }
}

TEST(FrameGrabber, a_picture_of_another_size_is_saved_at_its_real_size_with_padded_rows)
{
    if (!testing::hasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // 350 pixels: 1050 bytes a row, 1052 in the file; narrower than the panel, which is cut.
    const fs::path movie = freshTestFolder() / "odd.avi";
    ASSERT_EQ(testsupport::runShell("ffmpeg -v error -f lavfi -i testsrc=size=350x200:rate=25 -t 1 -c:v rawvideo "
                                    "-pix_fmt bgr24 " + testsupport::shellQuote(movie.string())).exitCode, 0);
    const QImage panel = panelPicture();
    const auto chosen = movie.parent_path() / "odd";
    const GrabResult result = GrabFrames(movie.string(), timeInsideFrame(7, kPal), panel, [&] { return chosen.string(); });
    ASSERT_EQ(result.outcome, GrabOutcome::Saved) << result.message;
    EXPECT_EQ(testsupport::readBytes(result.bitmapPath).size(), 54u + 1052u * 200u);
    const auto read = ffmpegReadBitmap(result.bitmapPath);
    const auto decoded = ffmpegDecodedFrame(movie, 7);
    ASSERT_TRUE(read && decoded);
    ASSERT_EQ(read->width, 350);
    ASSERT_EQ(read->height, 200);
    EXPECT_EQ(differenceOutsidePanel(*read, *decoded, panel).first, 0);
}

struct RefusalCase {
    const char* name;
    std::function<std::string(const fs::path& dir)> choose;  // prepares the folder, returns the name chosen
    GrabOutcome outcome;
    const char* reason;
};

TEST(FrameGrabber, a_cancelled_or_unwritable_bitmap_leaves_no_file_and_says_why)
{
    const fs::path tape = testing::generateTape("refusals.dv", {"--format", "dv", "--frames", "3"});
    const auto prepared = [](const char* kind) {
        return [kind](const fs::path& dir) {
            const auto name = dir / "shot.bmp";
            if (std::string(kind) == "device") fs::create_symlink("/dev/full", name);
            else fs::create_directory(name);
            return name.string();
        };
    };
    const RefusalCase cases[] = {
        {"cancelled", [](const fs::path&) { return std::string(); }, GrabOutcome::Cancelled, ""},
        {"folder_missing", [](const fs::path& dir) { return (dir / "missing" / "shot").string(); }, GrabOutcome::Failed,
         "No such file or directory"},
        {"disk_full", prepared("device"), GrabOutcome::Failed, "No space left on device"},
        {"name_of_a_folder", prepared("folder"), GrabOutcome::Failed, "Is a directory"},
    };
    const fs::path startFolder = fs::current_path();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshTestFolder();
        const auto chosen = c.choose(dir);
        const auto before = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
        fs::current_path(dir);  // where a nameless bitmap would land
        const GrabResult result = GrabFrames(tape.string(), 0, panelPicture(), [&] { return chosen; });
        fs::current_path(startFolder);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.message, c.reason);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), before);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST(FrameGrabber, a_source_without_a_picture_at_the_time_asks_for_no_name_and_writes_its_text)
{
    const fs::path dir = freshTestFolder();
    const fs::path tape = testing::generateTape("short.avi", {"--frames", "5"});
    const fs::path notes = dir / "notes.avi";
    testsupport::writeBytes(notes, std::as_bytes(std::span("these are notes, not a movie\n")));
    const std::tuple<fs::path, std::int64_t, const char*> cases[] = {
        {dir / "nothing.avi", 0, "Could not load the media file\r\n"},
        {notes, 0, "Could not connect source filter to grabber\r\n"},
        {tape, 10'000'000, "Could not connect source filter to grabber\r\n"},  // past the end
    };
    for (const auto& [source, time, text] : cases) {
        SCOPED_TRACE(source);
        bool wasAsked = false;
        std::FILE* progress = std::tmpfile();
        const GrabResult result = GrabFrames(source.string(), time, panelPicture(), [&] {
            wasAsked = true;
            return (dir / "shot").string();
        }, progress);
        EXPECT_EQ(textOf(progress), "Grabbing bitmaps from " + source.string() + ".\r\n" + text);
        EXPECT_EQ(result.outcome, GrabOutcome::Failed);
        EXPECT_FALSE(result.message.empty());
        EXPECT_FALSE(wasAsked);
    }
    EXPECT_FALSE(fs::exists(dir / "shot.bmp"));
}

}  // namespace
}  // namespace vantrel::grab
