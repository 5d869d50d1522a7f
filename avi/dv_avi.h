// SPDX-License-Identifier: GPL-3.0-or-later
// Opens the DV stream of a DV AVI file (type 1 or type 2) and decides whether it is PAL or NTSC.
#pragma once

#include "avi/avi_reader.h"
#include "dv/dif_layout.h"
#include "dv/expected.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantrel::avi {

// The four facts of the DV stream that the program uses, named as the stream information names them.
struct DvStreamInfo {
    FourCC fccType = 0;                      // 'vids' (type 2) or 'iavs' (type 1)
    FourCC fccHandler = 0;
    std::uint32_t dwScale = 0;
    std::uint32_t dwRate = 0;                // frames a second = dwRate / dwScale
    std::uint32_t dwLength = 0;              // frames found in the file's index (or by the scan)
    std::uint32_t dwSuggestedBufferSize = 0;
};

// The open DV stream of one file. Reading is const and thread-safe.
// How the metadata blocks of a frame are cut into reads: a piece per sequence copies the least
// and suits batched reads; one span per frame needs a single call but copies the gaps too.
enum class MetadataPieces { Unknown, EachSequence, OneSpan };

class DvAvi {
public:
    const DvStreamInfo& streamInfo() const noexcept { return m_info; }
    bool IsPAL() const noexcept { return m_isPal; }
    dv::VideoSystem videoSystem() const noexcept
    {
        return m_isPal ? dv::VideoSystem::Pal625_50 : dv::VideoSystem::Ntsc525_60;
    }
    std::size_t frameCount() const noexcept { return m_reader.sampleCount(m_stream); }
    std::size_t streamIndex() const noexcept { return m_stream; }
    const AviReader& reader() const noexcept { return m_reader; }

    // Bytes a read of frame i takes: the sample's real size as the index gives it, never more
    // than one PAL frame (144000 bytes). dwSuggestedBufferSize is a hint of the writer and cuts
    // nothing: a wrong one would cut every frame short.
    std::size_t frameReadBytes(std::size_t frameIndex) const noexcept;

    // What OpenDVAvi worked around, for the user: the reader's notes about the file's structure,
    // then a frame rate that was missing or said another standard than the frames.
    const std::vector<std::string>& notes() const noexcept { return m_notes; }

    // Reads frame i into out (at least frameReadBytes(i) bytes long); returns the bytes read.
    Expected<std::size_t, AviError> readFrame(std::size_t frameIndex, std::span<std::byte> out) const;

    // Reads only the subcode and VAUX blocks (blocks 1..5) of every DIF sequence of frame i into
    // their places in out, and the header block (block 0) of sequence 0, which tells a DV frame;
    // the other bytes of out are left as they were. Returns the frame's read size as readFrame
    // would. One system call per DIF sequence, 400 bytes instead of 12000.
    Expected<std::size_t, AviError> readMetadataBlocks(std::size_t frameIndex, std::span<std::byte> out) const;

    // Where the subcode and VAUX blocks of sequences [firstSequence, endSequence) of frame i lie,
    // as pieces aimed at their places in out (clipped like readFrame), for a batch reader to
    // read: one piece per sequence, or one span with the gaps. Returns the pieces written.
    std::size_t metadataPieces(std::size_t frameIndex, std::size_t firstSequence, std::size_t endSequence,
                               MetadataPieces shape, std::span<std::byte> out,
                               std::span<ReadPiece> pieces) const noexcept;

private:
    friend Expected<DvAvi, std::string> openDvStream(const std::string& fileName);
    DvAvi(AviReader reader, std::size_t stream, DvStreamInfo info, bool isPal, std::vector<std::string> notes);

    AviReader m_reader;
    std::size_t m_stream;
    DvStreamInfo m_info;
    bool m_isPal;
    std::vector<std::string> m_notes;
};

// Which standard a stream's rate says: PAL when dwScale is not 0 and dwRate / dwScale (unsigned,
// truncated) is 25; NTSC when dwScale is 1001 and dwRate 30000; anything else is neither.
dv::VideoSystem videoSystemOfRate(std::uint32_t dwRate, std::uint32_t dwScale) noexcept;

// Opens the first 'vids' stream of the file, or failing that the first 'iavs' stream, and accepts
// it when it holds DV: one of its first frames must begin with a DIF header block, else the
// stream is refused. PAL or NTSC comes from the rate; where the rate is missing (0) or names
// the other standard than the DIF header's DSF bit, the DSF bit decides and a note says so.
// A rate that is neither standard is refused. A raw DV file opens as one 'iavs' stream
// (raw_dv_file.h). The error is a text for the user; running out of memory is one too.
Expected<DvAvi, std::string> OpenDVAvi(const std::string& fileName);

}  // namespace vantrel::avi
