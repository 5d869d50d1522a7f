// SPDX-License-Identifier: GPL-3.0-or-later
// The jobs on an IEEE 1394 camcorder of a scripted bus: a command the camcorder refuses comes back
// to the caller as the error to show. (Frames and commands on the bus are the FireWire tests' part,
// the jobs' frames and transport the virtual camcorder's.)
#include "job_test_support.h"
#include "mediagraph/fake_firewire_bus.h"
#include "mediagraph/firewire_bus.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

namespace vantrel::pipeline {
namespace {

using namespace mediagraph::testing;

// A command the camcorder refuses (Record when a print starts, a capture's transport button) comes
// back from the job's call as the text to show; one it takes, as nothing.
TEST(FireWireJobs, a_command_the_camcorder_refuses_is_an_error_for_the_caller)
{
    const test::ScratchDir dir("firewire-refused");
    const std::string clip = testing::generateTape(dir.file("clip.avi"), {"--frames", "10"});
    struct Case {
        long mode;
        std::uint8_t opcode;
        std::uint8_t operand;
        AvcReply reply;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {mediagraph::ED_MODE_RECORD, mediagraph::avc::kOpRecord, 0x75, AvcReply::Rejected,
         "The camcorder refused Record: is the cassette write-protected, or the camcorder in Camera mode?"},
        {mediagraph::ED_MODE_FF, mediagraph::avc::kOpWind, 0x75, AvcReply::Rejected, "The camcorder refused Fast forward"},
        {mediagraph::ED_MODE_STEP_REV, mediagraph::avc::kOpPlay, 0x40, AvcReply::NotImplemented,
         "The camcorder cannot Step backward (not implemented)"},
        {mediagraph::ED_MODE_REW, mediagraph::avc::kOpWind, 0x65, AvcReply::Accepted, ""},
    };
    for (const auto& c : cases) {
        const auto bus = busWith({{.guid = kCamcorderGuid, .label = "Camcorder"}});
        bus->setReply(kCamcorderGuid, c.opcode, c.operand, c.reply);
        mediagraph::ScopedVideoDeviceBackends backends({mediagraph::makeFireWireBackend(bus, kQuickTimeouts)});
        CJobWnd job;
        std::string error;
        if (c.mode == mediagraph::ED_MODE_RECORD) {
            job.SetAutoDeviceControl(true);
            job.StartPrintToTape(clip, "Camcorder");
            error = testing::graphErrorOf([&] { job.ResumeTapeRecording(); });
        } else {
            job.StartCapture("Camcorder");
            error = testing::graphErrorOf([&] { job.SendCaptureTransport(c.mode); });
        }
        EXPECT_EQ(error, c.expected);
        job.StopJob();
        EXPECT_EQ(job.GetState(), JOB_IDLE);
    }
}

}  // namespace
}  // namespace vantrel::pipeline
