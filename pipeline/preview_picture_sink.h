// SPDX-License-Identifier: GPL-3.0-or-later
// Where the live preview's pictures go: the job window shows them, tests read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel::pipeline {

struct PreviewRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    friend bool operator==(const PreviewRect&, const PreviewRect&) = default;
};

// One decoded picture: rows of 3-byte BGR pixels, top row first.
struct PreviewPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t strideBytes = 0;
    std::span<const std::byte> bgr;
};

// The owner of a live preview (the job window). Its calls come on the preview's threads, never
// on the GUI thread: an implementation copies what it keeps and repaints through its own queue.
class IPreviewOwner {
public:
    // The size of the area the picture is shown in, in pixels.
    virtual void GetClientSize(std::uint32_t* width, std::uint32_t* height) const = 0;
    // A new picture and the rectangle of the area it is shown in; valid only during the call.
    virtual void ShowPreviewPicture(const PreviewPicture& picture, const PreviewRect& videoRect) = 0;

protected:
    ~IPreviewOwner() = default;
};

// The rectangle of a 4:3 picture in the middle of an area of width × height.
PreviewRect PreviewLayout(std::uint32_t width, std::uint32_t height) noexcept;

}  // namespace vantrel::pipeline
