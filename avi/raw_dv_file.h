// SPDX-License-Identifier: GPL-3.0-or-later
// Opens a raw DV file (.dv, .dif: DIF frames back to back, as dvgrab and ffmpeg write them) as one DV stream.
#pragma once

#include "avi/avi_reader.h"
#include "dv/expected.h"

#include <string>

namespace vantrel::avi {

// Whether the file begins like raw DV: its first bytes are those of a DV frame, a DIF header block
// of sequence 0 followed by subcode and VAUX blocks (dv::startsWithDifHeader). False when it cannot be read.
bool startsLikeRawDv(const std::string& path);

// Opens a raw DV file as a reader with one interleaved ('iavs') stream, as a type-1 DV AVI holds
// its DV: frame i is the whole frame at i × frame size, the rate is 25 or 30000/1001 frames a
// second as the first frame's header says. Bytes after the last whole frame (an interrupted
// recording) are left out and named in the reader's notes.
Expected<AviReader, AviError> openRawDvStream(const std::string& path);

}  // namespace vantrel::avi
