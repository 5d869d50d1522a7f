// SPDX-License-Identifier: GPL-3.0-or-later
// Exports read back by the peers: ffprobe for frames, duration, aspect, streams and chapters;
// ffmpeg's decoding of a burnt-in frame compared with the panel picture of that frame.
#include "tape_fixture.h"

#include "avi/analysis_thread.h"
#include "avi/dv_avi.h"
#include "dv/info_lines.h"
#include "export/burn_in.h"
#include "panel/info_panel_picture.h"
#include "support/test_files.h"

#include <QImage>

#include <csignal>
#include <filesystem>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace vantrel::exporttest {
namespace {

// ffprobe's values of `entries` ("stream=codec_name", "chapter=start_time"), one a line, of the
// first stream of `kind` (v, a, s; its frames counted) or of the whole file.
std::string probed(const std::string& file, const std::string& entries, const char* kind = nullptr)
{
    std::vector<std::string> args{"ffprobe", "-v", "error", "-show_entries", entries, "-of", "default=nw=1:nk=1"};
    if (kind != nullptr) args.insert(args.end(), {"-count_frames", "-select_streams", kind});
    args.push_back(file);
    return runTool(args).out;
}

struct ExportCase {
    const char* name;
    std::vector<std::string> tape;
    std::vector<std::string> exportOptions;
    const char* output;
    const char* frames;
    const char* aspect;
    const char* codecs;    // of the streams, in order (MP4 also keeps the chapters in a data track)
    const char* chapters;  // start times
};

void PrintTo(const ExportCase& c, std::ostream* out)
{
    *out << c.name;
}

const ExportCase kExportCases[] = {
    {"mp4_with_chapters_and_subtitles", {"--frames", "300", "--jump", "100:+60", "--jump", "250:-5"},
     {"--chapters", "--subtitles"}, "out.mp4", "300", "4:3", "h264\naac\nmov_text\nbin_data\n", "0.000000\n4.000000\n10.000000\n"},
    {"wide_matroska_deinterlaced", {"--frames", "120", "--aspect", "16:9", "--jump", "60:+100"},
     {"--chapters", "--subtitles", "--deinterlace", "--opus"}, "out.mkv", "120", "16:9", "h264\nopus\nsubrip\n", "0.000000\n2.400000\n"},
    {"ntsc_plain", {"--system", "ntsc", "--frames", "90"}, {"--crf", "30"}, "out.mp4", "90", "4:3", "h264\naac\n", ""},
};

class Export : public ::testing::TestWithParam<ExportCase> {};

TEST_P(Export, ffprobe_reads_frames_aspect_streams_and_chapters)
{
    if (!testsupport::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg and ffprobe missing";
    const ExportCase& c = GetParam();
    test::ScratchDir dir(std::string("export-") + c.name);
    const std::string tape = makeTape(dir, "tape.avi", c.tape);
    std::vector<std::string> args = c.exportOptions;
    const std::string out = dir.file(c.output);
    args.insert(args.end(), {tape, out});
    const ToolResult made = runOurs(VANTREL_EXPORT_PATH, args);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_NE(made.err.find("100%"), std::string::npos) << "no progress shown: " << made.err;

    EXPECT_EQ(probed(out, "stream=codec_name"), c.codecs);
    EXPECT_EQ(probed(out, "stream=nb_read_frames", "v"), c.frames + std::string("\n"));
    EXPECT_EQ(probed(out, "stream=display_aspect_ratio", "v"), c.aspect + std::string("\n"));
    EXPECT_EQ(probed(out, "chapter=start_time"), c.chapters);
    const double frameSeconds = c.tape.front() == "--system" ? 1001.0 / 30000.0 : 0.04;
    EXPECT_NEAR(std::stod(probed(out, "format=duration")), std::stod(c.frames) * frameSeconds, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Files, Export, ::testing::ValuesIn(kExportCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Frame `index` of a file as ffmpeg decodes it: 720 x height BGR rows.
QImage decodedFrame(const std::string& file, int index, int height)
{
    const std::string raw = file + ".frame.bgr";
    const ToolResult r = runTool({"ffmpeg", "-v", "error", "-y", "-i", file, "-vf",
                                  "select=eq(n\\," + std::to_string(index) + ")", "-frames:v", "1", "-pix_fmt", "bgr24",
                                  "-f", "rawvideo", raw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto bytes = testsupport::readBytes(raw);
    if (bytes.size() != static_cast<std::size_t>(720 * 3 * height)) return {};
    return QImage(reinterpret_cast<const uchar*>(bytes.data()), 720, height, 720 * 3, QImage::Format_BGR888).copy();
}

// The panel picture of frame `index` as the player shows it after playing from frame 0.
QImage panelOfFrame(const std::string& tape, std::size_t index)
{
    auto opened = avi::OpenDVAvi(tape);
    EXPECT_TRUE(opened);
    avi::AnalysisThread analysis;
    analysis.start(std::make_shared<const avi::DvAvi>(std::move(opened.value())));
    analysis.waitUntilFinished();
    panel::InfoPanelPicture picture(exporting::PanelBurnIn::panelSize());
    dv::InfoLineFormatter formatter(&picture);
    for (std::size_t i = 0; i <= index; ++i) formatter.ShowFrameInfo(*analysis.recordFor(i), static_cast<long>(i));
    return picture.picture();
}

// Mean difference of brightness between the frame's top left corner and a panel picture: on a
// black picture the burnt-in corner is the panel picture itself, give or take the compression.
double meanDifference(const QImage& frame, const QImage& panel)
{
    double sum = 0;
    for (int y = 0; y < panel.height(); ++y)
        for (int x = 0; x < panel.width(); ++x) sum += std::abs(qGray(frame.pixel(x, y)) - qGray(panel.pixel(x, y)));
    return sum / (panel.width() * panel.height());
}

TEST(ExportBurnIn, panel_text_of_the_frame_is_in_the_decoded_frame)
{
    if (!testsupport::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg and ffprobe missing";
    test::ScratchDir dir("export-burn-panel");
    // A dark picture so that the yellow text stands out as it does on most tapes.
    const std::string tape = makeTape(dir, "tape.avi", {"--frames", "80", "--pattern", "black", "--jump", "40:+3600",
                                                        "--shutter", "60:250"});
    const std::string out = dir.file("burnt.mkv");
    const ToolResult made = runOurs(VANTREL_EXPORT_PATH, {"--burn-in", "panel", "--crf", "18", tape, out});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const QImage frame = decodedFrame(out, 69, 576);
    ASSERT_FALSE(frame.isNull());
    // Frame 69's own text (its hour, frame number and shutter) is there: its panel picture is
    // closer to the corner than those of frame 20 (another scene and shutter) and of the
    // frames on either side (another frame number).
    const double own = meanDifference(frame, panelOfFrame(tape, 69));
    EXPECT_LT(own, 4.0);
    for (const std::size_t other : {20u, 68u, 70u}) {
        EXPECT_LT(own * 1.05, meanDifference(frame, panelOfFrame(tape, other))) << "frame " << other;
    }
}

TEST(ExportBurnIn, date_is_drawn_in_the_lower_right_corner)
{
    if (!testsupport::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg and ffprobe missing";
    test::ScratchDir dir("export-burn-date");
    const std::string tape = makeTape(dir, "tape.avi", {"--frames", "50", "--pattern", "black", "--no-date", "30-49"});
    const std::string out = dir.file("burnt.mp4");
    const ToolResult made = runOurs(VANTREL_EXPORT_PATH, {"--burn-in", "date", tape, out});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const QRect area = exporting::DateBurnIn::textArea(720, 576);
    const auto brightIn = [&](const QImage& image) {
        int bright = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) bright += qGray(image.pixel(x, y)) > 200;
        return bright;
    };
    // A dated frame has white text there; a frame without a date has none.
    EXPECT_GT(brightIn(decodedFrame(out, 10, 576)), 300);
    EXPECT_EQ(brightIn(decodedFrame(out, 40, 576)), 0);
}

// A place that cannot be written is refused with exit status 2 before any frame is read.
TEST(ExportFailures, unwritable_output_fails_before_any_work)
{
    test::ScratchDir dir("export-unwritable");
    const std::string tape = makeTape(dir, "tape.avi", {"--frames", "10"});
    std::filesystem::create_directory(dir.path() / "folder.mp4");
    const struct {
        const char* program;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {VANTREL_EXPORT_PATH, {tape, dir.file("no/such/folder/out.mp4")}, "vantrel-export: cannot write"},
        {VANTREL_EXPORT_PATH, {tape, dir.file("folder.mp4")}, "vantrel-export: cannot write"},
        {VANTREL_EXPORT_PATH, {tape, dir.file("out.avi")}, "vantrel-export: "},
        {VANTREL_EXPORT_PATH, {"--subtitles", tape, dir.file("missing/dates.srt")}, "cannot write"},
        {VANTREL_SPLIT_PATH, {tape, dir.file("no/such/folder/base")}, "cannot write into"},
    };
    for (const auto& c : cases) {
        const ToolResult r = runOurs(c.program, c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.back();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('%'), std::string::npos) << "work began: " << r.err;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << "only the tape and the folder";
}

TEST(ExportFailures, damaged_file_exports_the_readable_frames_and_names_the_damage)
{
    if (!testsupport::hasTool("ffmpeg")) GTEST_SKIP() << "ffmpeg and ffprobe missing";
    test::ScratchDir dir("export-damaged");
    const std::string tape = makeTape(dir, "tape.avi", {"--frames", "100", "--type", "1"});
    // Cut the file in the middle of frame 60's chunk: an interrupted capture without its index.
    const auto bytes = testsupport::readBytes(tape);
    auto opened = avi::OpenDVAvi(tape);
    ASSERT_TRUE(opened);
    const std::uint64_t cut = opened.value().reader().sample(opened.value().streamIndex(), 60).offsetBytes + 50000;
    ASSERT_TRUE(testsupport::writeBytes(dir.file("cut.avi"), std::span(bytes).first(cut)));
    const std::string out = dir.file("out.mp4");
    const ToolResult made = runOurs(VANTREL_EXPORT_PATH, {dir.file("cut.avi"), out});
    EXPECT_EQ(made.exitCode, 1) << made.err;
    EXPECT_NE(made.err.find("interrupted write"), std::string::npos) << made.err;
    EXPECT_NE(made.err.find("60 frames exported"), std::string::npos) << made.err;
    EXPECT_EQ(probed(out, "stream=nb_read_frames", "v"), "60\n");
}

TEST(ExportFailures, interrupt_leaves_no_file_under_the_final_name)
{
    test::ScratchDir dir("export-interrupt");
    const std::string tape = makeTape(dir, "tape.avi", {"--frames", "1500", "--pictures", "5"});
    const std::string out = dir.file("out.mp4");
    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(errPipe[0]);
        ::execl(VANTREL_EXPORT_PATH, VANTREL_EXPORT_PATH, tape.c_str(), out.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(errPipe[1]);
    // Wait for the first progress report: encoding is under way.
    std::string err;
    char buffer[256];
    ssize_t n = 0;
    while (err.find('%') == std::string::npos && (n = ::read(errPipe[0], buffer, sizeof buffer)) > 0) err.append(buffer, n);
    ::kill(child, SIGINT);
    while ((n = ::read(errPipe[0], buffer, sizeof buffer)) > 0) err.append(buffer, n);
    ::close(errPipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << err;
    EXPECT_FALSE(std::filesystem::exists(out));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_FALSE(entry.path().filename().string().ends_with(".part")) << entry.path();
    }
}

}  // namespace
}  // namespace vantrel::exporttest
