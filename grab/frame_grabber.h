// SPDX-License-Identifier: GPL-3.0-or-later
// The frame grabber: decodes the frame at a time of a media file and saves it with the info panel burnt in as a bitmap file.
#pragma once

#include "dv/expected.h"

#include <QImage>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

namespace vantrel::grab {

// The texts the grabber writes to standard output, each ending in a carriage return and line feed.
namespace grab_messages {
inline constexpr const char* kGrabbing = "Grabbing bitmaps from %s.\r\n";
inline constexpr const char* kComplete = "Sample grabbing complete.\r\n";
inline constexpr const char* kCannotCreateGrabber = "Could not create CLSID_SampleGrabber\r\n";
inline constexpr const char* kCannotCreateSource = "Could not create source filter\r\n";
inline constexpr const char* kCannotCreateGraph = "Could not not create the graph\r\n";
inline constexpr const char* kCannotLoadFile = "Could not load the media file\r\n";
inline constexpr const char* kCannotConnect = "Could not connect source filter to grabber\r\n";
}  // namespace grab_messages

// The picture shown at `startTime` (100 ns units) of the file, decoded to 24 bits (Format_BGR888)
// at its real size. The error is a text for the user.
Expected<QImage, std::string> GrabPicture(const std::string& fileName, std::int64_t startTime);

// Asks for the bitmap file's name once the frame is decoded (the file dialog, or a name given on a
// command line); an empty name means the user cancelled.
using ChooseBitmapName = std::function<std::string()>;

enum class GrabOutcome {
    Unknown,
    Saved,      // the bitmap file is written whole
    Cancelled,  // no name was chosen: nothing is written
    Failed,     // nothing decoded, or the file could not be written (a partial file is removed)
};

struct GrabResult {
    GrabOutcome outcome = GrabOutcome::Unknown;
    std::string bitmapPath;  // the file written, or that could not be written (empty when nothing was decoded)
    std::string message;     // for the user when Failed: why the frame was not decoded, or not written
};

// The capture-bitmap command, shared by the main window and vantrel-grab so that both write the
// same bytes: decodes the frame at `startTime` (any time, 0 included), lays `infoBitmap` (the
// panel picture, g_hInfoBitmap) over its top-left corner by OR, asks `chooseName` for the name,
// and writes a 24-bit bottom-up bitmap file of the frame's real size to that name, with ".bmp"
// appended unless it ends so. The grabber's texts go to `progress` (standard output). Blocks the
// calling thread for the decode and the write.
GrabResult GrabFrames(const std::string& fileName, std::int64_t startTime, const QImage& infoBitmap,
                      const ChooseBitmapName& chooseName, std::FILE* progress = stdout);

// Writes the bytes to the file, replacing it; on failure removes what was written and returns
// the system's reason.
Expected<void, std::string> writeWholeFile(const std::string& path, std::span<const std::byte> bytes);

}  // namespace vantrel::grab
