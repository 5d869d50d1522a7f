// SPDX-License-Identifier: GPL-3.0-or-later
// Generated tapes and the readings of our tools that the scene, subtitle, split and export tests share.
#pragma once

#include "support/scratch_dir.h"
#include "support/run_tool.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vantrel::exporttest {

using testsupport::ToolResult;
using testsupport::runTool;

// The date tests read the dates in one known zone: Central European Time with its summer time.
inline const std::vector<std::string> kZone{"TZ=CET-1CEST,M3.5.0,M10.5.0/3"};

// Writes a tape with vantrel-dvgen; fails the test when the generator does.
inline std::string makeTape(const test::ScratchDir& dir, const std::string& name, std::vector<std::string> args)
{
    const std::string path = dir.file(name);
    args.insert(args.begin(), VANTREL_DVGEN_PATH);
    args.insert(args.end(), {"-o", path});
    const ToolResult made = runTool(args, kZone);
    EXPECT_EQ(made.exitCode, 0) << made.err;
    return path;
}

inline ToolResult runOurs(const char* program, std::vector<std::string> args)
{
    args.insert(args.begin(), program);
    return runTool(args, kZone, 300);
}

// The value of "key": in one line of JSON, without quotes; nothing for null or a missing key.
inline std::optional<std::string> jsonValue(const std::string& line, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const auto at = line.find(tag);
    if (at == std::string::npos) return std::nullopt;
    auto start = at + tag.size();
    if (line.compare(start, 4, "null") == 0) return std::nullopt;
    if (line[start] == '"') {
        const auto end = line.find('"', start + 1);
        return line.substr(start + 1, end - start - 1);
    }
    const auto end = line.find_first_of(",}", start);
    return line.substr(start, end - start);
}

// The value of `key` on every line of `--json` output, in line order.
inline std::vector<std::optional<std::string>> jsonColumn(const ToolResult& probed, const std::string& key)
{
    EXPECT_EQ(probed.exitCode, 0) << probed.err;
    std::vector<std::optional<std::string>> values;
    for (const std::string& line : testsupport::splitLines(probed.out)) values.push_back(jsonValue(line, key));
    return values;
}

// The first frame of every scene that `vantrel-probe --scenes --json` lists.
inline std::vector<std::size_t> sceneStarts(const ToolResult& scenes)
{
    std::vector<std::size_t> starts;
    for (const auto& first : jsonColumn(scenes, "first_frame"))
        if (first) starts.push_back(std::stoul(*first));
    return starts;
}

}  // namespace vantrel::exporttest
