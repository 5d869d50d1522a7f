// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-dvgen: writes a deterministic DV tape for tests, benchmarks and the demo.
#include "tools/dvgen/command_line.h"
#include "tools/dvgen/tape_generator.h"
#include "vantrel/version.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace vantrel::dvgen;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    auto command = parseDvgenArguments(arguments);
    if (!command) {
        std::fprintf(stderr, "vantrel-dvgen: %s\nTry 'vantrel-dvgen --help'.\n", command.error().c_str());
        return 2;
    }
    if (command->wantsHelp) {
        std::fputs(kDvgenUsage, stdout);
        return 0;
    }
    if (command->wantsVersion) {
        std::fputs(vantrel::versionLine("vantrel-dvgen").c_str(), stdout);
        return 0;
    }
    auto generator = TapeGenerator::create(command->options);
    if (!generator) {
        std::fprintf(stderr, "vantrel-dvgen: %s\n", generator.error().c_str());
        return 2;
    }
    if (auto written = generator->writeTo(command->outputPath); !written) {
        std::fprintf(stderr, "vantrel-dvgen: %s\n", written.error().c_str());
        std::remove(command->outputPath.c_str());
        return 1;
    }
    return 0;
}
