// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the metadata blocks of DV AVI frames in batches and analyses them: the engine behind the analysis thread and the probe.
#include "avi/frame_batch_analyser.h"

#include "dv/dif_header.h"
#include "dv/pack_decoders.h"

#include <algorithm>

namespace vantrel::avi {

struct FrameBatchAnalyser::FrameRead {
    std::size_t firstPiece = 0;
    std::size_t endPiece = 0;
    std::size_t frameBytes = 0;
    std::size_t analysedBytes = 0;        // the leading part that decides the analysis
    bool isRead = true;
    bool hasDifHeader = false;
    bool isUndecided = false;             // the leading part left a search without a hit
    std::optional<std::size_t> deciding;  // SequencesDecidingAnalysis of the analysed part
};

FrameBatchAnalyser::FrameBatchAnalyser(ReadBackend backend)
    : m_reader(backend == ReadBackend::Mapped ? ReadBackend::IoUring : backend, kBatchPieces),
      m_isMapping(backend == ReadBackend::Mapped), m_buffer(kBatchFrames * dv::kMaxFrameBytes)
{
    // Without batches, one call per frame (gaps included) beats one call per sequence.
    m_shape = m_reader.backend() == ReadBackend::IoUring ? MetadataPieces::EachSequence : MetadataPieces::OneSpan;
}

void FrameBatchAnalyser::reset() noexcept
{
    m_leadingSequences = 0;
    m_hasLastRecord = false;
    m_readAheadEnd = 0;
    m_mapped.startOver();
}

std::span<std::byte> FrameBatchAnalyser::bufferOf(std::size_t slot) noexcept
{
    return std::span<std::byte>(static_cast<std::byte*>(m_buffer.data()) + slot * dv::kMaxFrameBytes,
                                dv::kMaxFrameBytes);
}

void FrameBatchAnalyser::readSequences(const DvAvi& file, std::span<const std::size_t> frames,
                                       std::span<FrameRead> reads, std::size_t firstSequence,
                                       std::size_t endSequence, bool onlyUndecided)
{
    const bool isMapping = m_isMapping && m_mapped.isWorthTrying();
    const MetadataPieces shape = isMapping ? MetadataPieces::EachSequence : m_shape;
    std::size_t pieces = 0;
    for (std::size_t slot = 0; slot < frames.size(); ++slot) {
        auto& read = reads[slot];
        if (onlyUndecided && !read.isUndecided) continue;
        read.firstPiece = pieces;
        pieces += file.metadataPieces(frames[slot], firstSequence, endSequence, shape, bufferOf(slot),
                                      std::span<ReadPiece>(m_pieces).subspan(pieces));
        read.endPiece = pieces;
    }
    const auto& readFile = file.reader().file();
    const auto batchPieces = std::span<const ReadPiece>(m_pieces.data(), pieces);
    const auto isBatchPieceRead = std::span<bool>(m_isPieceRead.data(), pieces);
    const bool isCold = readAheadWhenCold(readFile, batchPieces);
    if (isMapping && !isCold && m_mapped.copy(readFile, batchPieces)) {
        std::fill(isBatchPieceRead.begin(), isBatchPieceRead.end(), true);
    } else {
        m_reader.read(readFile, batchPieces, isBatchPieceRead);
    }
    for (std::size_t slot = 0; slot < frames.size(); ++slot) {
        auto& read = reads[slot];
        if (onlyUndecided && !read.isUndecided) continue;
        for (std::size_t p = read.firstPiece; p < read.endPiece; ++p) read.isRead = read.isRead && m_isPieceRead[p];
    }
}

bool FrameBatchAnalyser::readAheadWhenCold(const ReadOnlyFile& file, std::span<const ReadPiece> pieces) noexcept
{
    if (pieces.empty()) return false;
    const auto [lowest, highest] = std::minmax_element(pieces.begin(), pieces.end(), [](const auto& a, const auto& b) {
        return a.fileOffset < b.fileOffset;
    });
    const std::uint64_t end = highest->fileOffset + highest->sizeBytes;
    // The batch's last piece stands for the batch: a warm batch costs one call that reads one byte.
    if (file.isInPageCache(end - 1)) return false;
    const std::uint64_t start = std::max(lowest->fileOffset, m_readAheadEnd);
    const std::uint64_t windowEnd = end + kReadAheadBytes;
    if (start < windowEnd) file.readAhead(start, windowEnd - start);
    m_readAheadEnd = std::max(m_readAheadEnd, windowEnd);
    return true;
}

void FrameBatchAnalyser::analyse(const DvAvi& file, std::span<const std::size_t> frames,
                                 std::span<dv::DVFrameInfo* const> records, std::span<FrameOutcome> outcomes)
{
    frames = frames.first(std::min({frames.size(), kBatchFrames, records.size(), outcomes.size()}));
    const dv::VideoSystem system = file.videoSystem();
    const std::size_t sequences = dv::sequenceCount(system);
    const std::size_t leading = m_leadingSequences == 0 ? sequences : std::min(m_leadingSequences, sequences);
    std::array<FrameRead, kBatchFrames> reads{};

    readSequences(file, frames, reads, 0, leading, false);
    bool isAnyUndecided = false;
    for (std::size_t slot = 0; slot < frames.size(); ++slot) {
        auto& read = reads[slot];
        read.frameBytes = file.frameReadBytes(frames[slot]);
        read.analysedBytes = std::min(read.frameBytes, leading * dv::kSequenceBytes);
        if (!read.isRead) continue;
        read.hasDifHeader =
            dv::startsWithDifHeader(bufferOf(slot).first(std::min(read.frameBytes, dv::kDifHeaderCheckBytes)));
        read.deciding = dv::SequencesDecidingAnalysis(bufferOf(slot).first(read.analysedBytes), system);
        read.isUndecided = !read.deciding && read.analysedBytes < read.frameBytes && leading < sequences;
        isAnyUndecided = isAnyUndecided || read.isUndecided;
    }
    if (isAnyUndecided) {
        readSequences(file, frames, reads, leading, sequences, true);
        for (std::size_t slot = 0; slot < frames.size(); ++slot) {
            auto& read = reads[slot];
            if (!read.isUndecided) continue;
            read.analysedBytes = read.frameBytes;
            read.deciding = dv::SequencesDecidingAnalysis(bufferOf(slot).first(read.analysedBytes), system);
        }
    }

    std::size_t deciding = 0;
    for (std::size_t slot = 0; slot < frames.size(); ++slot) {
        auto& read = reads[slot];
        auto& record = *records[slot];
        const auto analysed = std::span<const std::byte>(bufferOf(slot).data(), read.isRead ? read.analysedBytes : 0);
        outcomes[slot] = FrameOutcome{read.isRead, read.isRead && read.hasDifHeader, read.frameBytes, analysed};
        if (!read.isRead && m_hasLastRecord) {
            // As when a read into one frame buffer fails: the bytes of the frame before stay.
            record = m_lastRecord;
            continue;
        }
        dv::AnalyseFrame(analysed, system, record, static_cast<long>(frames[slot]));
        m_lastRecord = record;
        m_hasLastRecord = true;
        if (read.isRead) deciding = std::max(deciding, read.deciding.value_or(sequences));
    }
    if (deciding != 0) m_leadingSequences = deciding;
}

}  // namespace vantrel::avi
