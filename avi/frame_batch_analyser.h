// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the metadata blocks of DV AVI frames in batches and analyses them: the engine behind the analysis thread and the probe.
#pragma once

#include "avi/batch_reader.h"
#include "avi/dv_avi.h"
#include "avi/large_block.h"
#include "avi/mapped_reader.h"
#include "dv/dv_frame_info.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vantrel::avi {

// Design note. Analysing a frame needs only blocks 1..5 (subcode and VAUX) of each sequence,
// and of those only the leading sequences where every search made its hit: the camcorder
// writes the time code and camera packs from sequence 0 on but the date and time only in the
// second half, so usually 7 sequences of 12 decide a PAL frame. The analyser reads first the
// sequences that decided the frames before, and reads the rest of a frame only when a search
// found nothing in what it read (a pack missing, damaged or moved); the record is always the
// one the whole frame gives. The reads of a whole batch go to the kernel at once.
// From the disk, pieces 12000 bytes apart defeat the kernel's readahead (every piece becomes a
// 4 KB disk read of its own, several times slower than reading the file whole); so when a
// batch's pieces are not in the page cache, the analyser has the kernel read whole the span
// they lie in and kReadAheadBytes beyond, and keeps that window ahead of its reads. From the
// page cache, a batch's pieces are copied out of a mapping where the kernel maps the file in
// huge pages (MappedReader), and read by requests otherwise.
class FrameBatchAnalyser {
public:
    static constexpr std::size_t kBatchFrames = 16;  // frames handed to the kernel at once
    static constexpr std::uint64_t kReadAheadBytes = 16 * 1024 * 1024;  // about seven batches of PAL frames

    // What became of one frame of a batch.
    struct FrameOutcome {
        bool isRead = false;              // false: the read failed, the record repeats the frame before
        bool hasDifHeader = false;        // false: no DIF header block where the frame begins (damaged)
        std::size_t frameBytes = 0;       // the frame's size as readFrame counts it
        std::span<const std::byte> analysedBytes;  // the leading bytes analysed (valid until the next batch)
    };

    explicit FrameBatchAnalyser(ReadBackend backend = ReadBackend::Mapped);
    FrameBatchAnalyser(const FrameBatchAnalyser&) = delete;
    FrameBatchAnalyser& operator=(const FrameBatchAnalyser&) = delete;

    ReadBackend backend() const noexcept { return m_isMapping ? ReadBackend::Mapped : m_reader.backend(); }

    // Starts over for another file: reads whole frames first and forgets the last record.
    void reset() noexcept;

    // Lets go of the file: call it when its batches are done (the analyser may keep part of it mapped).
    void releaseFile() noexcept { m_mapped.release(); }

    // Reads and analyses up to kBatchFrames frames of `file`, in the order given, into
    // *records[i] and outcomes[i]. A frame whose read fails gets a copy of the record before it
    // (of the frame analysed last, in this batch or an earlier one), or the record of an empty
    // frame when there is none. Allocates nothing.
    void analyse(const DvAvi& file, std::span<const std::size_t> frames, std::span<dv::DVFrameInfo* const> records,
                 std::span<FrameOutcome> outcomes);

private:
    struct FrameRead;
    void readSequences(const DvAvi& file, std::span<const std::size_t> frames, std::span<FrameRead> reads,
                       std::size_t firstSequence, std::size_t endSequence, bool onlyUndecided);
    std::span<std::byte> bufferOf(std::size_t slot) noexcept;
    // Keeps the kernel reading ahead of pieces that are not in the page cache; true when they were not.
    bool readAheadWhenCold(const ReadOnlyFile& file, std::span<const ReadPiece> pieces) noexcept;

    static constexpr std::size_t kBatchPieces = kBatchFrames * dv::kPalSequences;

    BatchReader m_reader;
    MetadataPieces m_shape = MetadataPieces::Unknown;  // what suits m_reader
    MappedReader m_mapped;
    bool m_isMapping = false;                          // copies from m_mapped where it is cheap
    LargeBlock m_buffer;                               // kBatchFrames frames
    std::array<ReadPiece, kBatchPieces> m_pieces{};
    std::array<bool, kBatchPieces> m_isPieceRead{};
    std::size_t m_leadingSequences = 0;                // 0: read whole frames
    dv::DVFrameInfo m_lastRecord{};
    bool m_hasLastRecord = false;
    std::uint64_t m_readAheadEnd = 0;                  // where the window asked for so far ends
};

}  // namespace vantrel::avi
