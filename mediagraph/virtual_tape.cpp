// SPDX-License-Identifier: GPL-3.0-or-later
// The tape of the virtual camcorder: DV frames in a raw .dv file or a DV AVI, read and recorded by index.
#include "mediagraph/virtual_tape.h"

#include "avi/dv_avi.h"
#include "dv/dif_header.h"
#include "mediagraph/virtual_camcorder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::mediagraph {

namespace {

std::string systemError(const std::filesystem::path& path, const char* what)
{
    return path.string() + ": " + what + ": " + std::strerror(errno);
}

// pread and pwrite move fewer bytes than asked only at the end of a file or on a signal: loop.
// A call that moves nothing before the span is done fails with EIO.
template <class Byte, class Transfer>
bool transferFully(int fd, std::uint64_t offset, std::span<Byte> bytes, Transfer transfer)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = transfer(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool readFully(int fd, std::uint64_t offset, std::span<std::byte> out)
{
    return transferFully(fd, offset, out, ::pread);
}

bool writeFully(int fd, std::uint64_t offset, std::span<const std::byte> bytes)
{
    return transferFully(fd, offset, bytes, ::pwrite);
}

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    ~FileDescriptor() { reset(); }
    int get() const noexcept { return m_fd; }
    explicit operator bool() const noexcept { return m_fd >= 0; }
    void reset() noexcept
    {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool startsLikeRiff(int fd)
{
    std::array<std::byte, 4> magic{};
    if (!readFully(fd, 0, magic)) return false;
    return std::memcmp(magic.data(), "RIFF", 4) == 0;
}

}  // namespace

dv::VideoSystem videoSystemOfWholeFrame(std::span<const std::byte> frame)
{
    const dv::VideoSystem system = dv::systemOfDifHeader(frame);
    if (system == dv::VideoSystem::Unknown || frame.size() != dv::frameBytes(system)) return dv::VideoSystem::Unknown;
    return system;
}

struct VirtualTape::Source {
    TapeKind kind = TapeKind::Unknown;
    std::filesystem::path path;
    dv::VideoSystem system = dv::VideoSystem::Unknown;
    std::int64_t frameCount = 0;
    FileDescriptor raw;               // the raw tape, read-write when the file allows it
    bool isWritable = false;
    std::optional<avi::DvAvi> avi;    // the AVI tape until its first recording
    std::filesystem::path aviPath;    // remembered for messages after the conversion

    std::size_t frameBytes() const noexcept
    {
        return system == dv::VideoSystem::Unknown ? 0 : dv::frameBytes(system);
    }
};

VirtualTape::VirtualTape(std::unique_ptr<Source> source) : m_source(std::move(source)) {}
VirtualTape::~VirtualTape() = default;

Expected<std::unique_ptr<VirtualTape>, std::string> VirtualTape::open(const std::filesystem::path& path)
{
    auto source = std::make_unique<Source>();
    source->path = path;
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    source->isWritable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) return unexpected(systemError(path, "cannot open the tape"));
    FileDescriptor file(fd);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return unexpected(systemError(path, "cannot read the tape's size"));
    if (!S_ISREG(info.st_mode)) return unexpected(path.string() + ": the tape is not a regular file");
    const auto sizeBytes = static_cast<std::uint64_t>(info.st_size);

    if (sizeBytes >= 4 && startsLikeRiff(file.get())) {
        auto dvAvi = avi::OpenDVAvi(path.string());
        if (!dvAvi) return unexpected(dvAvi.error());
        source->kind = TapeKind::Avi;
        source->aviPath = path;
        source->system = dvAvi->videoSystem();
        source->frameCount = static_cast<std::int64_t>(dvAvi->frameCount());
        source->avi.emplace(std::move(*dvAvi));
        return std::unique_ptr<VirtualTape>(new VirtualTape(std::move(source)));
    }

    source->kind = TapeKind::RawDv;
    if (sizeBytes > 0) {
        std::array<std::byte, dv::kDifHeaderCheckBytes> header{};
        if (sizeBytes < dv::kNtscFrameBytes || !readFully(file.get(), 0, header)) {
            return unexpected(path.string() + ": not a DV tape (shorter than one DV frame)");
        }
        source->system = dv::systemOfDifHeader(header);
        if (source->system == dv::VideoSystem::Unknown) {
            return unexpected(path.string() + ": not a DV tape (the file does not start with a DIF header block)");
        }
        source->frameCount = static_cast<std::int64_t>(sizeBytes / source->frameBytes());  // a torn last frame is not on the tape
    }
    source->raw = std::move(file);
    return std::unique_ptr<VirtualTape>(new VirtualTape(std::move(source)));
}

TapeKind VirtualTape::kind() const noexcept { return m_source->kind; }
const std::filesystem::path& VirtualTape::path() const noexcept { return m_source->path; }
std::int64_t VirtualTape::frameCount() const noexcept { return m_source->frameCount; }
dv::VideoSystem VirtualTape::videoSystem() const noexcept { return m_source->system; }
std::size_t VirtualTape::frameBytes() const noexcept { return m_source->frameBytes(); }

Expected<void, std::string> VirtualTape::readFrame(std::int64_t frameIndex, std::span<std::byte> out)
{
    Source& s = *m_source;
    const std::size_t bytes = s.frameBytes();
    if (frameIndex < 0 || frameIndex >= s.frameCount) {
        return unexpected(s.path.string() + ": no frame " + std::to_string(frameIndex) + " on the tape");
    }
    if (out.size() < bytes) return unexpected(std::string("frame buffer too small for a DV frame"));
    if (s.kind == TapeKind::Avi) {
        auto read = s.avi->readFrame(static_cast<std::size_t>(frameIndex), out.first(bytes));
        if (!read) return unexpected(read.error().message);
        // A short sample (a damaged file) is sent as a whole frame, its missing part blank.
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(std::min(*read, bytes)),
                  out.begin() + static_cast<std::ptrdiff_t>(bytes), std::byte{0});
        return {};
    }
    if (!readFully(s.raw.get(), static_cast<std::uint64_t>(frameIndex) * bytes, out.first(bytes))) {
        return unexpected(systemError(s.path, ("cannot read frame " + std::to_string(frameIndex)).c_str()));
    }
    return {};
}

Expected<void, std::string> VirtualTape::convertToRawTape()
{
    Source& s = *m_source;
    const auto recordedPath = CVirtualCamcorder::recordedTapePathFor(s.aviPath);
    FileDescriptor out(::open(recordedPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!out) return unexpected(systemError(recordedPath, "cannot create the recorded tape"));
    std::vector<std::byte> frame(s.frameBytes());  // once per tape, not per frame
    for (std::int64_t i = 0; i < s.frameCount; ++i) {
        if (auto read = readFrame(i, frame); !read) return read;
        if (!writeFully(out.get(), static_cast<std::uint64_t>(i) * frame.size(), frame)) {
            return unexpected(systemError(recordedPath, "cannot write the recorded tape"));
        }
    }
    s.kind = TapeKind::RawDv;
    s.path = recordedPath;
    s.raw = std::move(out);
    s.isWritable = true;
    s.avi.reset();
    return {};
}

Expected<void, std::string> VirtualTape::writeFrame(std::int64_t frameIndex, std::span<const std::byte> frame)
{
    Source& s = *m_source;
    const dv::VideoSystem frameSystem = videoSystemOfWholeFrame(frame);
    if (frameSystem == dv::VideoSystem::Unknown) {
        return unexpected(s.path.string() + ": cannot record " + std::to_string(frame.size()) +
                          " bytes that are not one whole DV frame");
    }
    if (s.system != dv::VideoSystem::Unknown && frameSystem != s.system) {
        return unexpected(s.path.string() + ": cannot record a " +
                          (frameSystem == dv::VideoSystem::Pal625_50 ? "PAL" : "NTSC") + " frame on a " +
                          (s.system == dv::VideoSystem::Pal625_50 ? "PAL" : "NTSC") + " tape");
    }
    if (frameIndex < 0 || frameIndex > s.frameCount) {
        return unexpected(s.path.string() + ": cannot record at frame " + std::to_string(frameIndex) +
                          " of a tape of " + std::to_string(s.frameCount));
    }
    if (s.kind == TapeKind::Avi) {
        if (auto converted = convertToRawTape(); !converted) return converted;
    }
    if (!s.isWritable) return unexpected(s.path.string() + ": the tape is write-protected (read-only file)");
    if (!writeFully(s.raw.get(), static_cast<std::uint64_t>(frameIndex) * frame.size(), frame)) {
        return unexpected(systemError(s.path, ("cannot record frame " + std::to_string(frameIndex)).c_str()));
    }
    s.system = frameSystem;
    s.frameCount = std::max(s.frameCount, frameIndex + 1);
    return {};
}

void VirtualTape::flush()
{
    if (m_source->raw && m_source->isWritable) ::fdatasync(m_source->raw.get());
}

}  // namespace vantrel::mediagraph
