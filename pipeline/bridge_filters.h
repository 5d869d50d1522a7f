// SPDX-License-Identifier: GPL-3.0-or-later
// The block interfaces between graphs: a frame sink takes DV frames, a frame source delivers them.
#pragma once

#include "mediagraph/dshow_graph.h"
#include "pipeline/reference_time.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel::pipeline {

// The smallest buffer for one frame: a PAL DV frame (an NTSC frame, 120000 bytes, fits).
inline constexpr std::uint32_t kMinimumFrameBufferBytes = 144000;

// What a reading graph delivers: the caps of its frames and the bytes one frame may take
// (0 for frames of variable size).
struct CMediaType {
    std::string caps;
    std::uint32_t sampleSize = 0;
};

// Raises a sample size below one PAL frame (a variable size counts as 0) to 144000 bytes.
void applyMinimumSampleSize(CMediaType& type);

class IFrameSink {
public:
    virtual ~IFrameSink() = default;
    // One frame: its duration (100 ns units; 0 when unknown) and bytes, valid only during the call.
    // End of stream is Deliver(-1, nullptr, 0).
    virtual void Deliver(REFERENCE_TIME duration, const std::byte* data, long length) = 0;
};

class IFrameSource {
public:
    virtual ~IFrameSource() = default;
    // The type of the frames this source delivers; meaningful once its graph is connected.
    virtual void GetMediaType(CMediaType* type) = 0;
    // Attaches the sink, then runs the graph.
    virtual mediagraph::StateChangeResult Start(IFrameSink* sink) = 0;
    // Stops the graph (every delivery has returned), then detaches the sink.
    virtual void Stop() = 0;
};

}  // namespace vantrel::pipeline
