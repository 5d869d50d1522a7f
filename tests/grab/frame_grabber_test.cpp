// SPDX-License-Identifier: GPL-3.0-or-later
// The capture-bitmap command on generated tapes: the frame at the asked time as ffmpeg decodes it,
// the panel OR-ed over its corner, a bitmap file that ffmpeg's own reader reads back, and the
// refusals (cancelled, unwritable, not a media file) that write nothing.
#include "grab/bitmap_writer.h"
#include "grab/frame_grabber.h"
#include "grab/grab_test_media.h"
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

namespace vantrel::grab {
namespace {

namespace fs = std::filesystem;
using testing::ffmpegDecodedFrame;
using testing::ffmpegReadBitmap;
using testing::generateTape;
using testing::hasFfmpeg;
using testsupport::freshTestFolder;
using testsupport::readBytes;

constexpr std::int64_t k100nsPerSecond = 10'000'000;

// The middle of frame n: a time inside it whatever the rounding of the stream's time stamps.
std::int64_t middleOfFrame(int frame, bool isPal)
{
    const double seconds = isPal ? (frame + 0.5) / 25.0 : (frame + 0.5) * 1001.0 / 30000.0;
    return static_cast<std::int64_t>(seconds * k100nsPerSecond);
}

// A panel picture of the panel's size: black, with yellow "glyph" blocks and one partly drawn
// (anti-aliased) pixel, as the info panel draws its text.
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

// What ffmpeg decodes and what we decoded differ by the colour conversion's rounding only.
struct PictureDifference {
    double meanAbsolute = 0;
    int largest = 0;
};

PictureDifference differenceOutsidePanel(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& theirs,
                                         int width, int height, const QImage& panel)
{
    PictureDifference d;
    long long sum = 0, counted = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < panel.width() && y < panel.height() && panel.pixel(x, y) != qRgb(0, 0, 0)) continue;
            for (int c = 0; c < 3; ++c) {
                const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3 + c;
                const int diff = std::abs(int(ours[i]) - int(theirs[i]));
                sum += diff;
                ++counted;
                d.largest = std::max(d.largest, diff);
            }
        }
    }
    d.meanAbsolute = counted ? double(sum) / counted : 0;
    return d;
}

struct TapeCase {
    const char* name;
    const char* fileName;
    std::vector<std::string> dvgenArguments;
    bool isPal;
    int frame;
    std::size_t expectedFileBytes;  // 54 + width × height × 3
};

// Every picture of these tapes differs from the one before.
const TapeCase kTapes[] = {
    {"pal_type2", "pal2.avi", {"--system", "pal", "--type", "2", "--frames", "30", "--pictures", "30"}, true, 17,
     1244214},
    {"pal_type1_first_frame", "pal1.avi", {"--system", "pal", "--type", "1", "--frames", "12", "--pictures", "12"},
     true, 0, 1244214},
    {"ntsc_raw", "ntsc.dv", {"--system", "ntsc", "--format", "dv", "--frames", "30", "--pictures", "30"}, false, 21,
     1036854},
};

// The whole file as the text the grabber writes to `stream`.
std::string textOf(std::FILE* stream)
{
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    return text;
}

TEST(FrameGrabber, saves_the_frame_at_the_time_as_ffmpeg_decodes_it_with_the_panel_ored_over_it)
{
    if (!hasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const QImage panel = panelPicture();
    for (const auto& c : kTapes) {
        SCOPED_TRACE(c.name);
        const fs::path tape = generateTape(c.fileName, c.dvgenArguments);
        const fs::path chosen = freshTestFolder() / "saved";
        std::FILE* progress = std::tmpfile();
        ASSERT_NE(progress, nullptr);
        const GrabResult result = GrabFrames(tape.string(), middleOfFrame(c.frame, c.isPal), panel,
                                             [&] { return chosen.string(); }, progress);
        EXPECT_EQ(textOf(progress), "Grabbing bitmaps from " + tape.string() + ".\r\nSample grabbing complete.\r\n");
        std::fclose(progress);
        ASSERT_EQ(result.outcome, GrabOutcome::Saved) << result.message;
        EXPECT_EQ(result.bitmapPath, chosen.string() + ".bmp");
        EXPECT_EQ(readBytes(result.bitmapPath).size(), c.expectedFileBytes);

        // An independent reader: ffmpeg's BMP decoder.
        const auto read = ffmpegReadBitmap(result.bitmapPath);
        ASSERT_TRUE(read) << "ffmpeg cannot read the bitmap";
        ASSERT_EQ(read->width, 720);
        ASSERT_EQ(read->height, c.isPal ? 576 : 480);

        // The picture is that frame as ffmpeg decodes it, within the colour conversion's rounding,
        // and plainly not the frame beside it.
        const auto decoded = ffmpegDecodedFrame(tape, c.frame);
        const auto neighbour = ffmpegDecodedFrame(tape, c.frame == 0 ? 1 : c.frame - 1);
        ASSERT_TRUE(decoded && neighbour);
        ASSERT_EQ(decoded->size(), read->bgr.size());
        const auto same = differenceOutsidePanel(read->bgr, *decoded, read->width, read->height, panel);
        const auto other = differenceOutsidePanel(read->bgr, *neighbour, read->width, read->height, panel);
        EXPECT_LE(same.largest, 4) << "mean " << same.meanAbsolute;
        EXPECT_GT(other.meanAbsolute, 20 * same.meanAbsolute + 0.1) << "the neighbouring frame was saved";

        // Under the panel: each byte the frame's OR the panel's, so red and green are 255 under
        // the glyphs; the frame is our own decoding of the same time.
        const auto frame = GrabPicture(tape.string(), middleOfFrame(c.frame, c.isPal));
        ASSERT_TRUE(frame) << frame.error();
        int glyphPixels = 0;
        for (int y = 0; y < panel.height(); ++y) {
            for (int x = 0; x < panel.width(); ++x) {
                const std::size_t at = (static_cast<std::size_t>(y) * read->width + x) * 3;
                const QRgb under = frame->pixel(x, y);
                const QRgb over = panel.pixel(x, y);
                ASSERT_EQ(read->bgr[at + 0], qBlue(under) | qBlue(over)) << x << "," << y;
                ASSERT_EQ(read->bgr[at + 1], qGreen(under) | qGreen(over)) << x << "," << y;
                ASSERT_EQ(read->bgr[at + 2], qRed(under) | qRed(over)) << x << "," << y;
                if (over == qRgb(255, 255, 0)) {
                    ++glyphPixels;
                    ASSERT_EQ(read->bgr[at + 1], 255);
                    ASSERT_EQ(read->bgr[at + 2], 255);
                }
            }
        }
        EXPECT_GT(glyphPixels, 400);
    }
}

TEST(FrameGrabber, a_picture_of_another_size_is_saved_at_its_real_size_with_padded_rows)
{
    if (!hasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    // 350 pixels: 1050 bytes a row, 1052 in the file; narrower than the panel, which is cut.
    const fs::path dir = freshTestFolder();
    const fs::path movie = dir / "odd.avi";
    ASSERT_EQ(testsupport::runShell("ffmpeg -v error -f lavfi -i testsrc=size=350x200:rate=25 -t 1 -c:v rawvideo "
                                    "-pix_fmt bgr24 " + testsupport::shellQuote(movie.string())).exitCode, 0);
    const QImage panel = panelPicture();
    const GrabResult result = GrabFrames(movie.string(), middleOfFrame(7, true), panel,
                                         [&] { return (dir / "odd").string(); });
    ASSERT_EQ(result.outcome, GrabOutcome::Saved) << result.message;
    EXPECT_EQ(readBytes(result.bitmapPath).size(), 54u + 1052u * 200u);
    const auto read = ffmpegReadBitmap(result.bitmapPath);
    ASSERT_TRUE(read);
    ASSERT_EQ(read->width, 350);
    ASSERT_EQ(read->height, 200);
    const auto decoded = ffmpegDecodedFrame(movie, 7);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), read->bgr.size());
    EXPECT_EQ(differenceOutsidePanel(read->bgr, *decoded, 350, 200, panel).largest, 0);
    EXPECT_EQ(read->bgr[(105 * 350 + 349) * 3 + 1], 255) << "the panel's glyph row reaches the right edge";
    EXPECT_EQ(read->bgr[(105 * 350 + 349) * 3 + 2], 255) << "the panel's glyph row reaches the right edge";
}

struct RefusalCase {
    const char* name;
    // Prepares the test's folder and returns the name "chosen" in the dialog.
    std::function<std::string(const fs::path& dir)> choose;
    GrabOutcome outcome;
    const char* reason;  // in the message for the user
};

TEST(FrameGrabber, a_cancelled_or_unwritable_bitmap_leaves_no_file_and_says_why)
{
    const fs::path tape = generateTape("refusals.dv", {"--format", "dv", "--frames", "3"});
    const RefusalCase cases[] = {
        {"cancelled", [](const fs::path&) { return std::string(); }, GrabOutcome::Cancelled, ""},
        {"folder_missing", [](const fs::path& dir) { return (dir / "missing" / "shot").string(); }, GrabOutcome::Failed,
         "No such file or directory"},
        {"disk_full",
         [](const fs::path& dir) {
             fs::create_symlink("/dev/full", dir / "shot.bmp");
             return (dir / "shot.bmp").string();
         },
         GrabOutcome::Failed, "No space left on device"},
        {"name_of_a_folder",
         [](const fs::path& dir) {
             fs::create_directory(dir / "shot.bmp");
             return (dir / "shot.bmp").string();
         },
         GrabOutcome::Failed, "Is a directory"},
    };
    const fs::path startFolder = fs::current_path();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshTestFolder();
        const auto chosen = c.choose(dir);
        const auto prepared = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
        fs::current_path(dir);  // where a nameless bitmap would land
        const GrabResult result = GrabFrames(tape.string(), 0, panelPicture(), [&] { return chosen; }, stdout);
        fs::current_path(startFolder);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_NE(result.message.find(c.reason), std::string::npos) << result.message;
        if (c.outcome == GrabOutcome::Failed) {
            EXPECT_NE(result.message.find(chosen), std::string::npos) << result.message;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), prepared)
            << "something was written into " << dir;
    }
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

struct SourceCase {
    const char* name;
    std::function<fs::path(const fs::path& dir)> source;
    std::int64_t startTime;
    const char* text;
};

TEST(FrameGrabber, a_source_without_a_picture_at_the_time_asks_for_no_name_and_writes_its_text)
{
    const fs::path tape = generateTape("short.avi", {"--frames", "5"});
    const SourceCase cases[] = {
        {"missing_file", [](const fs::path& dir) { return dir / "nothing.avi"; }, 0, "Could not load the media file\r\n"},
        {"text_file",
         [](const fs::path& dir) {
             const auto path = dir / "notes.avi";
             std::FILE* f = std::fopen(path.c_str(), "w");
             std::fputs("these are notes, not a movie\n", f);
             std::fclose(f);
             return path;
         },
         0, "Could not connect source filter to grabber\r\n"},
        {"past_the_end", [&](const fs::path&) { return tape; }, 10 * k100nsPerSecond,
         "Could not connect source filter to grabber\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path dir = freshTestFolder();
        const fs::path source = c.source(dir);
        bool wasAsked = false;
        std::FILE* progress = std::tmpfile();
        ASSERT_NE(progress, nullptr);
        const GrabResult result = GrabFrames(source.string(), c.startTime, panelPicture(), [&] {
            wasAsked = true;
            return (dir / "shot").string();
        }, progress);
        EXPECT_EQ(textOf(progress), "Grabbing bitmaps from " + source.string() + ".\r\n" + c.text);
        std::fclose(progress);
        EXPECT_EQ(result.outcome, GrabOutcome::Failed);
        EXPECT_FALSE(result.message.empty());
        EXPECT_FALSE(wasAsked);
        EXPECT_FALSE(fs::exists(dir / "shot.bmp"));
    }
}

}  // namespace
}  // namespace vantrel::grab
