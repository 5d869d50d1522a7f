// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual camcorder's tape: raw .dv and DV AVI files read frame by frame, recorded in place.
#include "mediagraph/virtual_tape.h"

#include "mediagraph/virtual_camcorder.h"
#include "virtual_tape_fixtures.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vantrel::mediagraph {
namespace {

using namespace vantrel::mediagraph::testing;
using dv::VideoSystem;

std::unique_ptr<VirtualTape> openTape(const std::filesystem::path& path)
{
    auto tape = VirtualTape::open(path);
    EXPECT_TRUE(tape) << (tape ? "" : tape.error());
    return tape ? std::move(*tape) : nullptr;
}

void expectTapeHolds(VirtualTape& tape, const std::vector<Frame>& frames)
{
    ASSERT_EQ(tape.frameCount(), static_cast<std::int64_t>(frames.size()));
    Frame buffer(dv::kMaxFrameBytes);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        auto read = tape.readFrame(static_cast<std::int64_t>(i), buffer);
        ASSERT_TRUE(read) << read.error();
        EXPECT_TRUE(std::equal(frames[i].begin(), frames[i].end(), buffer.begin())) << "frame " << i;
    }
}

TEST(VirtualTape, leaves_a_torn_last_frame_off_the_tape_and_records_over_it)
{
    const auto folder = testsupport::freshTestFolder();
    auto frames = numberedFrames(VideoSystem::Pal625_50, 3);
    Frame torn = frames[2];
    torn.resize(50'000);
    writeRawTape(folder / "torn.dv", {frames[0], frames[1], torn});
    auto tape = openTape(folder / "torn.dv");
    ASSERT_TRUE(tape);
    EXPECT_EQ(tape->frameCount(), 2);
    ASSERT_TRUE(tape->writeFrame(2, frames[2]));
    expectTapeHolds(*tape, frames);
    EXPECT_EQ(std::filesystem::file_size(folder / "torn.dv"), 3 * dv::kPalFrameBytes);
}

TEST(VirtualTape, refuses_files_that_are_not_dv_tapes)
{
    const auto folder = testsupport::freshTestFolder();
    Frame noHeader = numberedFrame(VideoSystem::Pal625_50, 0);
    noHeader[0] = std::byte{0x5F};
    writeRawTape(folder / "short.dv", {Frame(1000, std::byte{0})});
    writeRawTape(folder / "noheader.dv", {noHeader});
    writeRawTape(folder / "bad.avi", {Frame(200'000, std::byte{'R'})});  // starts "RRRR": not RIFF, not DV
    std::filesystem::create_directories(folder / "dir.dv");
    for (const char* name : {"missing.dv", "short.dv", "noheader.dv", "bad.avi", "dir.dv"}) {
        auto tape = VirtualTape::open(folder / name);
        ASSERT_FALSE(tape) << name;
        EXPECT_NE(tape.error().find(name), std::string::npos) << tape.error();
    }
}

TEST(VirtualTape, an_empty_file_is_a_blank_tape_that_takes_the_standard_of_its_first_recording)
{
    const auto path = testsupport::freshTestFolder() / "blank.dv";
    writeRawTape(path, {});
    auto tape = openTape(path);
    ASSERT_TRUE(tape);
    EXPECT_EQ(tape->frameCount(), 0);
    EXPECT_EQ(tape->videoSystem(), VideoSystem::Unknown);
    EXPECT_FALSE(tape->writeFrame(1, numberedFrame(VideoSystem::Ntsc525_60, 0))) << "no gaps on a tape";
    const auto frames = numberedFrames(VideoSystem::Ntsc525_60, 2);
    ASSERT_TRUE(tape->writeFrame(0, frames[0]));
    ASSERT_TRUE(tape->writeFrame(1, frames[1]));
    EXPECT_EQ(tape->videoSystem(), VideoSystem::Ntsc525_60);
    auto mixed = tape->writeFrame(2, numberedFrame(VideoSystem::Pal625_50, 2));
    ASSERT_FALSE(mixed);
    EXPECT_NE(mixed.error().find("PAL frame on a NTSC tape"), std::string::npos) << mixed.error();
    EXPECT_FALSE(tape->writeFrame(2, std::span(frames[0]).first(100'000)));
    expectTapeHolds(*tape, frames);
    EXPECT_EQ(testsupport::readBytes(path).size(), 2 * dv::kNtscFrameBytes);
}

TEST(VirtualTape, first_recording_on_an_avi_tape_moves_it_to_a_raw_file_beside_it)
{
    const auto folder = testsupport::freshTestFolder();
    auto frames = numberedFrames(VideoSystem::Pal625_50, 3);
    const auto aviPath = folder / "holiday.avi";
    writeAviTape(aviPath, frames, avi::DvAviType::Type2Separate, VideoSystem::Pal625_50);
    const auto aviBefore = testsupport::readBytes(aviPath);
    auto tape = openTape(aviPath);
    ASSERT_TRUE(tape);

    frames.push_back(numberedFrame(VideoSystem::Pal625_50, 77, 1));
    ASSERT_TRUE(tape->writeFrame(3, frames.back()));
    EXPECT_EQ(tape->path(), folder / "holiday.avi.recorded.dv");
    EXPECT_EQ(tape->kind(), TapeKind::RawDv);
    expectTapeHolds(*tape, frames);
    EXPECT_EQ(testsupport::readBytes(aviPath), aviBefore) << "the AVI itself is never written";
    auto reopened = openTape(folder / "holiday.avi.recorded.dv");
    ASSERT_TRUE(reopened);
    expectTapeHolds(*reopened, frames);
}

}  // namespace
}  // namespace vantrel::mediagraph
