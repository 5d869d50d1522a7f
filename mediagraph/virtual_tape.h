// SPDX-License-Identifier: GPL-3.0-or-later
// The tape of the virtual camcorder: DV frames in a raw .dv file or a DV AVI, read and recorded by index.
//
// A raw .dv tape is a run of whole DIF frames (144000 bytes PAL, 120000 NTSC); the standard comes
// from the first frame's header block. Recording writes in place, and writing at the end lengthens
// the tape. An AVI tape is read through the AVI reader; its first recording copies its frames into
// NAME.recorded.dv beside it, and from then on that raw file is the tape. Not thread-safe: the
// camcorder serialises every call.
#pragma once

#include "dv/dif_layout.h"
#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace vantrel::mediagraph {

enum class TapeKind { Unknown, RawDv, Avi };

// The standard of a whole DV frame: the one its header block names, when the frame has that
// standard's size; Unknown for anything else.
dv::VideoSystem videoSystemOfWholeFrame(std::span<const std::byte> frame);

class VirtualTape {
public:
    // Opens an existing file; an empty file is a blank tape (no frames, no standard yet).
    static Expected<std::unique_ptr<VirtualTape>, std::string> open(const std::filesystem::path& path);
    ~VirtualTape();
    VirtualTape(const VirtualTape&) = delete;
    VirtualTape& operator=(const VirtualTape&) = delete;

    TapeKind kind() const noexcept;
    const std::filesystem::path& path() const noexcept;  // the file that holds the tape now
    std::int64_t frameCount() const noexcept;
    dv::VideoSystem videoSystem() const noexcept;         // Unknown while blank
    std::size_t frameBytes() const noexcept;              // 0 while blank

    // Copies frame frameIndex (0..frameCount()-1) into the first frameBytes() bytes of out.
    Expected<void, std::string> readFrame(std::int64_t frameIndex, std::span<std::byte> out);
    // Writes a whole frame at frameIndex (0..frameCount()): over the frame there, or after the last.
    // The frame must be of the tape's standard (a blank tape takes the standard of its first frame).
    Expected<void, std::string> writeFrame(std::int64_t frameIndex, std::span<const std::byte> frame);
    // Pushes recorded frames to the file (the camcorder calls it when recording stops).
    void flush();

private:
    struct Source;
    explicit VirtualTape(std::unique_ptr<Source> source);
    Expected<void, std::string> convertToRawTape();

    std::unique_ptr<Source> m_source;
};

}  // namespace vantrel::mediagraph
