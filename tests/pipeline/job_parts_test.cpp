// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of the jobs on their own: capture files and their names on closing, the preview's
// layout and thread, the DV output's start errors.
#include "job_test_support.h"
#include "pipeline/avi_writer_graph.h"
#include "pipeline/dv_out_graph.h"
#include "pipeline/preview_graph.h"
#include "support/scratch_dir.h"
#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"
#include "support/test_frames.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vantrel::pipeline {
namespace {

using testing::Frame;

constexpr std::int64_t kDecember4th2005At2046Utc = 1133729160;

// The file is written under a working name and opens with every frame so far; closing gives it
// the next free final name, never replacing a file that took one meanwhile. Torn blocks are
// skipped; a missing folder is reported.
TEST(CaptureFile, written_under_working_name_and_renamed_when_closed)
{
    const testsupport::ScopedTimeZone utc(testsupport::kUtc);
    const test::ScratchDir dir("capture-file");
    const auto frames = testsupport::toneFrames(dv::VideoSystem::Pal625_50, 30);
    const auto torn = testsupport::SyntheticDvFrame::pal().truncatedTo(100'000);
    CAviWriterGraph writer(dir.file("clip"), "%y-%m-%d_%H-%M", 2, kDecember4th2005At2046Utc, true,
                           dv::VideoSystem::Pal625_50);
    EXPECT_EQ(writer.WorkingName(), dir.file("clip.~05-12-04_20-46.00.avi"));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (i == 10)
            writer.Deliver(400'000, torn.data(), static_cast<long>(torn.size()));
        writer.Deliver(400'000, frames[i].data(), static_cast<long>(frames[i].size()));
    }
    EXPECT_EQ(writer.FramesWritten(), 30u);
    EXPECT_TRUE(testing::readDvFrames(writer.WorkingName()) == frames) << "an unclosed file opens with every frame";
    std::ofstream(dir.file("clip.05-12-04_20-46.00.avi")) << "someone else's file";
    const auto& closed = writer.Close();
    EXPECT_FALSE(closed.error);
    EXPECT_EQ(closed.path, dir.file("clip.05-12-04_20-46.01.avi"));
    EXPECT_EQ(testing::fileNamesIn(dir.path()),
              (std::vector<std::string>{"clip.05-12-04_20-46.00.avi", "clip.05-12-04_20-46.01.avi"}));
    EXPECT_TRUE(testing::readDvFrames(closed.path) == frames);
    EXPECT_EQ(testsupport::readText(dir.file("clip.05-12-04_20-46.00.avi")), "someone else's file");

    const std::string error = testing::graphErrorOf(
        [&] { CAviWriterGraph writer(dir.file("no-such-folder/clip"), "", 2, 0, true, dv::VideoSystem::Pal625_50); });
    EXPECT_NE(error.find("no-such-folder/clip.~.00.avi"), std::string::npos) << error;
}

TEST(Preview, picture_at_4_by_3_in_the_middle_of_the_area)
{
    struct Case {
        std::uint32_t width;
        std::uint32_t height;
        PreviewRect expected;
    };
    const std::vector<Case> cases = {
        {400, 400, {0, 50, 400, 300}}, {640, 480, {0, 0, 640, 480}},   {401, 300, {0, 0, 400, 300}},
        {0, 0, {0, 0, 0, 0}},          {100, 1000, {0, 462, 100, 75}},  // 800 x 300: in the picture test
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreviewLayout(c.width, c.height), c.expected) << c.width << " x " << c.height;
}

// A headless owner of 800 x 300: keeps the size of the last picture, whether its rows are whole,
// and its rectangle.
class PictureKeeper : public IPreviewOwner {
public:
    void GetClientSize(std::uint32_t* width, std::uint32_t* height) const override
    {
        *width = 800;
        *height = 300;
    }
    void ShowPreviewPicture(const PreviewPicture& picture, const PreviewRect& rect) override
    {
        const bool hasWholeRows = picture.bgr.size() >= static_cast<std::size_t>(picture.strideBytes) * picture.height &&
                                  picture.strideBytes >= picture.width * 3;
        std::lock_guard lock(m_mutex);
        m_last = {picture.width, picture.height, hasWholeRows, rect};
    }
    std::tuple<int, int, bool, PreviewRect> last() const
    {
        std::lock_guard lock(m_mutex);
        return m_last;
    }

private:
    mutable std::mutex m_mutex;
    std::tuple<int, int, bool, PreviewRect> m_last{0, 0, false, {}};
};

TEST(Preview, takes_frames_only_when_ready_and_shows_them_at_half_size)
{
    PictureKeeper owner;
    {
        CPreviewGraph idle(&owner, CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes});
    }  // its thread rests or waits for a frame: both end on destruction
    EXPECT_EQ(std::get<0>(owner.last()), 0);
    CPreviewGraph preview(&owner, CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes});
    const Frame frame = testsupport::SyntheticDvFrame::pal().bytes();
    std::uint64_t offered = 0;
    ASSERT_TRUE(testing::waitUntil([&] {
        preview.Deliver(400'000, frame.data(), static_cast<long>(frame.size()));
        ++offered;
        return preview.PicturesShown() >= 2;
    }, std::chrono::seconds(10))) << "taken " << preview.FramesTaken() << ", error "
                                  << (preview.FirstError() ? preview.FirstError()->message() : "none");
    EXPECT_LT(preview.FramesTaken(), offered) << "frames offered while the preview rests are dropped";
    const auto [width, height, hasWholeRows, rect] = owner.last();
    EXPECT_EQ(width, 360);
    EXPECT_EQ(height, 288);
    EXPECT_TRUE(hasWholeRows);
    EXPECT_EQ(rect, (PreviewRect{200, 0, 400, 300}));
}

using SinkMaker = std::function<mediagraph::GstOwned<GstElement>()>;

// A backend of one deck, "Test deck", without transport, whose DV input the test makes; it is its
// own list entry and device.
class TestDeck : public mediagraph::IVideoDeviceBackend, public mediagraph::IVideoDeviceEntry, public mediagraph::IVideoDevice {
public:
    explicit TestDeck(SinkMaker makeSink) : m_makeSink(std::move(makeSink)) {}
    Expected<std::vector<std::unique_ptr<mediagraph::IVideoDeviceEntry>>, std::string> Enumerate() override
    {
        std::vector<std::unique_ptr<mediagraph::IVideoDeviceEntry>> entries;
        entries.push_back(std::make_unique<TestDeck>(m_makeSink));
        return entries;
    }
    Expected<std::string, std::string> ReadFriendlyName() const override { return FriendlyName(); }
    std::shared_ptr<mediagraph::IVideoDevice> Open() override { return std::make_shared<TestDeck>(m_makeSink); }
    std::string FriendlyName() const override { return "Test deck"; }
    mediagraph::GstOwned<GstElement> MakeCaptureSource() override { return {}; }
    mediagraph::GstOwned<GstElement> MakeDvOutSink() override { return m_makeSink(); }
    mediagraph::ITransport* Transport() override { return nullptr; }
    std::int32_t DroppedFrames() const override { return -1; }

private:
    SinkMaker m_makeSink;
};

TEST(DvOut, a_deck_that_does_not_start_or_run_is_reported)
{
    mediagraph::ensureMediaFrameworkInitialised();
    struct Case {
        const char* name;
        SinkMaker makeSink;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"refuses to open",
         [] {
             auto sink = mediagraph::makeElement("filesink", nullptr);
             g_object_set(sink.get(), "location", "/nonexistent-folder/deck", nullptr);
             return sink;
         },
         "Can't start DV output"},
        {"never gets running",
         [] {
             // A bin waits for its sink's first frame: without one it stays on its way to running.
             GstElement* bin = gst_bin_new(nullptr);
             GstElement* sink = gst_element_factory_make("appsink", nullptr);
             gst_bin_add(GST_BIN(bin), sink);
             mediagraph::GstOwned<GstPad> pad = mediagraph::adopt(gst_element_get_static_pad(sink, "sink"));
             gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad.get()));
             return mediagraph::GstOwned<GstElement>(GST_ELEMENT(gst_object_ref_sink(bin)));
         },
         "DV output not running"},
    };
    for (const Case& c : cases) {
        mediagraph::ScopedVideoDeviceBackends backends({std::make_shared<TestDeck>(c.makeSink)});
        EXPECT_EQ(testing::graphErrorOf([] { CDVOutGraph("Test deck", CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes}); }),
                  c.expected)
            << c.name;
    }
}

}  // namespace
}  // namespace vantrel::pipeline
