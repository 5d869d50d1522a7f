// SPDX-License-Identifier: GPL-3.0-or-later
// The one error type of the capture and print pipeline and its fixed messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

namespace vantrel::mediagraph {

// What went wrong, as the shell distinguishes it. The numbers are the kinds that the messages carry.
enum class GraphErrorKind : std::int32_t {
    Invalid = 0,
    NoSuchDevice = 1,          // no video device at all, or none with the requested name
    NoDeviceEnumerator = 2,    // the device list itself cannot be made
    Graph = 3,                 // any other failed step of building or feeding a graph
};

// The fixed texts; the shell shows them as "Error: %s".
namespace graph_messages {
inline constexpr const char* kCannotCreateCaptureDevice = "Cannot create capture device !";
inline constexpr const char* kNoVideoDevice = "No video device found";
inline constexpr const char* kDeviceNotFound = "Device not found";
inline constexpr const char* kCannotCreateCaptureGraphBuilder = "Can't create CaptureGraphBuilder";
inline constexpr const char* kCannotCreateFilterGraph = "Can't create FilterGraph";
inline constexpr const char* kError = "Error";
inline constexpr const char* kNoDvOutputPin = "Can't find DV output pin";
inline constexpr const char* kNoDroppedFrames = "Can't find IAMDroppedFrames";
inline constexpr const char* kCannotStartDvOutput = "Can't start DV output";
inline constexpr const char* kDvOutputNotRunning = "DV output not running";
inline constexpr const char* kFileNotFoundSuffix = ": file not found";
inline constexpr const char* kNoFileSelected = "No file selected";
}  // namespace graph_messages

// Thrown by value and caught by const reference, everywhere.
class CDShowException : public std::exception {
public:
    CDShowException(GraphErrorKind kind, std::string message);

    GraphErrorKind kind() const noexcept { return m_kind; }
    const std::string& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }

    // Copies the message into buffer, cut to bufferSize - 1 characters and always terminated
    // (nothing is written when bufferSize is 0); sets *helpContext to 0 when asked. Always true.
    bool GetErrorMessage(char* buffer, std::size_t bufferSize, unsigned* helpContext = nullptr) const noexcept;

private:
    GraphErrorKind m_kind;
    std::string m_message;
};

// Every pipeline error leaves through here.
[[noreturn]] void ThrowGraphError(GraphErrorKind kind, std::string message);
[[noreturn]] inline void ThrowGraphError(std::string message)
{
    ThrowGraphError(GraphErrorKind::Graph, std::move(message));
}

// "PATH: file not found", for a print list item that matches no file.
std::string fileNotFoundMessage(const std::string& item);

}  // namespace vantrel::mediagraph
