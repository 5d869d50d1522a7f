// SPDX-License-Identifier: GPL-3.0-or-later
// The pipeline's error type: message copying with truncation, and GStreamer error categories.
#include "mediagraph/graph_errors.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace vantrel::mediagraph {
namespace {

TEST(GraphErrors, get_error_message_cuts_to_the_buffer_and_always_terminates)
{
    const CDShowException error(GraphErrorKind::Graph, "DV output not running");
    const struct {
        std::size_t size;
        const char* expected;  // what the buffer then holds; nothing is written at or after `size`
    } cases[] = {{1024, "DV output not running"}, {22, "DV output not running"}, {5, "DV o"}, {1, ""}, {0, ""}};
    for (const auto& c : cases) {
        std::array<char, 1025> buffer;
        buffer.fill('#');
        unsigned helpContext = 77;
        EXPECT_TRUE(error.GetErrorMessage(buffer.data(), c.size, &helpContext));
        EXPECT_EQ(helpContext, 0u);
        EXPECT_EQ(c.size == 0 ? "" : std::string(buffer.data()), c.expected) << c.size;
        EXPECT_EQ(buffer[c.size], '#') << "wrote past the given size " << c.size;
    }
    std::array<char, 1024> large{};
    CDShowException(GraphErrorKind::Graph, std::string(3000, 'x') + ": file not found")
        .GetErrorMessage(large.data(), large.size());
    EXPECT_EQ(std::strlen(large.data()), 1023u);
}

TEST(GraphErrors, categorizes_gstreamer_errors_by_domain_and_code)
{
    gst_init(nullptr, nullptr);
    const struct {
        GQuark domain;
        int code;
        ErrorCategory expected;
    } cases[] = {
        {GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN, ErrorCategory::MissingPlugin},
        {GST_CORE_ERROR, GST_CORE_ERROR_NEGOTIATION, ErrorCategory::Internal},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, ErrorCategory::Device},
        {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED, ErrorCategory::Permission},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, ErrorCategory::Format},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND, ErrorCategory::MissingPlugin},
        {GST_LIBRARY_ERROR, GST_LIBRARY_ERROR_INIT, ErrorCategory::Internal},
        {g_quark_from_static_string("some-other-domain"), 1, ErrorCategory::Unknown},
    };
    for (const auto& c : cases) {
        GError* error = g_error_new_literal(c.domain, c.code, "test");
        EXPECT_EQ(categorize(*error), c.expected) << g_quark_to_string(c.domain) << " " << c.code;
        g_error_free(error);
    }
    EXPECT_STREQ(categoryName(ErrorCategory::Permission), "permission");
}

}  // namespace
}  // namespace vantrel::mediagraph
