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

// The picture of a bitmap file as ffmpeg's BMP reader gives it (BGR, rows top-down) and its size.
struct ReadPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};

std::optional<ReadPicture> ffmpegReadBitmap(const fs::path& bitmap)
{
    ReadPicture picture;
    const auto size = runShell("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
                               shellQuote(bitmap.string()));
    const auto pixels = runShell("ffmpeg -v error -i " + shellQuote(bitmap.string()) + " -f rawvideo -pix_fmt bgr24 -");
    if (std::sscanf(size.out.c_str(), "bmp,%d,%d", &picture.width, &picture.height) != 2 || pixels.exitCode != 0) {
        return std::nullopt;
    }
    picture.bgr.assign(pixels.out.begin(), pixels.out.end());
    return picture;
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

// The largest and the mean byte difference of two BGR pictures where the panel is black.
std::pair<int, double> differenceOutsidePanel(const ReadPicture& ours, const std::vector<std::uint8_t>& theirs,
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

// Every picture differs from the one before. The odd movie is 350 pixels wide: 1050 bytes a row,
// 1052 in the file, and narrower than the panel, which is cut.
struct TapeCase {
    const char* name;
    std::vector<std::string> dvgenArguments;  // none: the movie of `ffmpegMovie`
    const char* ffmpegMovie;
    dv::VideoSystem system;
    int frame;
    int width;
    int height;
    std::size_t fileBytes;  // 54 + padded row × height
};

TEST(FrameGrabber, saves_the_frame_at_the_time_as_ffmpeg_decodes_it_with_the_panel_ored_over_it)
{
    if (!hasFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const TapeCase cases[] = {
        {"pal2.avi", {"--type", "2", "--frames", "30", "--pictures", "30"}, nullptr, kPal, 17, 720, 576, 1244214},
        {"pal1.avi", {"--type", "1", "--frames", "12", "--pictures", "12"}, nullptr, kPal, 0, 720, 576, 1244214},
        {"ntsc.dv", {"--system", "ntsc", "--format", "dv", "--frames", "30", "--pictures", "30"}, nullptr,
         dv::VideoSystem::Ntsc525_60, 21, 720, 480, 1036854},
        {"odd.avi", {}, "-f lavfi -i testsrc=size=350x200:rate=25 -t 1 -c:v rawvideo -pix_fmt bgr24", kPal, 7, 350, 200,
         54 + 1052 * 200},
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
        std::FILE* progress = std::tmpfile();
        const std::int64_t time = timeInsideFrame(c.frame, c.system);
        const GrabResult result = GrabFrames(tape.string(), time, panel, [&] { return chosen.string(); }, progress);
        EXPECT_EQ(textOf(progress), "Grabbing bitmaps from " + tape.string() + ".\r\nSample grabbing complete.\r\n");
        ASSERT_EQ(result.outcome, GrabOutcome::Saved) << result.message;
        EXPECT_EQ(result.bitmapPath, chosen.string() + ".bmp");
        EXPECT_EQ(testsupport::readBytes(result.bitmapPath).size(), c.fileBytes);

        const auto read = ffmpegReadBitmap(result.bitmapPath);  // an independent reader
        ASSERT_TRUE(read) << "ffmpeg cannot read the bitmap";
        ASSERT_EQ(read->width, c.width);
        ASSERT_EQ(read->height, c.height);
        // That frame as ffmpeg decodes it, within the colour conversion's rounding, not its neighbour.
        const auto decoded = ffmpegDecodedFrame(tape, c.frame);
        const auto neighbour = ffmpegDecodedFrame(tape, c.frame == 0 ? 1 : c.frame - 1);
        ASSERT_TRUE(decoded && neighbour && decoded->size() == read->bgr.size());
        const auto [largest, mean] = differenceOutsidePanel(*read, *decoded, panel);
        EXPECT_LE(largest, c.ffmpegMovie != nullptr ? 0 : 4) << "mean " << mean;  // raw pixels need no conversion
        EXPECT_GT(differenceOutsidePanel(*read, *neighbour, panel).second, 20 * mean + 0.1) << "the neighbour was saved";

        // Under the panel each byte is the frame's OR the panel's: red and green 255 under the glyphs.
        const auto frame = GrabPicture(tape.string(), time);
        ASSERT_TRUE(frame) << frame.error();
        const auto at = [&](int x, int y) { return &read->bgr[(static_cast<std::size_t>(y * c.width + x)) * 3]; };
        for (int y = 0; y < std::min(panel.height(), c.height); ++y) {
            for (int x = 0; x < std::min(panel.width(), c.width); ++x) {
                const QRgb ored = frame->pixel(x, y) | panel.pixel(x, y);
                ASSERT_EQ(qRgb(at(x, y)[2], at(x, y)[1], at(x, y)[0]), ored) << x << "," << y;
            }
        }
        EXPECT_EQ(at(300, 105)[2] & at(300, 105)[1], 255);
    }
}

struct RefusalCase {
    const char* name;
    std::function<std::string(const fs::path& dir)> choose;  // prepares the folder, returns the name chosen
    GrabOutcome outcome;
    const char* reason;
};

TEST(FrameGrabber, a_cancelled_or_unwritable_bitmap_leaves_no_file_and_says_why)
{
    const fs::path tape = testsupport::generateTape("refusals.dv", {"--format", "dv", "--frames", "3"});
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
        const test::ScratchDir scratch("grab-refusal");
        const fs::path& dir = scratch.path();
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
    const fs::path dir = testsupport::freshTestFolder();
    const fs::path tape = testsupport::generateTape("short.avi", {"--frames", "5"});
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
