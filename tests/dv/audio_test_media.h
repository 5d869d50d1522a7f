// SPDX-License-Identifier: GPL-3.0-or-later
// Test media made by peer tools (ffmpeg, GStreamer) and small file and tool helpers for the DV and AVI tests.
#pragma once

#include "dv/dif_layout.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace vantrel::testmedia {

inline std::filesystem::path testDataDir()
{
    std::filesystem::path dir = std::filesystem::path(VANTREL_TEST_DATA_DIR) / "writer-audio";
    std::filesystem::create_directories(dir);
    return dir;
}

// Whether a peer program is on the PATH.
inline bool hasTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; true when it exits with status 0.
inline bool run(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

// Runs a shell command and returns its standard output (empty when it could not run).
inline std::string captureOutput(const std::string& command)
{
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, count);
    ::pclose(pipe);
    return text;
}

inline std::string shellQuoted(const std::filesystem::path& path)
{
    std::string text = "'";
    for (char c : path.string()) {
        if (c == '\'') text += "'\\''";
        else text += c;
    }
    return text + "'";
}

inline std::vector<std::byte> readFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) bytes[i] = static_cast<std::byte>(chars[i]);
    return bytes;
}

inline void writeFileBytes(const std::filesystem::path& path, const std::vector<std::byte>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Little-endian 16-bit samples of a raw PCM file.
inline std::vector<std::int16_t> readPcm(const std::filesystem::path& path)
{
    const auto bytes = readFileBytes(path);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto low = static_cast<std::uint8_t>(bytes[2 * i]);
        const auto high = static_cast<std::uint8_t>(bytes[2 * i + 1]);
        samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | high << 8));
    }
    return samples;
}

// A raw DV file of `seconds` of ffmpeg's test picture with a 1 kHz tone at 48 kHz, made once per
// build tree. Empty path when ffmpeg is missing or fails.
inline std::filesystem::path ffmpegDvFile(dv::VideoSystem system, int seconds = 2)
{
    const bool isPal = system == dv::VideoSystem::Pal625_50;
    const auto path = testDataDir() / ((isPal ? "ffmpeg_pal_" : "ffmpeg_ntsc_") + std::to_string(seconds) + "s.dv");
    if (std::filesystem::exists(path)) return path;
    if (!hasTool("ffmpeg")) return {};
    const std::string picture = isPal ? "testsrc=size=720x576:rate=25" : "testsrc=size=720x480:rate=30000/1001";
    // Test programs may run at once: each makes its own partial file and renames it into place.
    const auto partial = path.string() + "." + std::to_string(::getpid()) + ".part";
    const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i " + picture +
                                " -f lavfi -i sine=frequency=1000:sample_rate=48000 -t " + std::to_string(seconds) +
                                " -target " + (isPal ? "pal-dv" : "ntsc-dv") + " -f dv " + shellQuoted(partial);
    if (!run(command)) return {};
    std::filesystem::rename(partial, path);
    return path;
}

// Interleaved stereo test signal: a sine on the left, a different one on the right, continuing
// across frames from sample `first`.
inline void fillTone(std::vector<std::int16_t>& stereo, std::size_t samplesPerChannel, std::uint64_t first,
                     std::uint32_t sampleRateHz)
{
    stereo.resize(2 * samplesPerChannel);
    constexpr double kTwoPi = 6.283185307179586;
    for (std::size_t n = 0; n < samplesPerChannel; ++n) {
        const double t = static_cast<double>(first + n) / sampleRateHz;
        stereo[2 * n] = static_cast<std::int16_t>(std::lround(12000.0 * std::sin(kTwoPi * 440.0 * t)));
        stereo[2 * n + 1] = static_cast<std::int16_t>(std::lround(30000.0 * std::sin(kTwoPi * 1250.0 * t)));
    }
}

}  // namespace vantrel::testmedia
