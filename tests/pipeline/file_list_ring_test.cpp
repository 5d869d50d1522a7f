// SPDX-License-Identifier: GPL-3.0-or-later
// The print list's reader threads feeding a frame ring, as the print job runs them, without a
// media graph: every file's frames in order and whole, the files one after another, and a stop
// while the reading side waits on a full ring.
#include "job_test_support.h"
#include "pipeline/file_list_source.h"
#include "pipeline/frame_ring.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

#include <tuple>

namespace vantrel::pipeline {
namespace {

// The ring as the job's frame sink.
class RingSink : public IFrameSink {
public:
    explicit RingSink(CFrameRing& ring) : m_ring(ring) {}
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override { m_ring.Put(duration, data, length); }

private:
    CFrameRing& m_ring;
};

// The consumer takes 60 frames (across all three files), then stops taking: the reader fills the
// small ring and waits. Stopping the ring, then the source (the job's order), ends every thread;
// the frames in the ring are still the next ones, and nothing comes after them.
TEST(FileListRing, files_reach_the_ring_in_order_and_a_stop_on_a_full_ring_ends_every_thread)
{
    const auto folder = testsupport::freshTestFolder();
    std::string list;
    for (const auto& [name, first, count] : {std::tuple{"a.dv", 0u, 40u}, {"b.dv", 40u, 1u}, {"c.dv", 41u, 59u}}) {
        std::vector<testsupport::Frame> frames;
        for (std::uint32_t number = first; number < first + count; ++number)
            frames.push_back(testsupport::numberedFrame(dv::VideoSystem::Pal625_50, number));
        ASSERT_TRUE(testsupport::writeBytes(folder / name, testsupport::joinFrames(frames)));
        list += (list.empty() ? "" : " | ") + (folder / name).string();
    }
    CFileListSource source(list);
    CFrameRing ring(4, static_cast<std::int32_t>(kMinimumFrameBufferBytes));
    RingSink sink(ring);
    source.Start(&sink);
    std::uint32_t expected = 0;
    REFERENCE_TIME duration = 0;
    const std::byte* data = nullptr;
    long length = 0;
    auto takeInOrder = [&] {
        ASSERT_EQ(length, 144000);
        ASSERT_EQ(duration, 400'000);
        ASSERT_EQ(testsupport::frameNumber({data, 144000}), expected) << "a frame lost, doubled or out of order";
        ++expected;
    };
    while (expected < 60 && ring.Get(&duration, &data, &length))
        takeInOrder();
    ASSERT_TRUE(testing::waitUntil([&] { return ring.count() == 4; })) << "the reader fills the ring";
    ring.Stop();
    source.Stop();
    while (ring.Get(&duration, &data, &length))
        takeInOrder();
    EXPECT_EQ(expected, 64u);
    EXPECT_FALSE(source.FirstError());
}

}  // namespace
}  // namespace vantrel::pipeline
