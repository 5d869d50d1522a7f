// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe against a separate reading of the same frames: the generator renders each frame
// in this process, the independent reading turns its bytes into the four panel lines, and the
// probe's output for the file vantrel-dvgen wrote with the same options must match byte for byte.
#include "tools/dvgen/command_line.h"
#include "tools/dvgen/frame_metadata.h"
#include "tools/dvgen/tape_generator.h"
#include "tools/independent_reading.h"
#include "tools/tool_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vantrel::tests {
namespace {

using dvgen::TapeOptions;

class ProbeAgreement : public ::testing::Test {
protected:
    // Writes the tape with vantrel-dvgen, reads it back with vantrel-probe, and compares every
    // line with the independent reading of the frames rendered here. Returns the expected lines.
    std::vector<std::string> expectAgreement(const std::string& name, std::vector<std::string> arguments,
                                             const std::string& timeZone = "UTC")
    {
        setenv("TZ", timeZone.c_str(), 1);
        tzset();
        const std::string path = testDataPath(name.find('.') == std::string::npos ? name + ".avi" : name);
        arguments.insert(arguments.end(), {"-o", path});
        auto command = dvgen::parseDvgenArguments(arguments);
        EXPECT_TRUE(command.hasValue()) << (command ? "" : command.error());
        if (!command) return {};
        options = command->options;

        arguments.insert(arguments.begin(), VANTREL_DVGEN_PATH);
        const CommandResult written = runCommand(arguments);
        EXPECT_EQ(written.exitCode, 0) << written.err;
        const CommandResult probed = runCommand({VANTREL_PROBE_PATH, path}, {"TZ=" + shellQuote(timeZone)});
        EXPECT_EQ(probed.exitCode, 0) << probed.err;
        EXPECT_EQ(probed.err, "");

        auto generator = dvgen::TapeGenerator::create(options);
        EXPECT_TRUE(generator.hasValue()) << (generator ? "" : generator.error());
        if (!generator) return {};
        std::vector<std::byte> frame(generator->frameBytes());
        IndependentReading reading;
        std::vector<std::string> expected;
        const bool isPal = options.system == dv::VideoSystem::Pal625_50;
        for (std::int64_t i = 0; i < options.frameCount; ++i) {
            EXPECT_TRUE(generator->renderFrame(i, frame).hasValue());
            expected.push_back(reading.probeLine(reinterpret_cast<const std::uint8_t*>(frame.data()), frame.size(),
                                                 isPal, static_cast<long>(i)));
        }
        const std::vector<std::string> actual = splitLines(probed.out);
        EXPECT_EQ(actual.size(), expected.size());
        int mismatches = 0;
        for (std::size_t i = 0; i < std::min(actual.size(), expected.size()) && mismatches < 5; ++i) {
            if (actual[i] != expected[i]) {
                ++mismatches;
                ADD_FAILURE() << name << " frame " << i << "\n  probe:       " << actual[i]
                              << "\n  independent: " << expected[i];
            }
        }
        return expected;
    }

    // The independent reading shows the date and time code that the options asked for.
    void expectChosenMetadata(const std::vector<std::string>& lines, std::int64_t frame, bool hasDate, bool hasTimecode)
    {
        ASSERT_LT(static_cast<std::size_t>(frame), lines.size());
        const std::string& line = lines[static_cast<std::size_t>(frame)];
        const auto fields = splitFields(line, '\t');
        ASSERT_EQ(fields.size(), 5u) << line;
        if (hasDate) {
            const dvgen::LocalDateTime t = dvgen::recordedAt(options, frame);
            char text[64];
            std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d Frame %lld ", t.day, t.month, t.year,
                          t.hour, t.minute, t.second, static_cast<long long>(frame));
            EXPECT_EQ(fields[1].rfind(text, 0), 0u) << "frame " << frame << ": " << fields[1];
        } else {
            EXPECT_EQ(fields[1].rfind("No recording date ! ", 0), 0u) << "frame " << frame << ": " << fields[1];
        }
        if (hasTimecode) {
            const dvgen::Timecode tc = dvgen::timecodeAt(options, frame);
            char text[64];
            std::snprintf(text, sizeof text, "TimeCode %02d:%02d:%02d   %02d", tc.hours, tc.minutes, tc.seconds,
                          tc.frames);
            EXPECT_EQ(fields[4], text) << "frame " << frame;
        } else {
            EXPECT_EQ(fields[4], "TimeCode --:--:--   --") << "frame " << frame;
        }
    }

    TapeOptions options;
};

TEST_F(ProbeAgreement, pal_type2_with_scene_cuts_missing_and_damaged_packs)
{
    const auto lines = expectAgreement(
        "agree-pal-type2",
        {"--system", "pal", "--type", "2", "--frames", "110", "--audio", "48k", "--start", "2004-07-14T18:03:09",
         "--timecode", "00:12:31:04", "--jump", "60:+3600", "--jump", "90:-86400", "--shutter", "100",
         "--shutter-slot", "1",
         "--shutter", "30:300", "--no-shutter", "0-3", "--no-shutter", "40-45", "--camera", "30:iris=40,gain=5",
         "--no-camera", "50-55", "--no-timecode", "80-85", "--no-date", "95-99", "--no-time", "100-102",
         "--damage", "13:10-20", "--damage", "62:21-25", "--damage", "63:26-27"});
    expectChosenMetadata(lines, 15, true, true);    // first copy damaged, a later one read
    expectChosenMetadata(lines, 60, true, true);    // one hour later
    expectChosenMetadata(lines, 90, true, true);    // a day back
    expectChosenMetadata(lines, 82, true, false);
    expectChosenMetadata(lines, 97, false, true);
    expectChosenMetadata(lines, 101, false, true);  // a date without a time is no date
    ASSERT_GE(lines.size(), 110u);
    EXPECT_NE(lines[0].find("Shutter 1/-- sec"), std::string::npos) << "no shutter value seen yet";
    EXPECT_NE(lines[41].find("Shutter 1/300 sec"), std::string::npos) << "remembered from frame 39";
    EXPECT_NE(lines[52].find("0.000F Exposition No data recorded "), std::string::npos);
}

TEST_F(ProbeAgreement, ntsc_type1_drop_frame_timecode_and_packs_in_unusual_slots)
{
    const auto lines = expectAgreement(
        "agree-ntsc-type1",
        {"--system", "ntsc", "--type", "1", "--frames", "100", "--audio", "32k12", "--start", "1999-12-31T23:59:58",
         "--timecode", "00:00:59:25", "--subcode-slots", "ff,13,ff,62,ff,63,ff,ff,ff,ff,ff,ff",
         "--subcode-from-sequence", "3", "--camera-slot", "2:12", "--camera-from-sequence", "5",
         "--camera", "iris=8,gain=15,light=6", "--shutter", "60", "--damage", "13:0-9", "--no-camera", "70-70"});
    expectChosenMetadata(lines, 5, true, true);   // 00:01:00;02 follows 00:00:59;29
    expectChosenMetadata(lines, 65, true, true);  // into the year 2000
    ASSERT_GE(lines.size(), 6u);
    EXPECT_NE(lines[5].find("TimeCode 00:01:00   02"), std::string::npos) << lines[5];
}

TEST_F(ProbeAgreement, exposure_modes_and_white_balance_codes_read_from_their_bit_fields)
{
    // Exposure mode is the whole high nibble of PC2, the white balance mode PC3 bits 7-5, the
    // focus mode PC4 bit 7.
    expectAgreement("agree-camera-codes",
                    {"--system", "ntsc", "--frames", "10", "--audio", "none", "--camera", "ae=0,wb=0",
                     "--camera", "1:ae=1,wb=1", "--camera", "2:ae=2,wb=2", "--camera", "3:ae=3,wb=3",
                     "--camera", "4:ae=4,wb=4", "--camera", "5:ae=5,wb=7", "--camera", "6:ae=7,wb=6",
                     "--camera", "7:ae=4,focus=0x80", "--camera", "8:ae=15,focus=0x7F",
                     "--camera", "9:ae=8,focus=0xFF"});
}

TEST_F(ProbeAgreement, local_time_that_daylight_saving_skips_or_repeats_is_normalised_alike)
{
    // Central European rules, spelled out so that no time zone database is needed: 02:00 to
    // 03:00 on 28 March 2004 does not exist, 02:00 to 03:00 on 31 October 2004 comes twice.
    const std::string centralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
    expectAgreement("agree-dst-spring",
                    {"--system", "pal", "--frames", "6", "--audio", "none", "--start", "2004-03-28T01:59:59",
                     "--jump", "2:+1800", "--jump", "4:+3600"},
                    centralEurope);
    expectAgreement("agree-dst-autumn",
                    {"--system", "ntsc", "--frames", "4", "--audio", "none", "--start", "2004-10-31T02:30:00",
                     "--jump", "2:+3600"},
                    centralEurope);
    setenv("TZ", "UTC", 1);
    tzset();
}

TEST_F(ProbeAgreement, two_digit_years_below_50_belong_to_this_century)
{
    // Year codes below 50 are 20yy, the others 19yy: 2024, 2027 and 2049 are dates, the code 50
    // is 1950, before 1970 and no usable date. Dates beyond 2038 are fine.
    const auto lines = expectAgreement("agree-year-pivot",
                                       {"--system", "pal", "--frames", "4", "--audio", "none", "--start",
                                        "2024-12-31T23:59:59", "--jump", "1:+86400000", "--jump", "2:+694224000",
                                        "--jump", "3:+31536000"});
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("\t31.12.2024 23:59:59 Frame 0 "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\t27.09.2027 23:59:59 Frame 1 "), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("\t26.09.2049 23:59:59 Frame 2 "), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("\tNo recording date ! Frame 3 "), std::string::npos) << lines[3];
}

TEST_F(ProbeAgreement, raw_dv_files_read_like_dv_avi_files)
{
    // DIF frames back to back, no RIFF: the standard comes from the header block of each file.
    expectAgreement("agree-raw-pal.dv", {"--format", "dv", "--system", "pal", "--frames", "40", "--camcorder-layout",
                                         "--jump", "20:+65", "--camera", "25:iris=30,gain=6", "--no-date", "33-34"});
    expectAgreement("agree-raw-ntsc.dif", {"--format", "dv", "--system", "ntsc", "--frames", "35", "--audio", "32k",
                                           "--timecode", "01:09:59:28", "--shutter", "10:250"});
}

}  // namespace
}  // namespace vantrel::tests
