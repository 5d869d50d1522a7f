// SPDX-License-Identifier: GPL-3.0-or-later
// Opens a raw DV file (.dv, .dif: DIF frames back to back, as dvgrab and ffmpeg write them) as one DV stream.
#pragma once

#include "avi/avi_reader.h"
#include "dv/dif_layout.h"
#include "dv/expected.h"

#include <cstddef>
#include <span>
#include <string>

namespace vantrel::avi {

// The bytes a file must begin with to be taken for raw DV: the header block and the first
// subcode block of sequence 0.
constexpr std::size_t kRawDvLeadingBytes = 2 * dv::kDifBlockBytes;

// The standard that the leading bytes of a raw DV stream say, or Unknown when they do not begin
// with a DIF header block of sequence 0 followed by its first subcode block. The header block's
// DSF bit tells 625/50 (PAL) from 525/60 (NTSC).
dv::VideoSystem videoSystemOfRawDv(std::span<const std::byte> leadingBytes) noexcept;

// Whether the file begins like raw DV (see videoSystemOfRawDv). False when it cannot be read.
bool startsLikeRawDv(const std::string& path);

// Opens a raw DV file as a reader with one interleaved ('iavs') stream, as a type-1 DV AVI holds
// its DV: frame i is the whole frame at i × frame size, the rate is 25 or 30000/1001 frames a
// second as the first frame's header says. Bytes after the last whole frame (an interrupted
// recording) are left out and named in the reader's notes.
Expected<AviReader, AviError> openRawDvStream(const std::string& path);

}  // namespace vantrel::avi
