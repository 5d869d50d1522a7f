// SPDX-License-Identifier: GPL-3.0-or-later
// The staged installation and the Debian package, as the desktop, AppStream, man and Debian tools
// and a user running the installed programs see them.
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::tests {
namespace {

using namespace vantrel::testsupport;

namespace fs = std::filesystem;

const fs::path kStage = VANTREL_STAGE_DIR;
const fs::path kUsr = kStage / "usr";
const fs::path kSourceDir = VANTREL_SOURCE_DIR;
constexpr const char* kDesktopEntry = "usr/share/applications/org.vantrel.Vantrel.desktop";
constexpr const char* kMetainfo = "usr/share/metainfo/org.vantrel.Vantrel.metainfo.xml";

// The programs the build installs, one a line.
const std::vector<std::string> kPrograms = splitLines(readText(VANTREL_INSTALLED_PROGRAMS_LIST));
const bool kIsWindowInstalled = std::find(kPrograms.begin(), kPrograms.end(), "vantrel") != kPrograms.end();

// The version as the top CMakeLists.txt sets it, read from the source, not from generated files.
std::string projectVersion()
{
    std::smatch match;
    const std::string text = readText((kSourceDir / "CMakeLists.txt").string());
    if (!std::regex_search(text, match, std::regex(R"(project\(Vantrel VERSION ([0-9.]+))"))) return "?";
    return match[1];
}

// A cache variable as the build was configured with it, empty when unset.
std::string cacheValue(const std::string& name)
{
    std::smatch match;
    const std::string cache = readText((fs::path(VANTREL_BINARY_DIR) / "CMakeCache.txt").string());
    if (!std::regex_search(cache, match, std::regex("(^|\n)" + name + ":[A-Z]+=([^\n]*)"))) return "?";
    return match[2];
}

// Runs a staged program as a user would, with nothing of the build tree on its paths.
ToolResult runStaged(const std::string& program, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), (kUsr / "bin" / program).string());
    return runTool(arguments, {"env", "-u", "LD_LIBRARY_PATH", "QT_QPA_PLATFORM=offscreen", "TZ=UTC"});
}

std::set<std::string> longOptionsIn(const std::string& text)
{
    std::set<std::string> options;
    const std::regex option(R"((^|[^A-Za-z0-9-])(--[a-z][a-z0-9-]*))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        options.insert((*it)[2]);
    return options;
}

// The options that the OPTIONS section of the program's manual page source describes.
std::set<std::string> manualPageOptions(const std::string& program)
{
    std::string optionLines;
    bool isInOptions = false;
    for (const auto& line : splitLines(readText((kSourceDir / "man" / (program + ".1.scd")).string()))) {
        if (line.starts_with("# ")) isInOptions = line == "# OPTIONS";
        else if (isInOptions && line.starts_with("*-")) optionLines += line + "\n";
    }
    return longOptionsIn(optionLines);
}

std::set<std::string> filesBelow(const fs::path& root)
{
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (!entry.is_directory()) files.insert(fs::relative(entry.path(), root).string());
    return files;
}

fs::path packageFile()
{
    for (const auto& entry : fs::directory_iterator(VANTREL_PACKAGE_DIR))
        if (entry.path().extension() == ".deb") return entry.path();
    return {};
}

std::string packageField(const std::string& field)
{
    const ToolResult result = runTool({"dpkg-deb", "--field", packageFile().string(), field});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return result.out;
}

// Key=value lines of the [Desktop Entry] group.
std::map<std::string, std::string> desktopEntryKeys(const std::string& text)
{
    std::map<std::string, std::string> keys;
    for (const auto& line : splitLines(text)) {
        const auto equals = line.find('=');
        if (!line.starts_with("#") && equals != std::string::npos) keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

// The words of the string literals of a C++ source, comments left out.
std::set<std::string> wordsInStringLiterals(const std::string& source)
{
    std::set<std::string> words;
    std::string word;
    bool isInString = false;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const char c = source[i];
        const bool isWordChar = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (isInString && isWordChar) {
            word += c;
            continue;
        }
        if (!word.empty()) words.insert(std::exchange(word, {}));
        if (isInString) {
            if (c == '\\') ++i;  // an escaped character ends the word and never the string
            else if (c == '"') isInString = false;
        } else if (c == '"') {
            isInString = true;
        } else if (source.compare(i, 2, "//") == 0) {
            i = std::min(source.find('\n', i), source.size());
        } else if (source.compare(i, 2, "/*") == 0) {
            i = std::min(source.find("*/", i), source.size());
        } else if (c == '\'') {  // a character literal, perhaps '"'
            i = std::min(source.find('\'', i + (source.compare(i, 2, "'\\") == 0 ? 3 : 2)), source.size());
        }
    }
    return words;
}

// The GStreamer elements that the programs' sources name (in element factories and pipeline
// descriptions alike), as far as this machine's registry knows them.
std::set<std::string> elementsNamedByThePrograms()
{
    std::set<std::string> factories;
    for (const auto& line : splitLines(runTool({"gst-inspect-1.0"}).out)) {  // "plugin:  element: text"
        const auto fields = splitFields(line, ':');
        if (fields.size() >= 3 && fields[1].starts_with("  ")) factories.insert(fields[1].substr(2));
    }
    std::set<std::string> named;
    for (const char* folder : {"dv", "avi", "mediagraph", "pipeline", "panel", "player", "grab", "shell", "tools"}) {
        if (!fs::is_directory(kSourceDir / folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(kSourceDir / folder)) {
            const auto extension = entry.path().extension();
            if (extension != ".cpp" && extension != ".h") continue;
            for (const auto& word : wordsInStringLiterals(readText(entry.path().string())))
                if (factories.contains(word)) named.insert(word);
        }
    }
    return named;
}

// The Debian package that holds the plugin of a GStreamer element on this machine.
std::string packageOfElement(const std::string& element)
{
    for (const auto& line : splitLines(runTool({"gst-inspect-1.0", element}).out)) {
        const auto at = line.find("Filename");
        if (at == std::string::npos) continue;
        const auto path = line.find('/', at);
        if (path == std::string::npos) return "libgstreamer1.0-0";  // built into the GStreamer library
        const ToolResult owner = runTool({"dpkg", "--search", fs::canonical(line.substr(path)).string()});
        return owner.out.substr(0, owner.out.find(':'));
    }
    return {};
}

// Each program runs from the stage with nothing of the build tree on its paths and prints the
// project's version; its manual page renders without a warning and describes exactly the options
// that --help offers; bin/ holds the programs and nothing else.
TEST(InstalledPrograms, run_from_the_stage_with_a_manual_page_that_renders_and_matches_help)
{
    EXPECT_EQ(filesBelow(kUsr / "bin"), std::set<std::string>(kPrograms.begin(), kPrograms.end()))
        << "bin/ holds exactly the programs, no test or benchmark";
    const bool hasMan = hasTool("man");
    for (const auto& program : kPrograms) {
        SCOPED_TRACE(program);
        const fs::path staged = kUsr / "bin" / program;
        EXPECT_TRUE((fs::status(staged).permissions() & fs::perms::others_exec) != fs::perms::none);
        const ToolResult version = runStaged(program, {"--version"});
        EXPECT_EQ(version.exitCode, 0) << version.err;
        EXPECT_EQ(splitLines(version.out).at(0), program + " " + projectVersion());
        const ToolResult dynamic = runTool({"readelf", "--dynamic", staged.string()});
        EXPECT_EQ(dynamic.out.find(VANTREL_BINARY_DIR), std::string::npos) << "looks for libraries in the build tree";
        const ToolResult help = runStaged(program, {"--help"});
        EXPECT_EQ(help.exitCode, 0) << help.err;
        EXPECT_TRUE(longOptionsIn(help.out).contains("--version"));
        EXPECT_EQ(longOptionsIn(help.out), manualPageOptions(program)) << "--help against man/" << program << ".1.scd";
        if (!hasMan) continue;  // Debian package man-db
        const std::string page = (kUsr / "share/man/man1" / (program + ".1.gz")).string();
        // The check Debian's lintian makes of a manual page: no groff or man warning at all.
        const ToolResult checked = runTool({"man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page},
                                           {"LC_ALL=C.UTF-8", "MANROFFSEQ=", "MANWIDTH=80"});
        EXPECT_EQ(checked.exitCode, 0) << page;
        EXPECT_EQ(checked.err, "") << page;
        const ToolResult text = runTool({"man", "-l", page}, {"LC_ALL=C.UTF-8", "MANWIDTH=80"});
        EXPECT_NE(text.out.find("NAME\n       " + program + " - "), std::string::npos) << text.out;
        EXPECT_NE(text.out.find("Vantrel " + projectVersion() + " "), std::string::npos) << "footer: " << text.out;
    }
}

TEST(InstalledPrograms, staged_probe_reads_a_tape_from_the_staged_generator)
{
    const fs::path tape = generateTape("staged.avi",
        {"--frames", "30", "--start", "2010-05-06T07:08:09", "--shutter", "100", "--jump", "25:+3600"},
        (kUsr / "bin" / "vantrel-dvgen").string());
    const ToolResult probe = runStaged("vantrel-probe", {tape.string()});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    const auto lines = splitLines(probe.out);
    ASSERT_EQ(lines.size(), 30u);
    EXPECT_EQ(splitFields(lines[24], '\t').at(1), "06.05.2010 07:08:09 Frame 24 Shutter 1/100 sec");
    EXPECT_EQ(splitFields(lines[25], '\t').at(1), "06.05.2010 08:08:10 Frame 25 Shutter 1/100 sec");
}

// The menu entry validates, starts the installed window on a file, claims the MIME types the
// system gives DV and AVI files and names an icon the hicolor theme holds in every size.
TEST(DesktopEntry, validates_opens_dv_and_avi_files_and_names_an_installed_icon)
{
    if (!kIsWindowInstalled) GTEST_SKIP() << "the window program vantrel is not built";
    if (!hasTool("desktop-file-validate")) GTEST_SKIP() << "Debian package desktop-file-utils missing";
    const std::string entry = (kStage / kDesktopEntry).string();
    const ToolResult validated = runTool({"desktop-file-validate", entry});
    EXPECT_EQ(validated.exitCode, 0);
    EXPECT_EQ(validated.out + validated.err, "");
    auto keys = desktopEntryKeys(readText(entry));
    EXPECT_EQ(keys["Exec"], "vantrel %f");
    EXPECT_TRUE(fs::is_regular_file(kUsr / "bin" / keys["TryExec"])) << keys["TryExec"];
    EXPECT_EQ(keys["Categories"], "AudioVideo;Video;Player;");

    const fs::path hicolor = kUsr / "share/icons/hicolor";
    EXPECT_NE(readText(hicolor / "scalable/apps" / (keys["Icon"] + ".svg")).find("<svg"), std::string::npos);
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string side = std::to_string(size);
        const std::string png = readText(hicolor / (side + "x" + side) / "apps" / (keys["Icon"] + ".png"));
        // The signature, then the IHDR chunk (length 13) with width and height, big-endian.
        const std::string bigEndian{'\0', '\0', static_cast<char>(size >> 8), static_cast<char>(size & 0xFF)};
        EXPECT_EQ(png.substr(0, 24), "\x89PNG\r\n\x1a\n" + std::string("\0\0\0\x0dIHDR", 8) + bigEndian + bigEndian)
            << side;
    }

    const fs::path globs = "/usr/share/mime/globs2";
    if (!fs::exists(globs)) GTEST_SKIP() << "no MIME database (Debian package shared-mime-info)";
    std::set<std::string> claimed;
    for (const auto& type : splitFields(keys["MimeType"], ';'))
        if (!type.empty()) claimed.insert(type);
    // Raw DV has two names; the MIME database of Debian 12 knows *.dv only.
    const struct { const char* glob; bool isKnownEverywhere; } extensions[] = {
        {"*.avi", true}, {"*.dv", true}, {"*.dif", false}};
    for (const auto& extension : extensions) {
        int typesFound = 0;
        for (const auto& line : splitLines(readText(globs.string()))) {
            const auto fields = splitFields(line, ':');  // weight:type:glob
            if (fields.size() < 3 || fields[2] != extension.glob) continue;
            ++typesFound;
            EXPECT_TRUE(claimed.contains(fields[1])) << extension.glob << " files are " << fields[1];
        }
        if (extension.isKnownEverywhere) {
            EXPECT_GT(typesFound, 0) << "the MIME database knows no " << extension.glob;
        }
    }
}

TEST(AppStream, metainfo_validates_and_names_the_entry_the_version_and_the_programs)
{
    if (!kIsWindowInstalled) GTEST_SKIP() << "the window program vantrel is not built";
    if (!hasTool("appstreamcli")) GTEST_SKIP() << "Debian package appstream missing";
    const std::string metainfo = (kStage / kMetainfo).string();
    const ToolResult validated = runTool({"appstreamcli", "validate", "--no-net", metainfo});
    EXPECT_EQ(validated.exitCode, 0) << validated.out << validated.err;
    const std::string text = readText(metainfo);
    EXPECT_EQ(text.find('@'), std::string::npos) << "a placeholder left in " << text;
    std::vector<std::string> elements{"<launchable type=\"desktop-id\">" + fs::path(kDesktopEntry).filename().string(),
                                      "<release version=\"" + projectVersion() + "\"", "<summary>", "<description>",
                                      "<content_rating type=\"oars-1.1\""};
    for (const auto& program : kPrograms) elements.push_back("<binary>" + program + "</binary>");
    for (const auto& element : elements) EXPECT_NE(text.find(element), std::string::npos) << element;
}

TEST(DebianPackage, holds_exactly_the_staged_files)
{
    ASSERT_FALSE(packageFile().empty()) << "no package in " << VANTREL_PACKAGE_DIR;
    const ToolResult contents = runTool({"dpkg-deb", "--contents", packageFile().string()});
    ASSERT_EQ(contents.exitCode, 0) << contents.err;
    std::set<std::string> packaged;
    for (const auto& line : splitLines(contents.out)) {
        const auto path = line.find(" ./");
        if (!line.starts_with("d") && path != std::string::npos) packaged.insert(line.substr(path + 3));
    }
    // The other tests find the programs, pages, menu entry and icons in the stage; no menu entry
    // without the window program.
    EXPECT_EQ(packaged, filesBelow(kStage));
    EXPECT_EQ(packaged.contains(kDesktopEntry), kIsWindowInstalled);
}

TEST(DebianPackage, control_names_version_description_and_the_runtime_plugins)
{
    ASSERT_FALSE(packageFile().empty()) << "no package in " << VANTREL_PACKAGE_DIR;
    EXPECT_EQ(packageField("Package"), "vantrel\n");
    EXPECT_EQ(packageField("Version"), projectVersion() + "\n");
    EXPECT_EQ(packageFile().filename().string().rfind("vantrel_" + projectVersion() + "_", 0), 0u) << packageFile();
    EXPECT_GE(splitLines(packageField("Description")).size(), 3u) << "a summary and a long description";
    // GStreamer's elements and Qt's SVG plugin are plugins, which dpkg-shlibdeps cannot see; the C,
    // C++, GStreamer and Qt libraries it can.
    const struct {
        const char* field;
        std::vector<std::string> packages;
        bool isForTheWindowOnly;
    } relations[] = {
        {"Depends", {"gstreamer1.0-plugins-base", "gstreamer1.0-plugins-good", "gstreamer1.0-libav", "libc6 (",
                     "libstdc++6 (", "libgstreamer1.0-0 ("}, false},
        {"Depends", {"libqt6widgets6", "libqt6svg6"}, true},
        {"Recommends", {"gstreamer1.0-plugins-ugly"}, false},  // the export's H.264 encoder
        {"Suggests", {"gstreamer1.0-plugins-bad"}, false},     // the player's silent audio sink
    };
    for (const auto& relation : relations) {
        if (relation.isForTheWindowOnly && !kIsWindowInstalled) continue;
        const std::string value = packageField(relation.field);
        for (const auto& package : relation.packages)
            EXPECT_NE(value.find(package), std::string::npos) << package << " missing from " << relation.field << ": " << value;
    }
}

// The package and the metainfo give out the web and mail addresses the build was given and no
// other: a made-up default would send users and bug reports to whoever owns the name.
TEST(DebianPackage, names_only_the_addresses_the_build_was_given)
{
    ASSERT_FALSE(packageFile().empty()) << "no package in " << VANTREL_PACKAGE_DIR;
    const std::string homepage = cacheValue("VANTREL_HOMEPAGE");
    const std::string screenshot = cacheValue("VANTREL_SCREENSHOT_URL");
    const std::string maintainer = cacheValue("VANTREL_PACKAGE_MAINTAINER");
    ASSERT_NE(maintainer.find('<'), std::string::npos) << maintainer;
    std::set<std::string> webAddresses{"https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"};
    for (const auto& address : {homepage, screenshot})
        if (!address.empty()) webAddresses.insert(address);
    const fs::path doc = kUsr / "share/doc/vantrel";
    std::vector<std::pair<std::string, std::string>> files{
        {"control", runTool({"dpkg-deb", "--field", packageFile().string()}).out},
        {"copyright", readText((doc / "copyright").string())},
        {"changelog", runTool({"gzip", "-dc", (doc / "changelog.gz").string()}).out},
    };
    if (kIsWindowInstalled) {
        files.emplace_back("metainfo", readText((kStage / kMetainfo).string()));
        files.emplace_back("desktop entry", readText((kStage / kDesktopEntry).string()));
    }
    const std::regex webAddress(R"(https?://[^\s<>"]+)");
    const std::regex mailAddress(R"([^\s<>@]+@[^\s<>@]+)");
    for (const auto& [file, text] : files) {
        SCOPED_TRACE(file);
        ASSERT_FALSE(text.empty());
        for (auto it = std::sregex_iterator(text.begin(), text.end(), webAddress); it != std::sregex_iterator(); ++it)
            EXPECT_TRUE(webAddresses.contains(it->str())) << it->str();
        for (auto it = std::sregex_iterator(text.begin(), text.end(), mailAddress); it != std::sregex_iterator(); ++it)
            EXPECT_EQ("<" + it->str() + ">", maintainer.substr(maintainer.find('<'))) << it->str();
    }
    EXPECT_EQ(packageField("Maintainer"), maintainer + "\n");
    EXPECT_EQ(packageField("Homepage"), homepage + "\n");   // dpkg-deb prints a missing field empty
    EXPECT_EQ(files[0].second.find("\nHomepage:") != std::string::npos, !homepage.empty());
    EXPECT_EQ(readText((doc / "copyright").string()).find("Source: " + homepage + "\n") != std::string::npos,
              !homepage.empty());
    if (kIsWindowInstalled) {
        const std::string& metainfo = files[3].second;
        EXPECT_EQ(metainfo.find("<url type=\"homepage\">" + homepage + "</url>") != std::string::npos, !homepage.empty());
        EXPECT_EQ(metainfo.find("<image>" + screenshot + "</image>") != std::string::npos, !screenshot.empty());
        EXPECT_EQ(metainfo.find("<screenshot") != std::string::npos, !screenshot.empty());
    }
}

TEST(DebianPackage, asks_for_the_plugin_package_of_every_element_the_programs_name)
{
    if (!hasTool("gst-inspect-1.0")) GTEST_SKIP() << "Debian package gstreamer1.0-tools missing";
    ASSERT_FALSE(packageFile().empty()) << "no package in " << VANTREL_PACKAGE_DIR;
    const std::string relations = packageField("Depends") + packageField("Recommends") + packageField("Suggests");
    const auto elements = elementsNamedByThePrograms();
    for (const char* element : {"appsink", "appsrc", "avenc_dvvideo"})  // the generator and the graph ends
        EXPECT_TRUE(elements.contains(element)) << element << " not found in the sources";
    for (const auto& element : elements) {
        const std::string package = packageOfElement(element);
        ASSERT_FALSE(package.empty()) << "no Debian package holds the plugin of " << element;
        EXPECT_NE(relations.find(package), std::string::npos)
            << element << " is in " << package << ", which the package does not ask for: " << relations;
    }
}

TEST(DebianPackage, lintian_reports_no_error)
{
    if (!hasTool("lintian")) GTEST_SKIP() << "Debian package lintian missing";
    const ToolResult lintian = runTool({"lintian", "--tag-display-limit", "0", packageFile().string()});
    for (const auto& line : splitLines(lintian.out)) EXPECT_FALSE(line.starts_with("E: ")) << line;
    EXPECT_EQ(lintian.exitCode, 0) << lintian.out << lintian.err;
}

}  // namespace
}  // namespace vantrel::tests
