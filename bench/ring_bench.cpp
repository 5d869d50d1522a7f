// SPDX-License-Identifier: GPL-3.0-or-later
// Frame ring throughput with PAL DV frames between two threads, beside a plain memcpy of the same bytes.
//
// The ring copies each frame once (Put) and lends it out (Get), so a memcpy of the frame into the
// same amount of memory is its limit. The consumer here only touches the lent frame's first and
// last bytes; the capture worker's own work comes on top. Capacity 1000 is what the jobs use
// (144 MB, far beyond the caches); capacity 8 shows the cost of the ring itself on warm memory.
#include "pipeline/frame_ring.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using vantrel::pipeline::CFrameRing;
using vantrel::pipeline::REFERENCE_TIME;

constexpr std::int32_t kPalFrameBytes = 144000;

std::vector<std::byte> sampleFrame()
{
    std::vector<std::byte> frame(kPalFrameBytes);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::byte>(i * 31);
    return frame;
}

void setCounters(benchmark::State& state)
{
    const auto frames = static_cast<double>(state.iterations());
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(state.iterations() * kPalFrameBytes);
}

void ringBetweenTwoThreads(benchmark::State& state)
{
    const auto capacity = static_cast<std::int32_t>(state.range(0));
    const auto frame = sampleFrame();
    CFrameRing ring(capacity, kPalFrameBytes);
    for (std::int32_t i = 0; i < ring.slotCount(); ++i) {  // touch every slot once before timing
        REFERENCE_TIME duration = 0;
        const std::byte* data = nullptr;
        long length = 0;
        ring.Put(400000, frame.data(), kPalFrameBytes);
        ring.Get(&duration, &data, &length);
    }
    std::uint64_t checksum = 0;
    std::jthread consumer([&] {
        REFERENCE_TIME duration = 0;
        const std::byte* data = nullptr;
        long length = 0;
        while (ring.Get(&duration, &data, &length)) {
            checksum += static_cast<std::uint64_t>(data[0]) + static_cast<std::uint64_t>(data[length - 1]);
        }
    });
    for (auto _ : state) {
        ring.Put(400000, frame.data(), kPalFrameBytes);
    }
    ring.Stop();
    consumer.join();  // the frames still stored are drained after the clock stopped
    benchmark::DoNotOptimize(checksum);
    setCounters(state);
}

void memcpyIntoSlots(benchmark::State& state)
{
    const auto slots = static_cast<std::size_t>(state.range(0)) + 1;
    const auto frame = sampleFrame();
    std::vector<std::byte> storage(slots * (kPalFrameBytes + 16), std::byte{1});
    std::size_t slot = 0;
    for (auto _ : state) {
        std::memcpy(storage.data() + slot * (kPalFrameBytes + 16) + 12, frame.data(), kPalFrameBytes);
        benchmark::ClobberMemory();
        slot = (slot + 1) % slots;
    }
    setCounters(state);
}

BENCHMARK(ringBetweenTwoThreads)->Arg(8)->Arg(1000)->UseRealTime()->MinTime(1.0);
BENCHMARK(memcpyIntoSlots)->Arg(8)->Arg(1000)->UseRealTime()->MinTime(1.0);

// Keeps each run's frames/s so that the summary can set the ring beside its limit.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const auto found = run.counters.find("frames/s");
            if (run.run_type == Run::RT_Iteration && found != run.counters.end()) {
                m_framesPerSecond[nameAndArgument(run.benchmark_name())] = found->second.value;
            }
        }
    }
    // "ringBetweenTwoThreads/8/min_time:1.000/real_time" -> "ringBetweenTwoThreads/8"
    static std::string nameAndArgument(const std::string& name)
    {
        const auto first = name.find('/');
        return name.substr(0, first == std::string::npos ? first : name.find('/', first + 1));
    }

    void printSummary() const
    {
        std::printf("\n%-10s %14s %10s %14s %10s %8s\n", "capacity", "ring frames/s", "ring GB/s", "memcpy frames/s",
                    "memcpy GB/s", "ratio");
        for (const char* capacity : {"8", "1000"}) {
            const auto ring = m_framesPerSecond.find(std::string("ringBetweenTwoThreads/") + capacity);
            const auto copy = m_framesPerSecond.find(std::string("memcpyIntoSlots/") + capacity);
            if (ring == m_framesPerSecond.end() || copy == m_framesPerSecond.end()) continue;
            std::printf("%-10s %14.0f %10.2f %14.0f %10.2f %7.1f%%\n", capacity, ring->second,
                        ring->second * kPalFrameBytes / 1e9, copy->second, copy->second * kPalFrameBytes / 1e9,
                        100.0 * ring->second / copy->second);
        }
        std::printf("(PAL DV plays 25 frames/s: 0.0036 GB/s)\n");
    }

private:
    std::map<std::string, double> m_framesPerSecond;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSummary();
    benchmark::Shutdown();
    return 0;
}
