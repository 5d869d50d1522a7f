// SPDX-License-Identifier: GPL-3.0-or-later
// Capture file names against the files already on disk: numbering, widths, dates, working names.
#include "pipeline/capture_file_name.h"

#include "support/scoped_env.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace vantrel::pipeline {
namespace {

constexpr std::int64_t kDecember4th2005At2046Utc = 1133729160;  // Sunday 4 December 2005 20:46:00 UTC

const std::string kStem = "clip.05-12-04_20-46";

TEST(CaptureFileName, numbers_against_existing_files)
{
    struct Case {
        const char* name;
        std::vector<std::string> existing;  // file names in the folder before naming
        std::int32_t width;
        std::string expected;  // file name made for stem "clip.05-12-04_20-46"
    };
    const std::vector<Case> cases = {
        {"first file of width 2", {}, 2, kStem + ".00.avi"},
        {"after 00 and 01", {kStem + ".00.avi", kStem + ".01.avi"}, 2, kStem + ".02.avi"},
        {"after 99 comes 100", {kStem + ".99.avi"}, 2, kStem + ".100.avi"},
        {"wider number wins over larger", {kStem + ".100.avi", kStem + ".99.avi"}, 2, kStem + ".101.avi"},
        {"narrower than width ignored", {kStem + ".7.avi"}, 2, kStem + ".00.avi"},
        {"width 0: plain name first", {}, 0, kStem + ".avi"},
        {"width 0 after plain name", {kStem + ".avi"}, 0, kStem + ".0.avi"},
        {"width 0 after 0", {kStem + ".avi", kStem + ".0.avi"}, 0, kStem + ".1.avi"},
        {"width 0 after 9", {kStem + ".avi", kStem + ".9.avi"}, 0, kStem + ".10.avi"},
        {"width 0 numbered without plain", {kStem + ".4.avi"}, 0, kStem + ".5.avi"},
        {"middle part not digits ignored", {kStem + ".backup.avi", kStem + ".0x.avi"}, 2, kStem + ".00.avi"},
        {"working file never counts", {"clip.~05-12-04_20-46.00.avi"}, 2, kStem + ".00.avi"},
        {"other stems and extensions ignored",
         {"clip.05-12-04_20-47.05.avi", kStem + ".05.AVI", kStem + ".05.avi.part", "xclip.05-12-04_20-46.05.avi"}, 2,
         kStem + ".00.avi"},
        {"number beyond any integer", {kStem + ".99999999999999999999999.avi"}, 2, kStem + ".100000000000000000000000.avi"},
        {"zero padding kept when incremented", {kStem + ".0041.avi"}, 2, kStem + ".0042.avi"},
    };
    const testsupport::ScopedTimeZone utc(testsupport::kUtc);
    for (const Case& c : cases) {
        const test::ScratchDir dir("capture-naming");
        for (const std::string& existing : c.existing)
            std::ofstream(dir.file(existing)) << "x";
        EXPECT_EQ(MakeCaptureFileName(dir.file("clip"), kDefaultNameFormat, c.width, kDecember4th2005At2046Utc),
                  dir.file(c.expected))
            << c.name;
    }
}

TEST(CaptureFileName, date_part_in_local_time_and_bases_of_every_shape)
{
    struct Case {
        const char* name;
        std::string base;  // inside the test's folder
        std::string format;
        const char* zone;
        std::string expected;
        std::string existing;  // a file there before, if any
    };
    const std::vector<Case> cases = {
        {"Berlin winter", "clip", "%y-%m-%d_%H-%M", testsupport::kBerlin, "clip.05-12-04_21-46.00.avi", ""},
        {"empty date leaves the base", "clip", "", testsupport::kUtc, "clip.00.avi", ""},
        {"long year", "clip", "%Y%m%d", testsupport::kUtc, "clip.20051204.00.avi", ""},
        {"folder only: capture, no hidden file", "", "%y-%m-%d_%H-%M", testsupport::kUtc, "capture.05-12-04_20-46.00.avi", ""},
        {"dots in the base", "a.b", "", testsupport::kUtc, "a.b.01.avi", "a.b.00.avi"},
    };
    for (const Case& c : cases) {
        const test::ScratchDir dir("capture.date");
        if (!c.existing.empty())
            std::ofstream(dir.file(c.existing)) << "x";
        const testsupport::ScopedTimeZone zone(c.zone);
        EXPECT_EQ(MakeCaptureFileName(dir.file(c.base), c.format, 2, kDecember4th2005At2046Utc), dir.file(c.expected))
            << c.name;
    }
    const testsupport::ScopedTimeZone utc(testsupport::kUtc);
    EXPECT_EQ(MakeCaptureFileName("", kDefaultNameFormat, 2, kDecember4th2005At2046Utc), "capture.05-12-04_20-46.00.avi")
        << "an empty base: capture in the current folder";
}

TEST(CaptureFileName, time_zero_or_below_names_after_now)
{
    const testsupport::ScopedTimeZone utc(testsupport::kUtc);
    const test::ScratchDir dir("capture-now");
    for (const std::int64_t time : {std::int64_t{0}, std::int64_t{-1}}) {
        const std::time_t before = std::time(nullptr);
        const std::string name = MakeCaptureFileName(dir.file("clip"), "%s", 0, time);
        const long long seconds = std::stoll(name.substr(dir.file("clip.").size()));
        EXPECT_TRUE(before <= seconds && seconds <= std::time(nullptr)) << name;
    }
}

TEST(CaptureFileName, strips_extension_of_file_name_only)
{
    struct Case {
        std::string path;
        std::string expected;
        bool isLeft;
    };
    const std::vector<Case> cases = {
        {"/home/a.b/clip", "/home/a.b/clip", true},
        {"/home/a.b/clip.avi", "/home/a.b/clip", true},
        {"clip.backup.avi", "clip.backup", true},
        {"/home/dv/.hidden", "/home/dv/.hidden", true},
        {".avi", ".avi", true},
        {"", "", false},
    };
    for (const Case& c : cases) {
        std::string path = c.path;
        EXPECT_EQ(StripExtension(path), c.isLeft) << c.path;
        EXPECT_EQ(path, c.expected) << c.path;
    }
}

}  // namespace
}  // namespace vantrel::pipeline
