// SPDX-License-Identifier: GPL-3.0-or-later
// The pipeline's error type: kinds, message copying with truncation, and GStreamer error categories.
#include "mediagraph/graph_errors.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace vantrel::mediagraph {
namespace {

TEST(GraphErrors, throw_graph_error_carries_kind_and_message_by_value)
{
    try {
        ThrowGraphError(GraphErrorKind::NoSuchDevice, graph_messages::kDeviceNotFound);
        FAIL() << "ThrowGraphError returned";
    } catch (const CDShowException& error) {
        EXPECT_EQ(error.kind(), GraphErrorKind::NoSuchDevice);
        EXPECT_EQ(static_cast<int>(error.kind()), 1);
        EXPECT_STREQ(error.what(), "Device not found");
    }
    try {
        ThrowGraphError(graph_messages::kCannotCreateFilterGraph);
    } catch (const CDShowException& error) {
        EXPECT_EQ(static_cast<int>(error.kind()), 3);
        EXPECT_EQ(error.message(), "Can't create FilterGraph");
    }
}

TEST(GraphErrors, messages_are_the_shells_fixed_texts)
{
    EXPECT_STREQ(graph_messages::kCannotCreateCaptureDevice, "Cannot create capture device !");
    EXPECT_STREQ(graph_messages::kNoVideoDevice, "No video device found");
    EXPECT_STREQ(graph_messages::kCannotCreateCaptureGraphBuilder, "Can't create CaptureGraphBuilder");
    EXPECT_STREQ(graph_messages::kNoDvOutputPin, "Can't find DV output pin");
    EXPECT_STREQ(graph_messages::kNoDroppedFrames, "Can't find IAMDroppedFrames");
    EXPECT_STREQ(graph_messages::kCannotStartDvOutput, "Can't start DV output");
    EXPECT_STREQ(graph_messages::kDvOutputNotRunning, "DV output not running");
    EXPECT_STREQ(graph_messages::kNoFileSelected, "No file selected");
    EXPECT_EQ(fileNotFoundMessage("/tapes/*.avi"), "/tapes/*.avi: file not found");
}

TEST(GraphErrors, get_error_message_cuts_to_the_buffer_and_always_terminates)
{
    const CDShowException error(GraphErrorKind::Graph, "DV output not running");

    std::array<char, 1024> large{};
    unsigned helpContext = 77;
    EXPECT_TRUE(error.GetErrorMessage(large.data(), large.size(), &helpContext));
    EXPECT_STREQ(large.data(), "DV output not running");
    EXPECT_EQ(helpContext, 0u);

    std::array<char, 8> small;
    small.fill('#');
    EXPECT_TRUE(error.GetErrorMessage(small.data(), 5));
    EXPECT_STREQ(small.data(), "DV o");
    EXPECT_EQ(small[5], '#') << "wrote past the given size";

    std::array<char, 22> exact;  // message (21) plus terminator
    EXPECT_TRUE(error.GetErrorMessage(exact.data(), exact.size()));
    EXPECT_STREQ(exact.data(), "DV output not running");

    char one = '#';
    EXPECT_TRUE(error.GetErrorMessage(&one, 1));
    EXPECT_EQ(one, '\0');

    char untouched = '#';
    EXPECT_TRUE(error.GetErrorMessage(&untouched, 0));
    EXPECT_EQ(untouched, '#');

    const CDShowException longError(GraphErrorKind::Graph, std::string(3000, 'x') + ": file not found");
    longError.GetErrorMessage(large.data(), large.size());
    EXPECT_EQ(std::strlen(large.data()), 1023u);
}

TEST(GraphErrors, categorizes_gstreamer_errors_by_domain_and_code)
{
    gst_init(nullptr, nullptr);
    struct Case {
        GQuark domain;
        int code;
        ErrorCategory expected;
    };
    const Case cases[] = {
        {GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN, ErrorCategory::MissingPlugin},
        {GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION, ErrorCategory::Internal},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, ErrorCategory::Device},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED, ErrorCategory::Permission},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, ErrorCategory::Format},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND, ErrorCategory::MissingPlugin},
        {GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT, ErrorCategory::Internal},
        {g_quark_from_static_string("some-other-domain"), 1, ErrorCategory::Unknown},
    };
    for (const Case& c : cases) {
        GError* error = g_error_new_literal(c.domain, c.code, "test");
        EXPECT_EQ(categorize(*error), c.expected) << g_quark_to_string(c.domain) << " " << c.code;
        g_error_free(error);
    }
    EXPECT_STREQ(categoryName(ErrorCategory::Permission), "permission");
}

}  // namespace
}  // namespace vantrel::mediagraph
