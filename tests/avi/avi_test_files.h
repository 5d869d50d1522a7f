// SPDX-License-Identifier: GPL-3.0-or-later
// DV AVI files for the reader's tests: written by our own writer, then edited byte by byte where
// a test needs the structures and the damage other writers and crashes leave.
#pragma once

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "avi/dv_avi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace vantrel::testsupport {

using Bytes = std::vector<std::byte>;
using Frames = std::vector<std::vector<std::byte>>;

// PAL frames that differ: frame i carries the time code 00:00:ss ff = i.
Frames palFrames(int count);

struct WrittenAvi {
    avi::DvAviType type = avi::DvAviType::Type1Interleaved;
    dv::VideoSystem system = dv::VideoSystem::Pal625_50;
    std::uint64_t maxRiffBytes = std::uint64_t{1} << 30;
};
// The bytes of the file our writer makes of `frames`.
Bytes writtenAvi(const Frames& frames, const WrittenAvi& options = {});

// Hides an index kind by renaming its chunks to 'JUNK': the OpenDML super indexes ('indx') or the
// legacy 'idx1'. Left in the movie lists, the standard indexes ('ix##') are chunks of no stream.
enum class Kept { Both, Idx1Only, OpenDmlOnly, None };
Bytes keepIndexes(Bytes bytes, Kept kept);

// Writes bytes to a file in the running test's own folder and returns its path.
std::string writeTestFile(const std::string& name, std::span<const std::byte> bytes);

// Our writer's file of `frames`, written as `name` in the running test's folder and opened.
std::shared_ptr<const avi::DvAvi> openWritten(const std::string& name, const Frames& frames,
                                              const WrittenAvi& options = {});

// Opens `path` and checks that it finds its samples through `source` and that stream 0 holds
// exactly the first `count` of `frames`, byte for byte.
void expectFrames(const std::string& path, const Frames& frames, std::size_t count, avi::IndexSource source);

// The notes, one a line.
std::string allNotes(const std::vector<std::string>& notes);

// Editing: little-endian values, the offset of the first `fourCC` from `from` (npos: none), the
// payload of the n-th chunk `fourCC`, and the headers of the chunks holding the frames ('00dc'
// of `frameBytes`).
std::uint32_t u32At(const Bytes& bytes, std::size_t offset);
void putU32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void putU64(Bytes& bytes, std::size_t offset, std::uint64_t value);
void putFourCC(Bytes& bytes, std::size_t offset, const char* fourCC);
std::size_t findFourCC(const Bytes& bytes, const char* fourCC, std::size_t from = 0);
std::size_t payloadOf(const Bytes& bytes, const char* fourCC, int nth = 0);
std::vector<std::size_t> frameChunkOffsets(const Bytes& bytes, std::uint32_t frameBytes = 144000);
// Inserts bytes at `offset` inside the first movie list; the list and its form grow to hold them.
void insertIntoFirstMovie(Bytes& bytes, std::size_t offset, const Bytes& inserted);

}  // namespace vantrel::testsupport
