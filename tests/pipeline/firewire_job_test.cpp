// SPDX-License-Identifier: GPL-3.0-or-later
// The jobs on an IEEE 1394 camcorder of a scripted bus: a print reaches its input whole, and a
// command the camcorder refuses comes back to the caller as the error to show.
#include "job_test_support.h"
#include "mediagraph/fake_firewire_bus.h"
#include "mediagraph/firewire_bus.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

namespace vantrel::pipeline {
namespace {

using namespace std::chrono_literals;
using mediagraph::testing::AvcReply;
using mediagraph::testing::FakeFireWireBus;

constexpr std::uint64_t kGuid = 0x0800'4601'0203'0405;
constexpr mediagraph::FireWireTimeouts kQuickTimeouts{500ms, 2000ms, 1000ms, 1ms};

struct FireWireCamcorderOnly {
    explicit FireWireCamcorderOnly(std::shared_ptr<FakeFireWireBus> fake)
        : bus(std::move(fake)), backends({mediagraph::makeFireWireBackend(bus, kQuickTimeouts)})
    {
    }
    std::shared_ptr<FakeFireWireBus> bus;
    mediagraph::ScopedVideoDeviceBackends backends;
};

std::shared_ptr<FakeFireWireBus> busWithCamcorder()
{
    auto bus = std::make_shared<FakeFireWireBus>();
    mediagraph::testing::FakeNode node;
    node.guid = kGuid;
    node.label = "Camcorder";
    bus->addNode(node);
    return bus;
}

TEST(FireWirePrintJob, every_frame_of_the_file_reaches_the_camcorder_in_order_and_the_connection_is_released)
{
    const test::ScratchDir dir("firewire-print");
    const std::string clip = testing::generateTape(dir.file("clip.avi"), {"--type", "2", "--frames", "40"});
    const auto frames = testing::readDvFrames(clip);
    FireWireCamcorderOnly camcorder(busWithCamcorder());
    {
        CJobWnd job;
        job.SetAutoDeviceControl(true);
        job.StartPrintToTape(clip, "Camcorder");
        job.ResumeTapeRecording();
        ASSERT_TRUE(testing::waitUntil([&] { return job.GetState() == JOB_FINISHED; }));
        job.StopJob();
    }
    EXPECT_EQ(camcorder.bus->received(kGuid).distinctFrames, frames);
    const auto commands = camcorder.bus->commandsTo(kGuid);
    EXPECT_NE(std::find(commands.begin(), commands.end(), 0x0020C27Du), commands.end()) << "record pause";
    EXPECT_NE(std::find(commands.begin(), commands.end(), 0x0020C275u), commands.end()) << "record";
    EXPECT_TRUE(camcorder.bus->connections().empty());
    EXPECT_EQ(camcorder.bus->freeBandwidth(), FakeFireWireBus::kTotalBandwidth);
}

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
        auto bus = busWithCamcorder();
        bus->setReply(kGuid, c.opcode, c.operand, c.reply);
        FireWireCamcorderOnly camcorder(bus);
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
