// SPDX-License-Identifier: GPL-3.0-or-later
#include "avi/avi_test_files.h"

#include "support/synthetic_dv_frame.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace vantrel::testsupport {

Frames palFrames(int count)
{
    Frames frames;
    for (int i = 0; i < count; ++i) frames.push_back(SyntheticDvFrame::pal().withTimecode({0, 0, i / 25, i % 25}).bytes());
    return frames;
}

Bytes writtenAvi(const Frames& frames, const WrittenAvi& options)
{
    const auto path = testPath("written.avi");
    auto writer = avi::AviWriter::create(path, {options.type, options.system, options.maxRiffBytes});
    if (!writer) throw std::runtime_error(writer.error().message);
    for (const auto& frame : frames) {
        if (auto written = writer->writeFrame(frame); !written) throw std::runtime_error(written.error().message);
    }
    if (auto finished = writer->finish(); !finished) throw std::runtime_error(finished.error().message);
    auto bytes = readBytes(path);
    std::filesystem::remove(path);
    return bytes;
}

Bytes keepIndexes(Bytes bytes, Kept kept)
{
    const auto hide = [&](const char* fourCC) {
        for (auto at = findFourCC(bytes, fourCC); at != std::string::npos; at = findFourCC(bytes, fourCC, at + 4)) {
            putFourCC(bytes, at, "JUNK");
        }
    };
    if (kept == Kept::Idx1Only || kept == Kept::None) hide("indx");
    if (kept == Kept::OpenDmlOnly || kept == Kept::None) hide("idx1");
    return bytes;
}

std::string writeTestFile(const std::string& name, std::span<const std::byte> bytes)
{
    const auto path = testPath(name).string();
    if (!writeBytes(path, bytes)) throw std::runtime_error("cannot write " + path);
    return path;
}

std::shared_ptr<const avi::DvAvi> openWritten(const std::string& name, const Frames& frames, const WrittenAvi& options)
{
    auto avi = avi::OpenDVAvi(writeTestFile(name, writtenAvi(frames, options)));
    if (!avi) throw std::runtime_error(avi.error());
    return std::make_shared<const avi::DvAvi>(std::move(*avi));
}

void expectFrames(const std::string& path, const Frames& frames, std::size_t count, avi::IndexSource source)
{
    auto reader = avi::AviReader::open(path);
    ASSERT_TRUE(reader) << path << ": " << reader.error().message;
    EXPECT_EQ(reader->indexSource(), source) << path;
    ASSERT_EQ(reader->sampleCount(0), count) << path;
    std::vector<std::byte> buffer(dv::kMaxFrameBytes);
    for (std::size_t i = 0; i < count; ++i) {
        auto read = reader->readSample(0, i, buffer);
        ASSERT_TRUE(read) << path << " frame " << i << ": " << read.error().message;
        ASSERT_EQ(*read, frames[i].size());
        ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].end(), buffer.begin())) << path << " frame " << i;
    }
}

std::string allNotes(const std::vector<std::string>& notes)
{
    std::string text;
    for (const auto& note : notes) text += note + "\n";
    return text;
}

std::uint32_t u32At(const Bytes& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= std::to_integer<std::uint32_t>(bytes.at(offset + i)) << (8 * i);
    return value;
}

void putU32(Bytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::byte>(value >> (8 * i));
}

void putU64(Bytes& bytes, std::size_t offset, std::uint64_t value)
{
    putU32(bytes, offset, static_cast<std::uint32_t>(value));
    putU32(bytes, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

void putFourCC(Bytes& bytes, std::size_t offset, const char* fourCC)
{
    for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::byte>(fourCC[i]);
}

std::size_t findFourCC(const Bytes& bytes, const char* fourCC, std::size_t from)
{
    for (std::size_t i = from; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(bytes.data() + i, fourCC, 4) == 0) return i;
    }
    return std::string::npos;
}

std::size_t payloadOf(const Bytes& bytes, const char* fourCC, int nth)
{
    std::size_t at = findFourCC(bytes, fourCC);
    for (int i = 0; i < nth; ++i) at = findFourCC(bytes, fourCC, at + 4);
    if (at == std::string::npos) throw std::runtime_error(std::string("no chunk ") + fourCC);
    return at + 8;
}

std::vector<std::size_t> frameChunkOffsets(const Bytes& bytes, std::uint32_t frameBytes)
{
    std::vector<std::size_t> offsets;
    for (auto at = findFourCC(bytes, "00dc"); at != std::string::npos; at = findFourCC(bytes, "00dc", at + 4)) {
        if (at + 8 <= bytes.size() && u32At(bytes, at + 4) == frameBytes) offsets.push_back(at);
    }
    return offsets;
}

void insertIntoFirstMovie(Bytes& bytes, std::size_t offset, const Bytes& inserted)
{
    const auto grow = static_cast<std::uint32_t>(inserted.size());
    const auto movi = findFourCC(bytes, "movi") - 8;
    putU32(bytes, 4, u32At(bytes, 4) + grow);
    putU32(bytes, movi + 4, u32At(bytes, movi + 4) + grow);
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(offset), inserted.begin(), inserted.end());
}

}  // namespace vantrel::testsupport
