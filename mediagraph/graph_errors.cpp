// SPDX-License-Identifier: GPL-3.0-or-later
// The pipeline's error type and the mapping of GStreamer errors to categories.
#include "mediagraph/graph_errors.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace vantrel::mediagraph {

CDShowException::CDShowException(GraphErrorKind kind, std::string message)
    : m_kind(kind), m_message(std::move(message))
{
}

bool CDShowException::GetErrorMessage(char* buffer, std::size_t bufferSize, unsigned* helpContext) const noexcept
{
    if (helpContext != nullptr)
        *helpContext = 0;
    if (buffer != nullptr && bufferSize > 0) {
        const std::size_t count = std::min(m_message.size(), bufferSize - 1);
        std::memcpy(buffer, m_message.data(), count);
        buffer[count] = '\0';
    }
    return true;
}

void ThrowGraphError(GraphErrorKind kind, std::string message)
{
    throw CDShowException(kind, std::move(message));
}

std::string fileNotFoundMessage(const std::string& item)
{
    return item + graph_messages::kFileNotFoundSuffix;
}

namespace {

ErrorCategory categorizeResource(int code)
{
    switch (code) {
    case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        return ErrorCategory::Permission;
    case GST_RESOURCE_ERROR_NOT_FOUND:
    case GST_RESOURCE_ERROR_BUSY:
    case GST_RESOURCE_ERROR_OPEN_READ:
    case GST_RESOURCE_ERROR_OPEN_WRITE:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
    case GST_RESOURCE_ERROR_CLOSE:
    case GST_RESOURCE_ERROR_READ:
    case GST_RESOURCE_ERROR_WRITE:
    case GST_RESOURCE_ERROR_SEEK:
    case GST_RESOURCE_ERROR_SYNC:
    case GST_RESOURCE_ERROR_SETTINGS:
    case GST_RESOURCE_ERROR_NO_SPACE_LEFT:
        return ErrorCategory::Device;
    default:
        return ErrorCategory::Internal;
    }
}

ErrorCategory categorizeStream(int code)
{
    switch (code) {
    case GST_STREAM_ERROR_CODEC_NOT_FOUND:
        return ErrorCategory::MissingPlugin;
    case GST_STREAM_ERROR_WRONG_TYPE:
    case GST_STREAM_ERROR_TYPE_NOT_FOUND:
    case GST_STREAM_ERROR_DECODE:
    case GST_STREAM_ERROR_DEMUX:
    case GST_STREAM_ERROR_FORMAT:
    case GST_STREAM_ERROR_NOT_IMPLEMENTED:
        return ErrorCategory::Format;
    default:
        return ErrorCategory::Internal;
    }
}

}  // namespace

ErrorCategory categorize(const GError& error)
{
    if (error.domain == GST_CORE_ERROR)
        return error.code == GST_CORE_ERROR_MISSING_PLUGIN ? ErrorCategory::MissingPlugin : ErrorCategory::Internal;
    if (error.domain == GST_RESOURCE_ERROR)
        return categorizeResource(error.code);
    if (error.domain == GST_STREAM_ERROR)
        return categorizeStream(error.code);
    if (error.domain == GST_LIBRARY_ERROR)
        return ErrorCategory::Internal;
    return ErrorCategory::Unknown;
}

const char* categoryName(ErrorCategory category)
{
    switch (category) {
    case ErrorCategory::MissingPlugin: return "missing plug-in";
    case ErrorCategory::Device: return "device";
    case ErrorCategory::Permission: return "permission";
    case ErrorCategory::Format: return "format";
    case ErrorCategory::Internal: return "internal";
    case ErrorCategory::Unknown: break;
    }
    return "unknown";
}

}  // namespace vantrel::mediagraph
