// SPDX-License-Identifier: GPL-3.0-or-later
// Scene lists, date subtitles and the split by scene, on generated tapes whose cuts are known.
#include "tape_fixture.h"

#include "avi/dv_avi.h"
#include "support/test_files.h"

#include <algorithm>
#include <filesystem>

namespace vantrel::exporttest {
namespace {

// Tapes start at 14.07.2004 18:03:09, one second every 25 frames. Frame 110 lies 4.4 s in: a
// jump there of +1 s moves the clock from 18:03:13 to :14, a step of exactly the gap; a jump
// of +2 at frame 160 (6.4 s) moves :15 to :17, two seconds, a cut.
struct SceneCase {
    const char* name;
    std::vector<std::string> tape;
    std::vector<std::string> probeOptions;
    std::vector<std::size_t> expectedStarts;
};

void PrintTo(const SceneCase& c, std::ostream* out)
{
    *out << c.name;
}

const SceneCase kSceneCases[] = {
    {"jumps_forward_and_back", {"--frames", "300", "--jump", "100:+60", "--jump", "200:-3600"}, {}, {0, 100, 200}},
    {"step_of_exactly_the_gap_does_not_cut", {"--frames", "200", "--jump", "110:+1", "--jump", "160:+2"}, {}, {0, 160}},
    // The jump falls among frames without a date: they stay in the scene before, and the next
    // dated frame is compared with the last dated one.
    {"undated_frames_stay_in_their_scene", {"--frames", "200", "--no-date", "90-130", "--jump", "120:+60"}, {}, {0, 131}},
    {"scene_gap_of_zero_never_cuts", {"--frames", "150", "--jump", "50:+600"}, {"--scene-gap", "0"}, {0}},
    {"wider_gap_keeps_a_short_jump", {"--frames", "150", "--jump", "50:+5", "--jump", "100:+90"}, {"--scene-gap", "10"}, {0, 100}},
    {"ntsc_tape", {"--system", "ntsc", "--frames", "200", "--jump", "77:+3600"}, {}, {0, 77}},
};

class SceneList : public ::testing::TestWithParam<SceneCase> {};

TEST_P(SceneList, starts_where_the_recording_time_jumps_more_than_the_gap)
{
    const SceneCase& c = GetParam();
    test::ScratchDir dir(std::string("scenes-") + c.name);
    const std::string tape = makeTape(dir, "tape.avi", c.tape);
    std::vector<std::string> args = c.probeOptions;
    args.insert(args.end(), {"--scenes", "--json", tape});
    const ToolResult scenes = runOurs(VANTREL_PROBE_PATH, args);
    ASSERT_EQ(scenes.exitCode, 0) << scenes.err;
    EXPECT_EQ(sceneStarts(scenes), c.expectedStarts) << scenes.out;
}

INSTANTIATE_TEST_SUITE_P(Tapes, SceneList, ::testing::ValuesIn(kSceneCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Frame 100 is 4 s in (18:03:13 + 60 s); 100 frames are four seconds; the time code counts on.
TEST(SceneList, text_lines_give_dates_duration_and_time_code_of_each_scene)
{
    const struct {
        std::vector<std::string> tape;
        const char* out;
        const char* note;  // on standard error
    } cases[] = {
        {{"--frames", "300", "--jump", "100:+60", "--timecode", "0:12:31:04"},
         "0\t99\t14.07.2004 18:03:09\t14.07.2004 18:03:12\t100\t0:00:04.0\t00:12:31:04\n"
         "100\t299\t14.07.2004 18:04:13\t14.07.2004 18:04:20\t200\t0:00:08.0\t00:12:35:04\n",
         ""},
        {{"--frames", "60", "--no-date", "0-59"},
         "0\t59\tNo recording date !\tNo recording date !\t60\t0:00:02.4\t00:00:00:00\n",
         "no frame carries a recording date"},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir("scenes-text");
        const ToolResult scenes = runOurs(VANTREL_PROBE_PATH, {"--scenes", makeTape(dir, "tape.avi", c.tape)});
        EXPECT_EQ(scenes.exitCode, 0) << scenes.err;
        EXPECT_EQ(scenes.out, c.out);
        EXPECT_NE(scenes.err.find(c.note), std::string::npos) << scenes.err;
    }
}

// "2004-07-14T18:03:09" as the panel shows it: "14.07.2004 18:03:09".
std::string panelDate(const std::string& iso)
{
    return iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4) + " " + iso.substr(11);
}

// Milliseconds of an SRT or VTT time "hh:mm:ss,mmm".
long long cueMs(const std::string& text)
{
    return std::stoll(text.substr(0, 2)) * 3600000 + std::stoll(text.substr(3, 2)) * 60000 +
           std::stoll(text.substr(6, 2)) * 1000 + std::stoll(text.substr(9, 3));
}

struct Cue {
    long long startMs;
    long long endMs;
    std::string text;
};

std::vector<Cue> readCues(const std::string& path)
{
    std::vector<Cue> cues;
    const auto lines = testsupport::splitLines(testsupport::readText(path));
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].find(" --> ") == std::string::npos) continue;
        cues.push_back({cueMs(lines[i].substr(0, 12)), cueMs(lines[i].substr(17, 12)), lines[i + 1]});
    }
    return cues;
}

struct SubtitleCase {
    const char* name;
    const char* system;
    const char* fileName;
    double frameMs;
};

void PrintTo(const SubtitleCase& c, std::ostream* out)
{
    *out << c.name;
}

class DateSubtitles : public ::testing::TestWithParam<SubtitleCase> {};

TEST_P(DateSubtitles, each_frame_time_shows_the_probed_date_of_that_frame)
{
    const SubtitleCase& c = GetParam();
    test::ScratchDir dir(std::string("subtitles-") + c.name);
    const std::string tape = makeTape(
        dir, "tape.avi", {"--system", c.system, "--frames", "240", "--jump", "70:+3600", "--no-date", "100-149", "--no-time", "200-209"});
    const std::string subtitles = dir.file(c.fileName);
    const ToolResult made = runOurs(VANTREL_EXPORT_PATH, {"--subtitles", tape, subtitles});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const auto cues = readCues(subtitles);
    const auto dates = jsonColumn(runOurs(VANTREL_PROBE_PATH, {"--json", tape}), "recorded");
    ASSERT_EQ(dates.size(), 240u);
    for (std::size_t i = 0; i < dates.size(); ++i) {
        // The middle of the frame's time: cue ends are rounded to milliseconds.
        const double at = (static_cast<double>(i) + 0.5) * c.frameMs;
        const auto cue = std::find_if(cues.begin(), cues.end(), [&](const Cue& q) { return q.startMs <= at && at < q.endMs; });
        if (!dates[i]) {
            EXPECT_EQ(cue, cues.end()) << "frame " << i << " has no date but shows " << cue->text;
        } else {
            ASSERT_NE(cue, cues.end()) << "frame " << i << " shows no cue";
            EXPECT_EQ(cue->text, panelDate(*dates[i])) << "frame " << i;
        }
    }
    if (std::string(c.fileName).ends_with(".vtt")) {
        EXPECT_EQ(testsupport::readText(subtitles).substr(0, 8), "WEBVTT\n\n");
    }
}

const SubtitleCase kSubtitleCases[] = {
    {"pal_srt", "pal", "dates.srt", 40.0},
    {"pal_vtt", "pal", "dates.vtt", 40.0},
    {"ntsc_srt", "ntsc", "dates.srt", 1001.0 / 30.0},
};
INSTANTIATE_TEST_SUITE_P(Formats, DateSubtitles, ::testing::ValuesIn(kSubtitleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// One text for all 30 frames when the format shows no seconds; a tape without dates has no cue.
TEST(DateSubtitles, strftime_format_and_a_tape_without_dates)
{
    const struct {
        std::vector<std::string> tape;
        std::vector<std::string> options;
        const char* fileName;
        const char* text;
        const char* note;
    } cases[] = {
        {{"--frames", "30"}, {"--format", "%Y/%m/%d %Hh%M"}, "a.srt",
         "1\n00:00:00,000 --> 00:00:01,200\n2004/07/14 18h03\n\n", ""},
        {{"--frames", "30", "--no-date", "0-29"}, {}, "b.vtt", "WEBVTT\n\n", "no cue"},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir("subtitles-format");
        std::vector<std::string> args{"--subtitles"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.insert(args.end(), {makeTape(dir, "tape.avi", c.tape), dir.file(c.fileName)});
        const ToolResult made = runOurs(VANTREL_EXPORT_PATH, args);
        EXPECT_EQ(made.exitCode, 0) << made.err;
        EXPECT_EQ(testsupport::readText(dir.file(c.fileName)), c.text);
        EXPECT_NE(made.err.find(c.note), std::string::npos) << made.err;
    }
}

// The frames of a file, read with the project's reader.
std::vector<std::vector<std::byte>> framesOf(const std::string& path)
{
    auto opened = avi::OpenDVAvi(path);
    EXPECT_TRUE(opened) << path;
    std::vector<std::vector<std::byte>> frames;
    if (!opened) return frames;
    for (std::size_t i = 0; i < opened.value().frameCount(); ++i) {
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        const auto read = opened.value().readFrame(i, frame);
        EXPECT_TRUE(read);
        frame.resize(read ? *read : 0);
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Each tape is also captured from the virtual camcorder with the same options: the same files,
// byte for byte (one writer, one naming and one split rule; the writer puts no wall-clock time in
// a file, so no header field may differ). Frames without a date stay in the scene before them and
// the next dated frame is compared with the last dated one.
struct SplitCase {
    const char* name;
    std::vector<std::string> tape;
    std::vector<std::string> splitOptions;
    std::vector<std::string> expectedNames;   // after the base; named by the first frame's date
    std::vector<std::size_t> expectedFrames;
};

void PrintTo(const SplitCase& c, std::ostream* out)
{
    *out << c.name;
}

const SplitCase kSplitCases[] = {
    {"scenes_of_a_type2_tape", {"--frames", "300", "--jump", "100:+60", "--jump", "200:+3"}, {},
     {"04-07-14_18-03.00.avi", "04-07-14_18-04.00.avi", "04-07-14_18-04.01.avi"}, {100, 100, 100}},
    {"full_files_and_a_type1_output", {"--frames", "120"}, {"--frames-per-file", "50", "--type", "1"},
     {"04-07-14_18-03.00.avi", "04-07-14_18-03.01.avi", "04-07-14_18-03.02.avi"}, {50, 50, 20}},
    {"raw_dv_input_and_a_name_format", {"--format", "dv", "--frames", "100", "--jump", "40:+86400"},
     {"--name-format", "%Y%m%d"}, {"20040714.00.avi", "20040715.00.avi"}, {40, 60}},
    {"undated_frames_and_a_jump_back", {"--frames", "400", "--jump", "90:+61", "--no-date", "150-170",
     "--jump", "160:-30", "--jump", "300:+2"}, {},
     {"04-07-14_18-03.00.avi", "04-07-14_18-04.00.avi", "04-07-14_18-03.01.avi", "04-07-14_18-03.02.avi"},
     {90, 81, 129, 100}},
    {"ntsc_with_a_wider_gap", {"--system", "ntsc", "--frames", "200", "--jump", "50:+4", "--jump", "120:+30"},
     {"--scene-gap", "5"}, {"04-07-14_18-03.00.avi", "04-07-14_18-03.01.avi"}, {120, 80}},
};

class SplitByScene : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitByScene, files_are_cut_at_the_scenes_named_by_date_and_hold_the_frames_unchanged)
{
    const SplitCase& c = GetParam();
    test::ScratchDir dir(std::string("split-") + c.name);
    const std::string tape = makeTape(dir, c.tape.front() == "--format" ? "tape.dv" : "tape.avi", c.tape);
    std::filesystem::create_directory(dir.path() / "out");
    std::filesystem::create_directory(dir.path() / "captured");
    std::vector<std::string> args = c.splitOptions;
    args.insert(args.end(), {tape, dir.file("out/holiday")});
    const ToolResult split = runOurs(VANTREL_SPLIT_PATH, args);
    ASSERT_EQ(split.exitCode, 0) << split.err;
    std::vector<std::string> capture{VANTREL_CAPTURE_PATH};
    capture.insert(capture.end(), c.splitOptions.begin(), c.splitOptions.end());
    capture.push_back(dir.file("captured/holiday"));
    std::vector<std::string> environment = kZone;
    environment.insert(environment.end(), {"VANTREL_VIRTUAL_CAMCORDER=" + tape, "VANTREL_VIRTUAL_SPEED=max"});
    const ToolResult captured = runTool(capture, environment, 300);
    ASSERT_EQ(captured.exitCode, 0) << captured.err;

    std::vector<std::string> expectedPaths;
    for (const std::string& name : c.expectedNames) expectedPaths.push_back(dir.file("out/holiday." + name));
    EXPECT_EQ(testsupport::splitLines(split.out), expectedPaths);
    const auto source = framesOf(tape);
    std::size_t next = 0;
    for (std::size_t k = 0; k < expectedPaths.size(); ++k) {
        const auto frames = framesOf(expectedPaths[k]);
        ASSERT_EQ(frames.size(), c.expectedFrames[k]) << expectedPaths[k];
        for (const auto& frame : frames) {
            ASSERT_LT(next, source.size());
            ASSERT_TRUE(frame == source[next]) << "frame " << next << " changed in " << expectedPaths[k];
            ++next;
        }
        const auto capturedFile = dir.path() / "captured" / ("holiday." + c.expectedNames[k]);
        EXPECT_TRUE(testsupport::readBytes(capturedFile) == testsupport::readBytes(expectedPaths[k])) << capturedFile;
    }
    EXPECT_EQ(next, source.size());
    // No working file ("~" before the date) is left, and the capture wrote no other file.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "out")) {
        EXPECT_EQ(entry.path().filename().string().find('~'), std::string::npos) << entry.path();
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / "captured"), {}),
              static_cast<std::ptrdiff_t>(expectedPaths.size()));
}

INSTANTIATE_TEST_SUITE_P(Tapes, SplitByScene, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::exporttest
