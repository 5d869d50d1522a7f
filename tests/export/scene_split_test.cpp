// SPDX-License-Identifier: GPL-3.0-or-later
// Scene lists, date subtitles and the split by scene, on generated tapes whose cuts are known. The
// rule that cuts scenes is the capture's, whose cases the split rule's own tests hold.
#include "tape_fixture.h"

#include "avi/dv_avi.h"
#include "support/test_files.h"

#include <algorithm>
#include <filesystem>

namespace vantrel::exporttest {
namespace {

using testsupport::splitLines;

// Tapes start at 14.07.2004 18:03:09, one second every 25 frames (NTSC: 30000/1001 frames) and
// the jumps add up. PAL frame 100 is 4 s in; NTSC frame 120 4.004 s in, frame 119 3.97 s.
TEST(SceneList, lines_give_dates_duration_and_time_code_of_each_scene)
{
    const struct {
        std::vector<std::string> tape;
        std::vector<std::string> options;
        const char* out;
        const char* note;  // on standard error
    } cases[] = {
        {{"--frames", "300", "--jump", "100:+60", "--timecode", "0:12:31:04"}, {},
         "0\t99\t14.07.2004 18:03:09\t14.07.2004 18:03:12\t100\t0:00:04.0\t00:12:31:04\n"
         "100\t299\t14.07.2004 18:04:13\t14.07.2004 18:04:20\t200\t0:00:08.0\t00:12:35:04\n",
         ""},
        {{"--frames", "60", "--no-date", "0-59"}, {},
         "0\t59\tNo recording date !\tNo recording date !\t60\t0:00:02.4\t00:00:00:00\n",
         "no frame carries a recording date"},
        // Five seconds stay within a gap of ten; an hour back cuts.
        {{"--system", "ntsc", "--frames", "200", "--jump", "50:+5", "--jump", "120:-3600"}, {"--scene-gap", "10", "--json"},
         "{\"first_frame\":0,\"last_frame\":119,\"first_recorded\":\"2004-07-14T18:03:09\","
         "\"last_recorded\":\"2004-07-14T18:03:17\",\"frames\":120,\"duration\":\"0:00:04.0\","
         "\"first_timecode\":\"00:00:00:00\"}\n"
         "{\"first_frame\":120,\"last_frame\":199,\"first_recorded\":\"2004-07-14T17:03:18\","
         "\"last_recorded\":\"2004-07-14T17:03:20\",\"frames\":80,\"duration\":\"0:00:02.6\","
         "\"first_timecode\":\"00:00:04:00\"}\n",
         ""},
    };
    for (const auto& c : cases) {
        test::ScratchDir dir("scenes-text");
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--scenes", makeTape(dir, "tape.avi", c.tape)});
        const ToolResult scenes = runOurs(VANTREL_PROBE_PATH, args);
        EXPECT_EQ(scenes.exitCode, 0) << scenes.err;
        EXPECT_EQ(scenes.out, c.out);
        EXPECT_NE(scenes.err.find(c.note), std::string::npos) << scenes.err;
    }
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
    const auto lines = splitLines(testsupport::readText(path));
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].find(" --> ") == std::string::npos) continue;
        cues.push_back({cueMs(lines[i].substr(0, 12)), cueMs(lines[i].substr(17, 12)), lines[i + 1]});
    }
    return cues;
}

struct SubtitleCase {
    const char* name;
    std::vector<std::string> tape;
    std::vector<std::string> options;
    const char* fileName;
    const char* text;  // the whole file; nullptr: each frame's cue against the probe's reading
    const char* note;  // on standard error
};

void PrintTo(const SubtitleCase& c, std::ostream* out)
{
    *out << c.name;
}

const SubtitleCase kSubtitleCases[] = {
    {"pal_srt", {"--frames", "240", "--jump", "70:+3600", "--no-date", "100-149", "--no-time", "200-209"}, {},
     "dates.srt", nullptr, ""},
    {"ntsc_srt", {"--system", "ntsc", "--frames", "240", "--jump", "70:+3600", "--no-date", "100-149", "--no-time", "200-209"},
     {},
     "dates.srt", nullptr, ""},
    // One text for all 30 frames when the format shows no seconds; a tape without dates has no cue.
    {"strftime_format", {"--frames", "30"}, {"--format", "%Y/%m/%d %Hh%M"}, "a.srt",
     "1\n00:00:00,000 --> 00:00:01,200\n2004/07/14 18h03\n\n", ""},
    {"vtt", {"--frames", "30"}, {}, "a.vtt",
     "WEBVTT\n\n00:00:00.000 --> 00:00:01.000\n14.07.2004 18:03:09\n\n00:00:01.000 --> 00:00:01.200\n14.07.2004 18:03:10\n\n",
     ""},
    {"tape_without_dates", {"--frames", "30", "--no-date", "0-29"}, {}, "b.vtt", "WEBVTT\n\n", "no cue"},
};

class DateSubtitles : public ::testing::TestWithParam<SubtitleCase> {};

TEST_P(DateSubtitles, each_frame_time_shows_the_date_the_probe_reads_from_that_frame)
{
    const SubtitleCase& c = GetParam();
    test::ScratchDir dir(std::string("subtitles-") + c.name);
    const std::string tape = makeTape(dir, "tape.avi", c.tape);
    const std::string subtitles = dir.file(c.fileName);
    std::vector<std::string> args{"--subtitles"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), {tape, subtitles});
    const ToolResult made = runOurs(VANTREL_EXPORT_PATH, args);
    ASSERT_EQ(made.exitCode, 0) << made.err;
    EXPECT_NE(made.err.find(c.note), std::string::npos) << made.err;
    if (c.text != nullptr) {
        EXPECT_EQ(testsupport::readText(subtitles), c.text);
        return;
    }
    const auto cues = readCues(subtitles);
    const auto probed = splitLines(runOurs(VANTREL_PROBE_PATH, {tape}).out);
    ASSERT_EQ(probed.size(), 240u);
    const double frameMs = c.tape.front() == "--system" ? 1001.0 / 30.0 : 40.0;
    for (std::size_t i = 0; i < probed.size(); ++i) {
        // The date as the panel shows it ("14.07.2004 18:03:09 Frame 0 ..."), or "No recording date !".
        const std::string date = testsupport::splitFields(probed[i], '\t').at(1).substr(0, 19);
        // The middle of the frame's time: cue ends are rounded to milliseconds.
        const double at = (static_cast<double>(i) + 0.5) * frameMs;
        const auto cue = std::find_if(cues.begin(), cues.end(), [&](const Cue& q) { return q.startMs <= at && at < q.endMs; });
        if (date == "No recording date !") {
            EXPECT_EQ(cue, cues.end()) << "frame " << i << " has no date but shows " << cue->text;
        } else {
            ASSERT_NE(cue, cues.end()) << "frame " << i << " shows no cue";
            EXPECT_EQ(cue->text, date) << "frame " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DateSubtitles, ::testing::ValuesIn(kSubtitleCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Frames without a date stay in the scene before them and the next dated frame is compared with
// the last dated one; files are named after their first frame's date. Each tape is also captured
// from the virtual camcorder with the same options: the same files, byte for byte (one writer, one
// naming and one split rule; the writer puts no wall-clock time in a file, so no header field may
// differ).
struct SplitCase {
    const char* name;
    std::vector<std::string> tape;
    std::vector<std::string> splitOptions;
    std::vector<std::string> expectedNames;   // after the base
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

// The frames of a file, read with the project's reader.
std::vector<std::vector<std::byte>> framesOf(const avi::DvAvi& file)
{
    std::vector<std::vector<std::byte>> frames;
    for (std::size_t i = 0; i < file.frameCount(); ++i) {
        std::vector<std::byte> frame(dv::kMaxFrameBytes);
        const auto read = file.readFrame(i, frame);
        EXPECT_TRUE(read);
        frame.resize(read ? *read : 0);
        frames.push_back(std::move(frame));
    }
    return frames;
}

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
    std::vector<std::string> environment = kZone;
    environment.insert(environment.end(), {"VANTREL_VIRTUAL_CAMCORDER=" + tape, "VANTREL_VIRTUAL_SPEED=max"});
    args.erase(args.end() - 2);  // the camcorder plays the tape
    args.back() = dir.file("captured/holiday");
    args.insert(args.begin(), VANTREL_CAPTURE_PATH);
    const ToolResult captured = runTool(args, environment, 300);
    ASSERT_EQ(captured.exitCode, 0) << captured.err;

    std::vector<std::string> expectedPaths;
    for (const std::string& name : c.expectedNames) expectedPaths.push_back(dir.file("out/holiday." + name));
    EXPECT_EQ(splitLines(split.out), expectedPaths);
    auto source = avi::OpenDVAvi(tape);
    ASSERT_TRUE(source);
    const auto sourceFrames = framesOf(*source);
    std::size_t next = 0;
    for (std::size_t k = 0; k < expectedPaths.size(); ++k) {
        auto file = avi::OpenDVAvi(expectedPaths[k]);
        ASSERT_TRUE(file) << expectedPaths[k];
        const auto frames = framesOf(*file);
        ASSERT_EQ(frames.size(), c.expectedFrames[k]) << expectedPaths[k];
        for (const auto& frame : frames) {
            ASSERT_LT(next, sourceFrames.size());
            ASSERT_TRUE(frame == sourceFrames[next]) << "frame " << next << " changed in " << expectedPaths[k];
            ++next;
        }
        const auto capturedFile = dir.path() / "captured" / ("holiday." + c.expectedNames[k]);
        EXPECT_TRUE(testsupport::readBytes(capturedFile) == testsupport::readBytes(expectedPaths[k])) << capturedFile;
    }
    EXPECT_EQ(next, sourceFrames.size());
    // No working file ("~" before the date) or other file is left.
    for (const char* folder : {"out", "captured"})
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path() / folder), {}),
                  static_cast<std::ptrdiff_t>(expectedPaths.size())) << folder;
}

INSTANTIATE_TEST_SUITE_P(Tapes, SplitByScene, ::testing::ValuesIn(kSplitCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::exporttest
