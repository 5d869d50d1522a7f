// SPDX-License-Identifier: GPL-3.0-or-later
// Writes DV AVI files, type 1 (one 'iavs' stream) or type 2 ('vids' DV plus 'auds' PCM), as OpenDML 2.0 with a legacy idx1.
//
// Design note.
// Layout: RIFF 'AVI ' { LIST hdrl, LIST movi { frames..., ix00, ix01 }, idx1 } then RIFF 'AVIX' { LIST movi
// { frames..., ix00, ix01 } } as often as needed. The hdrl LIST has a fixed size for the file (the super
// indexes reserve kSuperIndexEntries slots), so it is rewritten in place whenever its contents change:
// after the first frame (DVINFO packs, audio rate), when a RIFF closes (its super index entries, counts)
// and at finish().
// Crash safety: a RIFF or movi LIST that is still being written says in its size field that it
// reaches the RIFF size limit, not where it ends now; frame chunks are appended with their final
// sizes. A file cut short at any moment therefore holds a valid header, complete indexes for every
// closed RIFF, and chunks that a reader scanning 'movi' up to the end of the file recovers whole
// (the last one may be cut; the reader drops it). Nothing is buffered in memory except indexes.
// Audio (type 2): the 'auds' stream runs at the rate of the first frame that has audio (48 kHz when
// the first frame has none). A frame recorded at another rate (a tape with 48 kHz and 32 kHz scenes)
// is resampled to the stream's rate by linear interpolation, its length kept, so the audio stays in
// step with the picture; a frame without readable audio contributes silence of its length.
#include "avi/avi_writer.h"

#include "dv/dv_audio.h"
#include "dv/pack_search.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <vector>

namespace vantrel::avi {
namespace {

constexpr std::size_t kSuperIndexEntries = 512;     // RIFFs a file may have: 512 GiB at the default limit
constexpr std::size_t kMaxStreams = 2;
constexpr std::uint32_t kKeyFrame = 0x10;            // AVIIF_KEYFRAME: every DV frame stands alone
constexpr std::uint32_t kHasIndex = 0x10;            // AVIF_HASINDEX
constexpr std::uint32_t kIsInterleaved = 0x100;      // AVIF_ISINTERLEAVED
constexpr std::uint8_t kIndexOfIndexes = 0x00;       // AVI_INDEX_OF_INDEXES
constexpr std::uint8_t kIndexOfChunks = 0x01;        // AVI_INDEX_OF_CHUNKS
constexpr std::size_t kStandardIndexHeaderBytes = 24;    // ix## payload before its 8-byte entries
constexpr std::size_t kMaxConvertedSamples = 4096;       // per channel: 1327 samples at 32 kHz become 1991 at 48 kHz

constexpr FourCC kVideoChunk = makeFourCC("00dc");
constexpr FourCC kAudioChunk = makeFourCC("01wb");
constexpr FourCC kDvHandler = makeFourCC("dvsd");
constexpr FourCC kOpenDmlList = makeFourCC("odml");
constexpr FourCC kOpenDmlHeader = makeFourCC("dmlh");

struct StandardIndexEntry {
    std::uint32_t offsetFromBase;   // of the chunk's data, from the start of its RIFF
    std::uint32_t sizeBytes;
};

struct SuperIndexEntry {
    std::uint64_t offset;           // of the ix## chunk header
    std::uint32_t sizeBytes;        // of the ix## chunk, header included
    std::uint32_t duration;         // stream ticks the ix## chunk covers
};

struct LegacyIndexEntry {
    FourCC id;
    std::uint32_t offsetFromMovi;   // of the chunk header, from the 'movi' type code
    std::uint32_t sizeBytes;
};

struct StreamIndex {
    FourCC chunkId = 0;
    FourCC indexChunkId = 0;
    std::vector<StandardIndexEntry> riffEntries;   // chunks of the RIFF being written
    std::uint64_t riffDuration = 0;
    std::vector<SuperIndexEntry> superEntries;
    std::uint64_t totalDuration = 0;               // frames (video) or samples (audio)
    std::uint32_t maxChunkBytes = 0;
};

struct FileFacts {
    std::uint32_t width = 720;
    std::uint32_t height = 576;
    std::uint32_t rate = 25;          // frames a second = rate / scale
    std::uint32_t scale = 1;
    std::uint32_t microsecondsPerFrame = 40000;
};

FileFacts factsOf(dv::VideoSystem system)
{
    if (system == dv::VideoSystem::Pal625_50) return {720, 576, 25, 1, 40000};
    return {720, 480, 30000, 1001, 33367};
}

std::uint32_t clampTo32(std::uint64_t value)
{
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, 0xFFFFFFFFu));
}

std::uint32_t packDword(const std::optional<dv::DVPack>& pack)
{
    if (!pack) return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(pack->pc[1]) | static_cast<std::uint32_t>(pack->pc[2]) << 8 |
           static_cast<std::uint32_t>(pack->pc[3]) << 16 | static_cast<std::uint32_t>(pack->pc[4]) << 24;
}

AviWriteError writeError(AviWriteErrorCode code, std::string message)
{
    return AviWriteError{code, std::move(message)};
}

// Builds a chunk in memory; memory writes cannot fail.
template <class Fill>
void memoryChunk(ByteBuffer& buffer, FourCC id, Fill fill)
{
    RiffWriter<ByteBuffer> riff(buffer);
    const auto open = riff.openChunk(id);
    fill();
    [[maybe_unused]] const auto closed = riff.close(*open);
    assert(closed);
}

template <class Fill>
void memoryList(ByteBuffer& buffer, FourCC type, Fill fill)
{
    RiffWriter<ByteBuffer> riff(buffer);
    const auto open = riff.openList(kList, type);
    fill();
    [[maybe_unused]] const auto closed = riff.close(*open);
    assert(closed);
}

}  // namespace

struct AviWriter::State {
    AviWriterOptions options;
    FileFacts facts;
    FileSink file;
    std::array<StreamIndex, kMaxStreams> streams;
    std::size_t streamCount = 1;
    std::vector<LegacyIndexEntry> legacyEntries;   // the first RIFF's chunks, for idx1

    // The RIFF being written.
    std::uint64_t riffStart = 0;
    OpenChunk riff;
    OpenChunk movie;
    std::uint64_t movieTypeOffset = 0;
    bool isFirstRiff = true;
    std::uint64_t framesInRiff = 0;
    std::uint64_t framesInFirstRiff = 0;
    std::uint64_t frames = 0;

    // Header facts taken from the first frame.
    bool hasFirstFrame = false;
    std::array<std::uint32_t, 6> dvInfo{};   // AAUX source, control, second source, control; VAUX source, control
    std::uint32_t audioRateHz = 0;

    // Buffers allocated once.
    ByteBuffer header;
    std::size_t headerBytes = 0;
    ByteBuffer indexChunk;
    std::vector<std::int16_t> decodedAudio = std::vector<std::int16_t>(dv::kMaxStereoSamplesPerFrame);
    std::vector<std::int16_t> convertedAudio = std::vector<std::int16_t>(2 * kMaxConvertedSamples);
    std::vector<std::byte> audioBytes = std::vector<std::byte>(4 * kMaxConvertedSamples);
    double resampleCarry = 0.0;   // fraction of an output sample owed to the next resampled frame

    bool isFinished = false;
    std::optional<AviWriteError> failure;

    bool isType2() const noexcept { return options.type == DvAviType::Type2Separate; }
    std::uint32_t frameBytes() const noexcept { return static_cast<std::uint32_t>(dv::frameBytes(options.system)); }
};

namespace {

using State = AviWriter::State;

void buildMainHeader(const State& s, ByteBuffer& b)
{
    memoryChunk(b, kMainHeader, [&] {
        const std::uint64_t bytesPerSecond = std::uint64_t{s.frameBytes()} * s.facts.rate / s.facts.scale +
                                             (s.isType2() ? std::uint64_t{4} * 48000 : 0);
        b.u32(s.facts.microsecondsPerFrame);
        b.u32(clampTo32(bytesPerSecond));
        b.u32(0);                                                   // padding granularity
        b.u32(kHasIndex | kIsInterleaved);
        b.u32(clampTo32(s.isFirstRiff ? s.frames : s.framesInFirstRiff));   // frames of the first RIFF
        b.u32(0);                                                   // initial frames
        b.u32(static_cast<std::uint32_t>(s.streamCount));
        b.u32(s.frameBytes() + 8);                                  // suggested buffer size
        b.u32(s.facts.width);
        b.u32(s.facts.height);
        b.zeros(16);
    });
}

void buildStreamHeader(const State& s, ByteBuffer& b, FourCC type, FourCC handler, std::uint32_t scale,
                       std::uint32_t rate, std::uint64_t length, std::uint32_t bufferBytes, std::uint32_t sampleBytes)
{
    memoryChunk(b, kStreamHeader, [&] {
        b.u32(type);
        b.u32(handler);
        b.u32(0);                 // flags
        b.u16(0);                 // priority
        b.u16(0);                 // language
        b.u32(0);                 // initial frames
        b.u32(scale);
        b.u32(rate);
        b.u32(0);                 // start
        b.u32(clampTo32(length)); // every RIFF counted
        b.u32(bufferBytes);
        b.u32(0xFFFFFFFFu);       // quality: default
        b.u32(sampleBytes);
        const bool isVideo = type != kAudioStream;
        b.u16(0);
        b.u16(0);
        b.u16(static_cast<std::uint16_t>(isVideo ? s.facts.width : 0));
        b.u16(static_cast<std::uint16_t>(isVideo ? s.facts.height : 0));
    });
}

void buildSuperIndex(const StreamIndex& stream, ByteBuffer& b)
{
    memoryChunk(b, kSuperIndex, [&] {
        b.u16(4);                 // longs per entry
        b.u8(0);                  // sub-type
        b.u8(kIndexOfIndexes);
        b.u32(static_cast<std::uint32_t>(stream.superEntries.size()));
        b.u32(stream.chunkId);
        b.zeros(12);
        for (const auto& entry : stream.superEntries) {
            b.u64(entry.offset);
            b.u32(entry.sizeBytes);
            b.u32(entry.duration);
        }
        b.zeros(16 * (kSuperIndexEntries - stream.superEntries.size()));
    });
}

void buildVideoStreamList(const State& s, ByteBuffer& b)
{
    const auto& video = s.streams[0];
    memoryList(b, kStreamList, [&] {
        const FourCC type = s.isType2() ? kVideoStream : kInterleavedStream;
        buildStreamHeader(s, b, type, kDvHandler, s.facts.scale, s.facts.rate, video.totalDuration,
                          std::max(video.maxChunkBytes, s.frameBytes()), 0);
        memoryChunk(b, kStreamFormat, [&] {
            if (s.isType2()) {   // BITMAPINFOHEADER
                b.u32(40);
                b.u32(s.facts.width);
                b.u32(s.facts.height);
                b.u16(1);         // planes
                b.u16(24);        // bits per pixel once decoded
                b.u32(kDvHandler);
                b.u32(s.frameBytes());
                b.zeros(16);      // pixels per metre, colours used and important
            } else {             // DVINFO
                for (auto value : s.dvInfo) b.u32(value);
                b.zeros(8);
            }
        });
        buildSuperIndex(video, b);
    });
}

void buildAudioStreamList(const State& s, ByteBuffer& b)
{
    const auto& audio = s.streams[1];
    const std::uint32_t rate = s.audioRateHz != 0 ? s.audioRateHz : 48000;
    memoryList(b, kStreamList, [&] {
        buildStreamHeader(s, b, kAudioStream, 0, 1, rate, audio.totalDuration,
                          std::max<std::uint32_t>(audio.maxChunkBytes, 4 * 2048), 4);
        memoryChunk(b, kStreamFormat, [&] {   // WAVEFORMATEX: PCM, 2 channels, 16 bits
            b.u16(1);
            b.u16(2);
            b.u32(rate);
            b.u32(rate * 4);
            b.u16(4);
            b.u16(16);
            b.u16(0);
        });
        buildSuperIndex(audio, b);
    });
}

void buildHeaderList(State& s)
{
    auto& b = s.header;
    b.clear();
    memoryList(b, kHeaderList, [&] {
        buildMainHeader(s, b);
        buildVideoStreamList(s, b);
        if (s.isType2()) buildAudioStreamList(s, b);
        memoryList(b, kOpenDmlList, [&] {
            memoryChunk(b, kOpenDmlHeader, [&] {
                b.u32(clampTo32(s.frames));
                b.zeros(244);
            });
        });
    });
}

WriteResult rewriteHeader(State& s)
{
    buildHeaderList(s);
    assert(s.header.position() == s.headerBytes);
    return s.file.patch(12, s.header.bytes());
}

// The size a RIFF or movi LIST claims while it is open: up to where the RIFF may grow.
std::uint32_t provisionalSize(const State& s, std::uint64_t sizeFieldOffset)
{
    const std::uint64_t riffEnd = s.riffStart + s.options.maxRiffBytes;
    return clampTo32(riffEnd > sizeFieldOffset + 4 ? riffEnd - (sizeFieldOffset + 4) : 4);
}

WriteResult openMovieList(State& s)
{
    RiffWriter<FileSink> riff(s.file);
    const std::uint64_t sizeOffset = s.file.position() + 4;
    auto movie = riff.openList(kList, kMovieList, provisionalSize(s, sizeOffset));
    if (!movie) return unexpected(movie.error());
    s.movie = *movie;
    s.movieTypeOffset = sizeOffset + 4;
    return {};
}

WriteResult openRiff(State& s, FourCC type)
{
    s.riffStart = s.file.position();
    RiffWriter<FileSink> riff(s.file);
    auto opened = riff.openList(kRiff, type, provisionalSize(s, s.riffStart + 4));
    if (!opened) return unexpected(opened.error());
    s.riff = *opened;
    s.framesInRiff = 0;
    return {};
}

WriteResult writeStandardIndex(State& s, StreamIndex& stream)
{
    if (stream.riffEntries.empty()) return {};
    auto& b = s.indexChunk;
    b.clear();
    b.u16(2);                      // longs per entry
    b.u8(0);                       // sub-type
    b.u8(kIndexOfChunks);
    b.u32(static_cast<std::uint32_t>(stream.riffEntries.size()));
    b.u32(stream.chunkId);
    b.u64(s.riffStart);            // base of the entries' offsets
    b.u32(0);
    for (const auto& entry : stream.riffEntries) {
        b.u32(entry.offsetFromBase);
        b.u32(entry.sizeBytes);    // bit 31 clear: a key frame
    }
    const std::uint64_t offset = s.file.position();
    if (auto written = RiffWriter<FileSink>(s.file).chunk(stream.indexChunkId, b.bytes()); !written) return written;
    stream.superEntries.push_back({offset, static_cast<std::uint32_t>(8 + b.position()), clampTo32(stream.riffDuration)});
    stream.riffEntries.clear();
    stream.riffDuration = 0;
    return {};
}

WriteResult writeLegacyIndex(State& s)
{
    auto& b = s.indexChunk;
    b.clear();
    for (const auto& entry : s.legacyEntries) {
        b.u32(entry.id);
        b.u32(kKeyFrame);
        b.u32(entry.offsetFromMovi);
        b.u32(entry.sizeBytes);
    }
    return RiffWriter<FileSink>(s.file).chunk(kLegacyIndex, b.bytes());
}

WriteResult closeRiff(State& s)
{
    RiffWriter<FileSink> riff(s.file);
    for (std::size_t i = 0; i < s.streamCount; ++i) {
        if (auto written = writeStandardIndex(s, s.streams[i]); !written) return written;
    }
    if (auto closed = riff.close(s.movie); !closed) return closed;
    if (s.isFirstRiff) {
        if (auto written = writeLegacyIndex(s); !written) return written;
        s.framesInFirstRiff = s.frames;
    }
    if (auto closed = riff.close(s.riff); !closed) return closed;
    s.isFirstRiff = false;
    return rewriteHeader(s);
}

// Bytes the current RIFF would hold if the next frame went in and the RIFF were then closed.
std::uint64_t riffBytesWith(const State& s, std::size_t audioBytes)
{
    std::uint64_t bytes = s.file.position() - s.riffStart + 8 + s.frameBytes();
    if (s.isType2()) bytes += 8 + audioBytes;
    for (std::size_t i = 0; i < s.streamCount; ++i) {
        bytes += 8 + kStandardIndexHeaderBytes + 8 * (s.streams[i].riffEntries.size() + 1);
    }
    if (s.isFirstRiff) bytes += 8 + 16 * (s.legacyEntries.size() + s.streamCount);
    return bytes;
}

WriteResult startNextRiffIfFull(State& s, std::size_t audioBytes)
{
    if (s.framesInRiff == 0 || riffBytesWith(s, audioBytes) <= s.options.maxRiffBytes) return {};
    if (s.streams[0].superEntries.size() + 2 > kSuperIndexEntries) {
        return unexpected(writeError(AviWriteErrorCode::TooLong,
                                     s.file.path() + " has reached the longest length its index can describe"));
    }
    if (auto closed = closeRiff(s); !closed) return closed;
    if (auto opened = openRiff(s, kAviExtension); !opened) return opened;
    return openMovieList(s);
}

WriteResult writeDataChunk(State& s, std::size_t streamNumber, std::span<const std::byte> payload,
                           std::uint64_t duration)
{
    auto& stream = s.streams[streamNumber];
    const std::uint64_t offset = s.file.position();
    if (auto written = RiffWriter<FileSink>(s.file).chunk(stream.chunkId, payload); !written) return written;
    const auto size = static_cast<std::uint32_t>(payload.size());
    stream.riffEntries.push_back({static_cast<std::uint32_t>(offset + 8 - s.riffStart), size});
    stream.riffDuration += duration;
    stream.totalDuration += duration;
    stream.maxChunkBytes = std::max(stream.maxChunkBytes, size);
    if (s.isFirstRiff) {
        s.legacyEntries.push_back({stream.chunkId, static_cast<std::uint32_t>(offset - s.movieTypeOffset), size});
    }
    return {};
}

void takeFirstFrameFacts(State& s, std::span<const std::byte> frame)
{
    const auto system = s.options.system;
    s.dvInfo = {packDword(dv::FindAudioPack(frame, system, dv::kAudioSourcePack, 0)),
                packDword(dv::FindAudioPack(frame, system, dv::kAudioSourceControlPack, 0)),
                packDword(dv::FindAudioPack(frame, system, dv::kAudioSourcePack, 1)),
                packDword(dv::FindAudioPack(frame, system, dv::kAudioSourceControlPack, 1)),
                packDword(dv::FindVauxPack(frame, system, 0x60)),
                packDword(dv::FindVauxPack(frame, system, 0x61))};
    s.hasFirstFrame = true;
}

// Linear interpolation of one frame's samples from `fromRateHz` to `toRateHz`; the fraction of a
// sample left over is carried to the next resampled frame so that no time is lost or gained.
std::size_t resampleFrame(std::span<const std::int16_t> in, std::size_t inCount, std::uint32_t fromRateHz,
                          std::uint32_t toRateHz, double& carry, std::span<std::int16_t> out)
{
    const double exact = static_cast<double>(inCount) * toRateHz / fromRateHz + carry;
    const auto outCount = std::min(static_cast<std::size_t>(exact), out.size() / 2);
    carry = exact - static_cast<double>(outCount);
    const double step = static_cast<double>(fromRateHz) / toRateHz;
    for (std::size_t k = 0; k < outCount; ++k) {
        const double position = static_cast<double>(k) * step;
        const auto first = std::min(static_cast<std::size_t>(position), inCount - 1);
        const auto second = std::min(first + 1, inCount - 1);
        const double weight = position - static_cast<double>(first);
        for (std::size_t c = 0; c < 2; ++c) {
            const double value = in[2 * first + c] * (1.0 - weight) + in[2 * second + c] * weight;
            out[2 * k + c] = static_cast<std::int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
        }
    }
    return outCount;
}

// Decodes the frame's audio into the stream's rate as little-endian PCM; returns its byte count.
std::size_t prepareAudio(State& s, std::span<const std::byte> frame)
{
    const auto decoded = dv::decodeAudio(frame, s.options.system, s.decodedAudio);
    if (s.audioRateHz == 0) s.audioRateHz = decoded ? decoded->format.sampleRateHz : 48000;
    std::span<const std::int16_t> samples;
    std::size_t count = 0;
    if (!decoded) {
        count = dv::nominalAudioSamples(s.options.system, s.audioRateHz, s.frames);
        std::fill_n(s.convertedAudio.begin(), 2 * count, std::int16_t{0});
        samples = s.convertedAudio;
    } else if (decoded->format.sampleRateHz == s.audioRateHz) {
        count = decoded->format.samplesPerChannel;
        samples = s.decodedAudio;
    } else {
        count = resampleFrame(s.decodedAudio, decoded->format.samplesPerChannel, decoded->format.sampleRateHz,
                              s.audioRateHz, s.resampleCarry, s.convertedAudio);
        samples = s.convertedAudio;
    }
    for (std::size_t i = 0; i < 2 * count; ++i) {
        const auto value = static_cast<std::uint16_t>(samples[i]);
        s.audioBytes[2 * i] = static_cast<std::byte>(value & 0xFF);
        s.audioBytes[2 * i + 1] = static_cast<std::byte>(value >> 8);
    }
    return 4 * count;
}

WriteResult writeFrameChunks(State& s, std::span<const std::byte> frame)
{
    std::size_t audioBytes = 0;
    if (s.isType2()) audioBytes = prepareAudio(s, frame);
    if (auto started = startNextRiffIfFull(s, audioBytes); !started) return started;
    if (auto written = writeDataChunk(s, 0, frame, 1); !written) return written;
    if (s.isType2()) {
        const std::span<const std::byte> pcm(s.audioBytes.data(), audioBytes);
        if (auto written = writeDataChunk(s, 1, pcm, audioBytes / 4); !written) return written;
    }
    ++s.frames;
    ++s.framesInRiff;
    return {};
}

// After a failed write the file is in an unknown state: nothing more goes in. A file that is
// full (TooLong) is intact and can still be finished.
WriteResult stopOnFailure(State& s, WriteResult result)
{
    if (!result && result.error().code != AviWriteErrorCode::TooLong) s.failure = result.error();
    return result;
}

}  // namespace

Expected<AviWriter, AviWriteError> AviWriter::create(const std::filesystem::path& path, const AviWriterOptions& options)
{
    if (options.type == DvAviType::Unknown || options.system == dv::VideoSystem::Unknown) {
        return unexpected(writeError(AviWriteErrorCode::InvalidOptions, "the DV AVI type and the video system must be given"));
    }
    if (options.maxRiffBytes > 0xFFFFFFF0u) {
        return unexpected(writeError(AviWriteErrorCode::InvalidOptions, "a RIFF cannot be larger than 4 GiB"));
    }
    auto state = std::make_unique<State>();
    State& s = *state;
    s.options = options;
    s.facts = factsOf(options.system);
    s.streamCount = s.isType2() ? 2 : 1;
    s.streams[0].chunkId = kVideoChunk;
    s.streams[0].indexChunkId = makeFourCC("ix00");
    s.streams[1].chunkId = kAudioChunk;
    s.streams[1].indexChunkId = makeFourCC("ix01");

    // Every per-frame container is sized once: a RIFF holds at most this many frames.
    const std::size_t framesPerRiff = static_cast<std::size_t>(options.maxRiffBytes / (dv::kNtscFrameBytes + 8)) + 2;
    for (std::size_t i = 0; i < s.streamCount; ++i) {
        s.streams[i].riffEntries.reserve(framesPerRiff);
        s.streams[i].superEntries.reserve(kSuperIndexEntries);
    }
    s.legacyEntries.reserve(framesPerRiff * s.streamCount);
    s.indexChunk.reserve(16 * framesPerRiff * s.streamCount + kStandardIndexHeaderBytes);

    auto file = FileSink::create(path.string());
    if (!file) return unexpected(file.error());
    s.file = std::move(*file);

    buildHeaderList(s);
    s.headerBytes = s.header.position();
    s.header.reserve(s.headerBytes);
    if (auto opened = openRiff(s, kAvi); !opened) return unexpected(opened.error());
    if (auto written = s.file.append({s.header.bytes()}); !written) return unexpected(written.error());
    if (auto opened = openMovieList(s); !opened) return unexpected(opened.error());
    return AviWriter(std::move(state));
}

AviWriter::AviWriter(std::unique_ptr<State> state) noexcept : m_state(std::move(state)) {}
AviWriter::AviWriter(AviWriter&&) noexcept = default;
AviWriter& AviWriter::operator=(AviWriter&&) noexcept = default;
AviWriter::~AviWriter() = default;

WriteResult AviWriter::writeFrame(std::span<const std::byte> difFrame)
{
    State& s = *m_state;
    if (s.failure) return unexpected(writeError(AviWriteErrorCode::NotWritable, "not written after an earlier error: " + s.failure->message));
    if (s.isFinished) return unexpected(writeError(AviWriteErrorCode::NotWritable, s.file.path() + " is already finished"));
    if (difFrame.size() != s.frameBytes()) {
        return unexpected(writeError(AviWriteErrorCode::InvalidFrame,
                                     "a frame of " + std::to_string(difFrame.size()) + " bytes is not a whole " +
                                         std::to_string(s.frameBytes()) + "-byte DV frame of " + s.file.path()));
    }
    if (!s.hasFirstFrame) {
        takeFirstFrameFacts(s, difFrame);
        if (s.isType2()) {
            const auto format = dv::readAudioFormat(difFrame, s.options.system);
            s.audioRateHz = format ? format->sampleRateHz : 48000;
        }
        if (auto rewritten = rewriteHeader(s); !rewritten) return stopOnFailure(s, rewritten);
    }
    return stopOnFailure(s, writeFrameChunks(s, difFrame));
}

WriteResult AviWriter::finish()
{
    State& s = *m_state;
    if (s.failure) return unexpected(writeError(AviWriteErrorCode::NotWritable, "not finished after an earlier error: " + s.failure->message));
    if (s.isFinished) return unexpected(writeError(AviWriteErrorCode::NotWritable, s.file.path() + " is already finished"));
    if (auto closed = closeRiff(s); !closed) return stopOnFailure(s, closed);
    if (auto closed = s.file.close(); !closed) return stopOnFailure(s, closed);
    s.isFinished = true;
    return {};
}

std::uint64_t AviWriter::framesWritten() const noexcept { return m_state->frames; }
std::uint64_t AviWriter::audioSamplesWritten() const noexcept { return m_state->streams[1].totalDuration; }
std::uint32_t AviWriter::audioSampleRateHz() const noexcept { return m_state->audioRateHz; }

}  // namespace vantrel::avi
