// SPDX-License-Identifier: GPL-3.0-or-later
// Builds DV AVI files byte by byte for the reader's tests, including the damage real files show.
#include "avi/test_avi_builder.h"

#include "support/test_files.h"
#include "support/synthetic_dv_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace vantrel::testsupport {

namespace {

constexpr std::uint32_t fourCC(const char (&text)[5])
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[3])) << 24;
}

constexpr std::size_t kSuperIndexSlots = 32;
constexpr std::size_t kSuperIndexBytes = 24 + 16 * kSuperIndexSlots;

class Bytes {
public:
    Bytes& u8(std::uint8_t v) { m_data.push_back(static_cast<std::byte>(v)); return *this; }
    Bytes& u16(std::uint16_t v) { return u8(static_cast<std::uint8_t>(v)).u8(static_cast<std::uint8_t>(v >> 8)); }
    Bytes& u32(std::uint32_t v) { return u16(static_cast<std::uint16_t>(v)).u16(static_cast<std::uint16_t>(v >> 16)); }
    Bytes& u64(std::uint64_t v) { return u32(static_cast<std::uint32_t>(v)).u32(static_cast<std::uint32_t>(v >> 32)); }
    Bytes& zeros(std::size_t n) { m_data.insert(m_data.end(), n, std::byte{0}); return *this; }
    Bytes& chunk(std::uint32_t id, const Bytes& payload)
    {
        u32(id).u32(static_cast<std::uint32_t>(payload.m_data.size()));
        m_data.insert(m_data.end(), payload.m_data.begin(), payload.m_data.end());
        if (payload.m_data.size() % 2 != 0) u8(0);
        return *this;
    }
    Bytes& list(std::uint32_t type, const Bytes& payload)
    {
        Bytes inner;
        inner.u32(type);
        inner.m_data.insert(inner.m_data.end(), payload.m_data.begin(), payload.m_data.end());
        return chunk(fourCC("LIST"), inner);
    }
    std::size_t size() const { return m_data.size(); }
    const std::vector<std::byte>& data() const { return m_data; }

private:
    std::vector<std::byte> m_data;
};

std::uint32_t streamType(TestStream stream)
{
    switch (stream) {
    case TestStream::Vids: return fourCC("vids");
    case TestStream::Auds: return fourCC("auds");
    case TestStream::Iavs: return fourCC("iavs");
    }
    return 0;
}

}  // namespace

TestAviBuilder::TestAviBuilder(TestAviOptions options) : m_options(std::move(options))
{
}

TestAviBuilder::~TestAviBuilder()
{
    if (m_fd >= 0) ::close(m_fd);
}

void TestAviBuilder::writeToFile(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) throw std::runtime_error("cannot create " + path);
}

void TestAviBuilder::append(std::span<const std::byte> bytes)
{
    if (m_fd >= 0) {
        patchBytes(m_size, bytes);
    } else {
        m_memory.resize(static_cast<std::size_t>(m_size));
        m_memory.insert(m_memory.end(), bytes.begin(), bytes.end());
    }
    m_size += bytes.size();
}

void TestAviBuilder::appendHole(std::uint64_t count)
{
    if (m_fd < 0) m_memory.resize(static_cast<std::size_t>(m_size + count));
    m_size += count;
}

void TestAviBuilder::patchBytes(std::uint64_t offset, std::span<const std::byte> bytes)
{
    if (m_fd >= 0) {
        if (::pwrite(m_fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
            static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("test file write failed");
        }
    } else {
        std::memcpy(m_memory.data() + offset, bytes.data(), bytes.size());
    }
}

void TestAviBuilder::patchU32(std::uint64_t offset, std::uint32_t value)
{
    Bytes b;
    b.u32(value);
    patchBytes(offset, b.data());
}

std::uint32_t TestAviBuilder::dataChunkId(std::size_t stream) const
{
    const char tens = static_cast<char>('0' + stream / 10);
    const char units = static_cast<char>('0' + stream % 10);
    char id[5] = {tens, units, 'd', 'c', 0};
    if (m_options.streams[stream] == TestStream::Auds) { id[2] = 'w'; id[3] = 'b'; }
    if (m_options.streams[stream] == TestStream::Iavs) { id[2] = '_'; id[3] = '_'; }
    return fourCC({id[0], id[1], id[2], id[3], 0});
}

void TestAviBuilder::writeHeaderList()
{
    const bool openDml = m_options.index == TestIndex::OpenDml;
    Bytes mainHeader;
    mainHeader.u32(m_options.rate ? 1000000u * m_options.scale / m_options.rate : 0).u32(3600000).u32(0).u32(0x10);
    mainHeader.u32(0).u32(0).u32(static_cast<std::uint32_t>(m_options.streams.size()))
        .u32(m_options.suggestedBufferSize).u32(720).u32(576).zeros(16);
    Bytes headerList;
    headerList.chunk(fourCC("avih"), mainHeader);
    std::vector<std::uint64_t> lengthFieldInList;
    std::vector<std::uint64_t> superIndexInList;
    for (const auto stream : m_options.streams) {
        const bool isAudio = stream == TestStream::Auds;
        Bytes header;
        header.u32(streamType(stream)).u32(isAudio ? 0 : fourCC("dvsd")).u32(0).u32(0).u32(0);
        header.u32(isAudio ? 1 : m_options.scale).u32(isAudio ? 48000 : m_options.rate).u32(0);
        header.u32(0);  // dwLength, filled in at the end
        header.u32(isAudio ? m_options.audioChunkBytes : m_options.suggestedBufferSize).u32(0);
        header.u32(isAudio ? 4 : 0).zeros(8);
        Bytes format;
        if (stream == TestStream::Vids) {
            format.u32(40).u32(720).u32(576).u16(1).u16(24).u32(fourCC("dvsd")).u32(144000).zeros(16);
        } else if (stream == TestStream::Iavs) {
            format.zeros(32);  // DVINFO
        } else {
            format.u16(1).u16(2).u32(48000).u32(192000).u16(4).u16(16).u16(0);
        }
        Bytes streamList;
        streamList.chunk(fourCC("strh"), header).chunk(fourCC("strf"), format);
        // Where dwLength and the super index land: 12 (LIST hdr + type) in this strl, 8 + 32 into strh.
        lengthFieldInList.push_back(headerList.size() + 12 + 8 + 32);
        if (openDml) {
            superIndexInList.push_back(headerList.size() + 12 + streamList.size() + 8);
            Bytes index;
            index.zeros(kSuperIndexBytes);
            streamList.chunk(fourCC("indx"), index);
        }
        headerList.list(fourCC("strl"), streamList);
    }
    const std::uint64_t listPayload = position() + 12;  // behind "LIST", size, "hdrl"
    Bytes whole;
    whole.list(fourCC("hdrl"), headerList);
    append(whole.data());
    m_lengthOffset = listPayload + lengthFieldInList.front();
    for (std::size_t i = 0; i < superIndexInList.size(); ++i) m_superIndexOffsets.push_back(listPayload + superIndexInList[i]);
    (void)lengthFieldInList;
}

void TestAviBuilder::appendChunk(std::uint32_t id, std::span<const std::byte> payload, Form* form, int stream)
{
    const std::uint64_t offset = position();
    Bytes header;
    header.u32(id).u32(static_cast<std::uint32_t>(payload.size()));
    append(header.data());
    append(payload);
    if (payload.size() % 2 != 0) append(std::vector<std::byte>(1));
    if (form && stream >= 0) {
        form->entriesPerStream[static_cast<std::size_t>(stream)].push_back(
            IndexEntry{id, offset, static_cast<std::uint32_t>(payload.size())});
    }
}

TestAviBuilder& TestAviBuilder::addFrame(std::span<const std::byte> frame)
{
    if (m_forms.empty()) {
        Bytes riff;
        riff.u32(fourCC("RIFF")).u32(0).u32(fourCC("AVI "));
        append(riff.data());
        writeHeaderList();
        Form form{0, position(), std::vector<std::vector<IndexEntry>>(m_options.streams.size())};
        Bytes movi;
        movi.u32(fourCC("LIST")).u32(0).u32(fourCC("movi"));
        append(movi.data());
        m_forms.push_back(std::move(form));
    }
    const std::vector<std::byte> audio(m_options.audioChunkBytes, std::byte{0x11});
    for (std::size_t s = 0; s < m_options.streams.size(); ++s) {
        const bool isAudio = m_options.streams[s] == TestStream::Auds;
        if (!isAudio) m_frameChunkOffsets.push_back(position());
        appendChunk(dataChunkId(s), isAudio ? std::span<const std::byte>(audio) : frame, &m_forms.back(),
                    static_cast<int>(s));
    }
    ++m_framesWritten;
    return *this;
}

TestAviBuilder& TestAviBuilder::addJunk(std::uint64_t payloadBytes, bool padded)
{
    Bytes header;
    header.u32(fourCC("JUNK")).u32(static_cast<std::uint32_t>(payloadBytes));
    append(header.data());
    appendHole(payloadBytes + ((padded && payloadBytes % 2 != 0) ? 1 : 0));
    return *this;
}

TestAviBuilder& TestAviBuilder::startExtensionForm()
{
    closeForm();
    Form form{position(), position() + 12, std::vector<std::vector<IndexEntry>>(m_options.streams.size())};
    Bytes headers;
    headers.u32(fourCC("RIFF")).u32(0).u32(fourCC("AVIX"));
    headers.u32(fourCC("LIST")).u32(0).u32(fourCC("movi"));
    append(headers.data());
    m_forms.push_back(std::move(form));
    return *this;
}

void TestAviBuilder::closeForm()
{
    Form& form = m_forms.back();
    const bool isFirst = m_forms.size() == 1;
    if (m_options.index == TestIndex::OpenDml) {
        for (std::size_t s = 0; s < m_options.streams.size(); ++s) {
            const auto& entries = form.entriesPerStream[s];
            Bytes index;
            index.u16(2).u8(0).u8(1).u32(static_cast<std::uint32_t>(entries.size())).u32(dataChunkId(s));
            index.u64(form.riffOffset).u32(0);
            for (const auto& e : entries) {
                index.u32(static_cast<std::uint32_t>(e.chunkOffset + 8 - form.riffOffset)).u32(e.sizeBytes);
            }
            const std::uint64_t indexOffset = position();
            const char id[5] = {'i', 'x', static_cast<char>('0' + s / 10), static_cast<char>('0' + s % 10), 0};
            appendChunk(fourCC({id[0], id[1], id[2], id[3], 0}), index.data(), nullptr, -1);
            const std::size_t slot = m_forms.size() - 1;
            if (slot < kSuperIndexSlots) {
                Bytes entry;
                entry.u64(indexOffset).u32(static_cast<std::uint32_t>(index.size() + 8))
                    .u32(static_cast<std::uint32_t>(entries.size()));
                patchBytes(m_superIndexOffsets[s] + 24 + 16 * slot, entry.data());
            }
        }
    }
    const std::uint64_t moviEnd = position();
    if (!m_options.zeroRiffSizes) patchU32(form.moviOffset + 4, static_cast<std::uint32_t>(moviEnd - form.moviOffset - 8));
    if (isFirst && m_options.index != TestIndex::None) {
        Bytes idx1;
        const std::uint64_t base = m_options.index == TestIndex::Idx1FileOffsets ? 0 : form.moviOffset + 8;
        // Interleave as writers do: frame by frame, stream by stream.
        for (std::size_t i = 0; i < form.entriesPerStream.front().size(); ++i) {
            for (const auto& entries : form.entriesPerStream) {
                if (i >= entries.size()) continue;
                idx1.u32(entries[i].chunkId).u32(0x10).u32(static_cast<std::uint32_t>(entries[i].chunkOffset - base))
                    .u32(entries[i].sizeBytes);
            }
        }
        appendChunk(fourCC("idx1"), idx1.data(), nullptr, -1);
    }
    if (!m_options.zeroRiffSizes) patchU32(form.riffOffset + 4, static_cast<std::uint32_t>(position() - form.riffOffset - 8));
}

std::vector<std::byte> TestAviBuilder::finish()
{
    closeForm();
    if (m_options.index == TestIndex::OpenDml) {
        for (std::size_t s = 0; s < m_options.streams.size(); ++s) {
            Bytes head;
            const auto used = static_cast<std::uint32_t>(std::min(m_forms.size(), kSuperIndexSlots));
            head.u16(4).u8(0).u8(0).u32(used).u32(dataChunkId(s));
            patchBytes(m_superIndexOffsets[s], head.data());
        }
    }
    const std::size_t firstFormFrames = m_forms.front().entriesPerStream.front().size();
    patchU32(m_lengthOffset, static_cast<std::uint32_t>(m_options.index == TestIndex::OpenDml ? firstFormFrames
                                                                                                  : m_framesWritten));
    if (m_fd >= 0) {
        if (::ftruncate(m_fd, static_cast<off_t>(m_size)) != 0) throw std::runtime_error("ftruncate failed");
        return {};
    }
    m_memory.resize(static_cast<std::size_t>(m_size));
    return std::move(m_memory);
}

std::string writeTestFile(const std::string& name, std::span<const std::byte> bytes)
{
    const auto path = testPath(name).string();
    if (!writeBytes(path, bytes)) throw std::runtime_error("cannot write " + path);
    return path;
}

Frames palFrames(int count)
{
    Frames frames;
    for (int i = 0; i < count; ++i) frames.push_back(SyntheticDvFrame::pal().withTimecode({0, 0, i / 25, i % 25}).bytes());
    return frames;
}

std::vector<std::byte> buildAvi(const TestAviOptions& options, const Frames& frames)
{
    TestAviBuilder builder(options);
    for (const auto& frame : frames) builder.addFrame(frame);
    return builder.finish();
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

void putU32(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::byte>(value >> (8 * i));
}

std::size_t findFourCC(const std::vector<std::byte>& bytes, const char* fourCC, std::size_t from)
{
    for (std::size_t i = from; i + 4 <= bytes.size(); ++i) {
        if (std::memcmp(bytes.data() + i, fourCC, 4) == 0) return i;
    }
    return std::string::npos;
}

}  // namespace vantrel::testsupport
