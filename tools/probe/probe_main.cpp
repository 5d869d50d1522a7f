// SPDX-License-Identifier: GPL-3.0-or-later
// vantrel-probe: the info panel's lines for every frame of DV AVI and raw DV files.
#include "avi/local_time_zone.h"
#include "tools/probe/probe.h"
#include "tools/probe/scene_output.h"
#include "vantrel/version.h"

#include <cerrno>
#include <cstdio>
#include <new>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "Usage: vantrel-probe [--json] [--scenes [--scene-gap S]] FILE...\n"
    "For every frame of each DV AVI file (type 1 or 2, PAL or NTSC) or raw DV file (.dv, .dif)\n"
    "prints one line: the frame number, then the four lines of the info panel (date, time,\n"
    "frame and shutter; iris and exposure; white balance, gain and focus; time code), separated\n"
    "by tabs, as the panel shows them when the frames play in order from frame 0. A frame\n"
    "without a shutter value shows the last one shown before it in the same file.\n"
    "\n"
    "  --json     one JSON object per frame instead: file, frame, timecode, recorded (local\n"
    "             time), shutter (N of 1/N second), iris, gain_db, exposure, white_balance_mode,\n"
    "             white_balance, focus, error; null where the frame carries no value; a frame\n"
    "             that is damaged or cannot be read says so in error (an unread one has no values)\n"
    "  --scenes   one line per scene instead: first and last frame, first and last recording\n"
    "             date and time, frames, duration (h:mm:ss.f), first time code; a scene ends\n"
    "             where the recording time jumps by more than the scene gap, as capture files do\n"
    "  --scene-gap S  seconds of the scene gap (1); 0 makes one scene of each file\n"
    "  --help     this text\n"
    "  --version  the program's version\n"
    "\n"
    "Exit status: 0 when every file was read whole, 1 when a damaged file was read as far as\n"
    "it goes, 2 when a file could not be read as DV (the other files are still read) or the\n"
    "output could not be written (said once; the probe stops there).\n";

}  // namespace

int main(int argc, char** argv)
{
    vantrel::avi::PinLocalTimeZone();
    using namespace vantrel::probe;
    OutputMode mode = OutputMode::InfoLines;
    std::vector<std::string> files;
    bool isSceneList = false;
    int sceneGapSeconds = 1;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!optionsEnded && std::strcmp(argument, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!optionsEnded && std::strcmp(argument, "--version") == 0) {
            std::fputs(vantrel::versionLine("vantrel-probe").c_str(), stdout);
            return 0;
        }
        if (!optionsEnded && std::strcmp(argument, "--json") == 0) {
            mode = OutputMode::Json;
        } else if (!optionsEnded && std::strcmp(argument, "--scenes") == 0) {
            isSceneList = true;
        } else if (!optionsEnded && std::strcmp(argument, "--scene-gap") == 0 && i + 1 < argc) {
            char* end = nullptr;
            const long gap = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || end == argv[i] || gap < 0 || gap > 86400) {
                std::fprintf(stderr, "vantrel-probe: bad scene gap %s\n", argv[i]);
                return 2;
            }
            sceneGapSeconds = static_cast<int>(gap);
        } else if (!optionsEnded && std::strcmp(argument, "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && argument[0] == '-' && argument[1] != '\0') {
            std::fprintf(stderr, "vantrel-probe: unknown option %s\nTry 'vantrel-probe --help'.\n", argument);
            return 2;
        } else {
            files.emplace_back(argument);
        }
    }
    if (files.empty()) {
        std::fputs("vantrel-probe: no file given\nTry 'vantrel-probe --help'.\n", stderr);
        return 2;
    }

    static char outputBuffer[1 << 16];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
    int status = 0;
    for (const std::string& file : files) {
        FileOutcome outcome = FileOutcome::Unknown;
        try {
            outcome = isSceneList ? listScenes(file, mode, sceneGapSeconds, stdout, stderr)
                                  : probeFile(file, mode, stdout, stderr);
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "vantrel-probe: not enough memory to read a file\n");
        }
        if (outcome == FileOutcome::OutputFailed) return 2;  // said once; the other files would fail alike
        switch (outcome) {
        case FileOutcome::Read: break;
        case FileOutcome::ReadWithDamage: status = std::max(status, 1); break;
        default: status = 2; break;
        }
    }
    if (std::fflush(stdout) != 0) {
        reportWriteError(stderr, errno);
        return 2;
    }
    return status;
}
