// SPDX-License-Identifier: GPL-3.0-or-later
// Tapes for the virtual camcorder's tests: numbered DV frames in raw .dv files and DV AVI files.
#pragma once

#include "avi/avi_writer.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace vantrel::mediagraph::testing {

using testsupport::Frame;
using testsupport::frameNumber;
using testsupport::numberedFrame;
using testsupport::numberedFrames;

inline void writeRawTape(const std::filesystem::path& path, const std::vector<Frame>& frames)
{
    ASSERT_TRUE(testsupport::writeBytes(path, testsupport::joinFrames(frames))) << path;
}

inline void writeAviTape(const std::filesystem::path& path, const std::vector<Frame>& frames, avi::DvAviType type,
                         dv::VideoSystem system)
{
    auto writer = avi::AviWriter::create(path, {type, system});
    ASSERT_TRUE(writer) << writer.error().message;
    for (const auto& frame : frames) ASSERT_TRUE(writer->writeFrame(frame));
    ASSERT_TRUE(writer->finish());
}

}  // namespace vantrel::mediagraph::testing
