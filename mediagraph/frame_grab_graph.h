// SPDX-License-Identifier: GPL-3.0-or-later
// Decodes one picture of a media file to 24-bit BGR outside the player: the frame grabber's graph.
//
// Design note. The graph is "Source" (filesrc) ! decodebin ! videoconvert ! "Grabber" (appsink,
// video/x-raw,format=BGR): decodebin takes type-1 and type-2 DV AVI and raw DV alike. A grab
// pauses the graph, waits for the first picture to preroll, seeks there (flushing, accurate) and
// waits for the picture of the new position to preroll, then takes it from the appsink. Every
// wait ends on the picture, on end of stream or on the graph's first error, whichever comes
// first, and at the latest at a deadline; nothing polls.
#pragma once

#include "dv/expected.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::mediagraph {

// A decoded picture: 3 bytes a pixel in the order blue, green, red, rows top-down.
struct DecodedPicture {
    int widthPixels = 0;
    int heightPixels = 0;
    std::size_t rowBytes = 0;            // bytes from one row to the next (at least 3 × width)
    std::int64_t position100ns = -1;     // the picture's time in the stream, -1 when unknown
    std::vector<std::byte> bgr;          // heightPixels × rowBytes
};

// Which step of a grab failed; the frame grabber turns each into its text.
enum class GrabFailure {
    Unknown,
    CannotCreateGrabber,     // the appsink is not installed
    CannotCreateSource,      // filesrc is not installed
    CannotCreateGraph,       // no pipeline, or decodebin / videoconvert missing
    CannotLoadFile,          // the file cannot be opened for reading
    CannotConnect,           // the file holds no picture this graph can decode, or none at that time
};

struct GrabError {
    GrabFailure failure = GrabFailure::Unknown;
    std::string detail;  // what the media framework said, for the user
};

// How long a grab may wait for each picture before it gives up.
inline constexpr std::chrono::milliseconds kGrabWaitLimit{10000};

// Decodes the picture shown at `position100ns` (100 ns units from the start of the stream) of the
// file. Blocks the calling thread until the picture is there or the grab failed.
Expected<DecodedPicture, GrabError> DecodePictureAt(const std::string& fileName, std::int64_t position100ns,
                                                     std::chrono::milliseconds waitLimit = kGrabWaitLimit);

}  // namespace vantrel::mediagraph
