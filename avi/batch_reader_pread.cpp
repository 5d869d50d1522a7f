// SPDX-License-Identifier: GPL-3.0-or-later
// The batch reader of a build without liburing: one pread per piece.
#include "avi/batch_reader.h"

namespace vantrel::avi {

struct BatchReader::Ring {};

BatchReader::BatchReader(ReadBackend, std::size_t) {}

BatchReader::~BatchReader() = default;

ReadBackend BatchReader::backend() const noexcept
{
    return ReadBackend::Pread;
}

void BatchReader::read(const ReadOnlyFile& file, std::span<const ReadPiece> pieces, std::span<bool> isPieceRead)
{
    file.readEachPiece(pieces, isPieceRead);
}

}  // namespace vantrel::avi
