// SPDX-License-Identifier: GPL-3.0-or-later
// The frame grabber: decodes the frame at a time of a media file and saves it with the info panel burnt in as a bitmap file.
#include "grab/frame_grabber.h"

#include "grab/bitmap_combiner.h"
#include "grab/bitmap_writer.h"
#include "mediagraph/frame_grab_graph.h"

#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::grab {

namespace {

const char* failureText(mediagraph::GrabFailure failure) noexcept
{
    using mediagraph::GrabFailure;
    switch (failure) {
    case GrabFailure::CannotCreateGrabber: return grab_messages::kCannotCreateGrabber;
    case GrabFailure::CannotCreateSource: return grab_messages::kCannotCreateSource;
    case GrabFailure::CannotCreateGraph: return grab_messages::kCannotCreateGraph;
    case GrabFailure::CannotLoadFile: return grab_messages::kCannotLoadFile;
    case GrabFailure::CannotConnect:
    case GrabFailure::Unknown: break;
    }
    return grab_messages::kCannotConnect;
}

// The fixed text without its line end, then the framework's reason: "Could not load the media file: ...".
std::string messageFor(const mediagraph::GrabError& error)
{
    std::string text = failureText(error.failure);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return error.detail.empty() ? text : text + ": " + error.detail;
}

// The decoded picture as a QImage of its size; null when there is no memory for it.
QImage imageOf(const mediagraph::DecodedPicture& picture)
{
    QImage image(picture.widthPixels, picture.heightPixels, QImage::Format_BGR888);
    const std::size_t usedRowBytes = 3 * static_cast<std::size_t>(picture.widthPixels);
    for (int y = 0; y < picture.heightPixels && !image.isNull(); ++y) {
        std::memcpy(image.scanLine(y), picture.bgr.data() + static_cast<std::size_t>(y) * picture.rowBytes, usedRowBytes);
    }
    return image;
}

constexpr const char* kNoMemory = "not enough memory for the picture";

}  // namespace

Expected<QImage, std::string> GrabPicture(const std::string& fileName, std::int64_t startTime)
{
    auto decoded = mediagraph::DecodePictureAt(fileName, startTime);
    if (!decoded) return unexpected(messageFor(decoded.error()));
    QImage image = imageOf(*decoded);
    if (image.isNull()) return unexpected(std::string(kNoMemory));
    return image;
}

Expected<void, std::string> writeWholeFile(const std::string& path, std::span<const std::byte> bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return unexpected(std::string(std::strerror(errno)));
    struct stat status {};
    const bool isRegularFile = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && error == 0) error = errno;  // a full disk may show only here (NFS)
    if (error != 0) {
        if (isRegularFile) ::unlink(path.c_str());  // no half bitmap is left to look like a saved one
        return unexpected(std::string(std::strerror(error)));
    }
    return {};
}

GrabResult GrabFrames(const std::string& fileName, std::int64_t startTime, const QImage& infoBitmap,
                      const ChooseBitmapName& chooseName, std::FILE* progress)
{
    std::fprintf(progress, grab_messages::kGrabbing, fileName.c_str());
    auto decoded = mediagraph::DecodePictureAt(fileName, startTime);
    if (!decoded) {
        std::fputs(failureText(decoded.error().failure), progress);
        std::fflush(progress);
        return {GrabOutcome::Failed, {}, messageFor(decoded.error())};
    }
    const QImage frame = imageOf(*decoded);
    if (frame.isNull()) return {GrabOutcome::Failed, {}, kNoMemory};

    GrabResult result;
    result.bitmapPath = bitmapFileName(chooseName ? chooseName() : std::string());
    if (result.bitmapPath.empty()) {
        result.outcome = GrabOutcome::Cancelled;
    } else {
        const std::array<QImage, 2> layers{frame, infoBitmap};
        CBitmapCombiner combiner;
        const QImage composed = combiner.Combine(layers, qRgb(0, 0, 0), CombineLayout::AtOrigin);
        auto bytes = bitmapFileBytes(PictureView{
            composed.width(), composed.height(), static_cast<std::size_t>(composed.bytesPerLine()),
            std::span<const std::byte>(reinterpret_cast<const std::byte*>(composed.constBits()),
                                       static_cast<std::size_t>(composed.sizeInBytes()))});
        auto written = bytes ? writeWholeFile(result.bitmapPath, *bytes) : Expected<void, std::string>(unexpected(bytes.error()));
        result.outcome = written ? GrabOutcome::Saved : GrabOutcome::Failed;
        if (!written) result.message = written.error();
    }
    std::fputs(grab_messages::kComplete, progress);
    std::fflush(progress);
    return result;
}

}  // namespace vantrel::grab
