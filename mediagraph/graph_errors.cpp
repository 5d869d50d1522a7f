// SPDX-License-Identifier: GPL-3.0-or-later
// The pipeline's error type and its fixed messages.
#include "mediagraph/graph_errors.h"

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

}  // namespace vantrel::mediagraph
