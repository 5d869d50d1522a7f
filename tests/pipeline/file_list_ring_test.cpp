// SPDX-License-Identifier: GPL-3.0-or-later
// The print list's reader threads feeding a frame ring, as the print job runs them, without a
// media graph: every file's frames in order and whole, the files one after another, and a stop
// while the reading side waits on a full ring.
#include "job_test_support.h"
#include "pipeline/file_list_source.h"
#include "pipeline/frame_ring.h"
#include "support/scratch_dir.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vantrel::pipeline {
namespace {

using testing::Frame;

constexpr std::size_t kStampOffset = 7 * 80 + 8;  // inside the first video block

// A raw DV file of `count` PAL frames numbered from `first`.
std::string writeNumberedFile(const test::ScratchDir& dir, const std::string& name, std::uint32_t first,
                              std::uint32_t count)
{
    const Frame base = testsupport::SyntheticDvFrame::pal().bytes();
    std::ofstream out(dir.file(name), std::ios::binary);
    for (std::uint32_t number = first; number < first + count; ++number) {
        Frame frame = base;
        std::memcpy(frame.data() + kStampOffset, &number, sizeof number);
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    return dir.file(name);
}

std::uint32_t numberOf(const std::byte* frame)
{
    std::uint32_t number = 0;
    std::memcpy(&number, frame + kStampOffset, sizeof number);
    return number;
}

// The ring as the job's frame sink.
class RingSink : public IFrameSink {
public:
    explicit RingSink(CFrameRing& ring) : m_ring(ring) {}
    void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) override { m_ring.Put(duration, data, length); }

private:
    CFrameRing& m_ring;
};

TEST(FileListRing, every_file_reaches_the_ring_in_order_then_the_stream_ends)
{
    const test::ScratchDir dir("file-list-ring");
    const std::string list = writeNumberedFile(dir, "a.dv", 0, 40) + " | " + writeNumberedFile(dir, "b.dv", 40, 1) +
                             " | " + writeNumberedFile(dir, "c.dv", 41, 59);
    CFileListSource source(list);
    CFrameRing ring(8, static_cast<std::int32_t>(kMinimumFrameBufferBytes));  // small: the readers wait often
    RingSink sink(ring);
    source.Start(&sink);
    std::uint32_t expected = 0;
    REFERENCE_TIME duration = 0;
    const std::byte* data = nullptr;
    long length = 0;
    while (ring.Get(&duration, &data, &length)) {
        ASSERT_EQ(length, 144000);
        ASSERT_EQ(duration, 400'000);
        ASSERT_EQ(numberOf(data), expected) << "a frame lost, doubled or out of order";
        ++expected;
    }
    EXPECT_EQ(expected, 100u);
    EXPECT_FALSE(source.FirstError());
    source.Stop();
}

TEST(FileListRing, stopping_while_the_reader_waits_on_a_full_ring_ends_every_thread)
{
    const test::ScratchDir dir("file-list-stop");
    CFileListSource source(writeNumberedFile(dir, "a.dv", 0, 30) + "|" + writeNumberedFile(dir, "b.dv", 30, 30));
    CFrameRing ring(4, static_cast<std::int32_t>(kMinimumFrameBufferBytes));
    RingSink sink(ring);
    source.Start(&sink);
    ASSERT_TRUE(testing::waitUntil([&] { return ring.count() == 4; })) << "the reader fills the ring";
    ring.Stop();  // the job's order: the ring first, then the source
    source.Stop();
    std::uint32_t taken = 0;
    REFERENCE_TIME duration = 0;
    const std::byte* data = nullptr;
    long length = 0;
    while (ring.Get(&duration, &data, &length))
        EXPECT_EQ(numberOf(data), taken++);
    EXPECT_EQ(taken, 4u);
}

}  // namespace
}  // namespace vantrel::pipeline
