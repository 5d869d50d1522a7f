// SPDX-License-Identifier: GPL-3.0-or-later
// Tapes for the virtual camcorder's tests: numbered DV frames in raw .dv files and DV AVI files.
#pragma once

#include "avi/avi_writer.h"
#include "dv/dif_layout.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vantrel::mediagraph::testing {

using Frame = std::vector<std::byte>;

// Where a frame's number is stamped: inside the first video block of the first sequence.
constexpr std::size_t kStampOffset = dv::videoBlockOffset(0, 0) + 8;

// A valid DV frame of the standard whose video carries `number` (and `variant`, to tell recordings apart).
inline Frame numberedFrame(dv::VideoSystem system, std::uint32_t number, std::uint8_t variant = 0)
{
    static const Frame pal = testsupport::SyntheticDvFrame::pal().bytes();
    static const Frame ntsc = testsupport::SyntheticDvFrame::ntsc().bytes();
    Frame frame = system == dv::VideoSystem::Pal625_50 ? pal : ntsc;
    std::memcpy(frame.data() + kStampOffset, &number, sizeof number);
    frame[kStampOffset + 4] = static_cast<std::byte>(variant);
    return frame;
}

inline std::uint32_t frameNumber(std::span<const std::byte> frame)
{
    std::uint32_t number = 0;
    std::memcpy(&number, frame.data() + kStampOffset, sizeof number);
    return number;
}

inline std::vector<Frame> numberedFrames(dv::VideoSystem system, std::uint32_t count, std::uint8_t variant = 0)
{
    std::vector<Frame> frames;
    for (std::uint32_t i = 0; i < count; ++i) frames.push_back(numberedFrame(system, i, variant));
    return frames;
}

// A fresh folder for the running test under the test data folder.
inline std::filesystem::path testFolder()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto folder = std::filesystem::path(VANTREL_TEST_DATA_DIR) / "virtual_camcorder" /
                  (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void writeRawTape(const std::filesystem::path& path, const std::vector<Frame>& frames)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto& frame : frames) out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    ASSERT_TRUE(out.good()) << path;
}

inline void writeAviTape(const std::filesystem::path& path, const std::vector<Frame>& frames, avi::DvAviType type,
                         dv::VideoSystem system)
{
    auto writer = avi::AviWriter::create(path, {type, system});
    ASSERT_TRUE(writer) << writer.error().message;
    for (const auto& frame : frames) {
        auto written = writer->writeFrame(frame);
        ASSERT_TRUE(written) << written.error().message;
    }
    auto finished = writer->finish();
    ASSERT_TRUE(finished) << finished.error().message;
}

inline std::vector<std::byte> fileBytes(const std::filesystem::path& path)
{
    std::vector<std::byte> bytes(std::filesystem::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

}  // namespace vantrel::mediagraph::testing
