// SPDX-License-Identifier: GPL-3.0-or-later
// Speed of DV audio decoding and encoding, and of writing type-1 and type-2 DV AVI files, per frame.
#include "avi/avi_writer.h"
#include "dv/dv_audio.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace {

using vantrel::dv::VideoSystem;

// A PAL frame whose only content is 1920 samples of a stereo tone at 48 kHz: enough for the writer.
std::vector<std::byte> toneFrame()
{
    std::vector<std::byte> frame(vantrel::dv::kPalFrameBytes, std::byte{0xFF});
    std::vector<std::int16_t> stereo(2 * 1920);
    for (std::size_t n = 0; n < 1920; ++n) {
        stereo[2 * n] = static_cast<std::int16_t>(10000 * std::sin(n * 0.0576));
        stereo[2 * n + 1] = static_cast<std::int16_t>(20000 * std::sin(n * 0.131));
    }
    if (!vantrel::dv::encodeAudio(frame, VideoSystem::Pal625_50, 48000, vantrel::dv::AudioQuantisation::Linear16, stereo)) {
        std::abort();
    }
    return frame;
}

void decodeAudioOfPalFrame(benchmark::State& state)
{
    const auto frame = toneFrame();
    std::vector<std::int16_t> stereo(vantrel::dv::kMaxStereoSamplesPerFrame);
    for (auto _ : state) {
        auto decoded = vantrel::dv::decodeAudio(frame, VideoSystem::Pal625_50, stereo);
        benchmark::DoNotOptimize(decoded);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(decodeAudioOfPalFrame);

void encodeAudioIntoPalFrame(benchmark::State& state)
{
    auto frame = toneFrame();
    std::vector<std::int16_t> stereo(2 * 1920, 1234);
    for (auto _ : state) {
        auto encoded = vantrel::dv::encodeAudio(frame, VideoSystem::Pal625_50, 48000,
                                                vantrel::dv::AudioQuantisation::Linear16, stereo);
        benchmark::DoNotOptimize(encoded);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(encodeAudioIntoPalFrame);

// Frames a second into a file in the temporary folder (page cache speed; the disk is not the question).
void writePalFrames(benchmark::State& state)
{
    const auto type = state.range(0) == 1 ? vantrel::avi::DvAviType::Type1Interleaved : vantrel::avi::DvAviType::Type2Separate;
    const auto frame = toneFrame();
    const auto path = std::filesystem::temp_directory_path() / ("vantrel_writer_bench_" + std::to_string(::getpid()) + ".avi");
    auto writer = vantrel::avi::AviWriter::create(path, {type, VideoSystem::Pal625_50, std::uint64_t{64} << 20});
    if (!writer) {
        state.SkipWithError(writer.error().message.c_str());
        return;
    }
    for (auto _ : state) {
        if (!writer->writeFrame(frame)) {
            state.SkipWithError("write failed");
            break;
        }
        if (writer->framesWritten() % 2000 == 0) {   // keep the file small: start a new one
            if (!writer->finish()) break;
            writer = vantrel::avi::AviWriter::create(path, {type, VideoSystem::Pal625_50, std::uint64_t{64} << 20});
            if (!writer) break;
        }
    }
    if (writer && !writer->finish()) state.SkipWithError("finishing the file failed");
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.size()));
}
BENCHMARK(writePalFrames)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
