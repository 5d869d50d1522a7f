// SPDX-License-Identifier: GPL-3.0-or-later
// Names of capture files: base name, recording date and a number no earlier file of the stem has.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::pipeline {

// The full path of a capture file: the stem is `base`, then "." and the local date and time of
// `time` formatted by strftime with `format` (nothing when that gives an empty text); then a
// number when `width` > 0 or when stem + ".avi" exists, else just ".avi":
//
//   width 0, no stem.avi, no numbered file   stem.avi
//   width 0, stem.avi exists, none numbered  stem.0.avi
//   otherwise                                stem.N.avi, N zero-padded to at least `width`
//
// N is one more than the largest number among the existing files stem.N.avi whose N is all
// decimal digits, at least `width` of them; a wider N wins over a larger narrower one, so the
// width grows with the files on disk (99 is followed by 100, and 100 and 99 by 101). Numbers are
// counted as digit strings, so no width overflows. `time` 0 or less means now. An empty base,
// or one ending in '/', names files "capture" in that folder (the current one when empty), so
// that no hidden file is made. Only '/' separates folders.
std::string MakeCaptureFileName(std::string_view base, std::string_view format, std::int32_t width,
                                std::int64_t time);

// The base name of capture files from a chosen file path: cut at the last "." of the file name
// ("/home/a.b/clip.avi" gives "/home/a.b/clip"); a "." inside a folder name is never cut at,
// nor the "." that begins a hidden file's name.
// Returns whether anything is left.
bool StripExtension(std::string& path);

// The working name's format: "~" in front, so that the working file of a stem never counts
// towards the numbering of its final names.
std::string WorkingNameFormat(std::string_view format);

// The defaults of capture file names.
inline constexpr std::string_view kDefaultNameFormat = "%y-%m-%d_%H-%M";
inline constexpr std::int32_t kDefaultNumberWidth = 2;

}  // namespace vantrel::pipeline
