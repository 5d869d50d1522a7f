// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a generated tape frame by frame through one reused frame buffer.
#include "tools/dvgen/tape_writer.h"

#include "avi/avi_writer.h"
#include "tools/dvgen/tape_generator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace vantrel::dvgen {
namespace {

struct FileClose {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

Expected<void, std::string> writeRawDv(TapeGenerator& generator, const std::string& path)
{
    std::unique_ptr<std::FILE, FileClose> file{std::fopen(path.c_str(), "wb")};
    if (!file) return unexpected(systemError("cannot create", path));
    std::vector<std::byte> frame(generator.frameBytes());
    for (std::int64_t i = 0; i < generator.options().frameCount; ++i) {
        if (auto made = generator.renderFrame(i, frame); !made) return made;
        if (std::fwrite(frame.data(), 1, frame.size(), file.get()) != frame.size()) {
            return unexpected(systemError("cannot write", path));
        }
    }
    if (std::fclose(file.release()) != 0) return unexpected(systemError("cannot close", path));
    return {};
}

Expected<void, std::string> writeAvi(TapeGenerator& generator, const std::string& path)
{
    avi::AviWriterOptions options;
    options.type = generator.options().format == FileFormat::AviType1 ? avi::DvAviType::Type1Interleaved
                                                                       : avi::DvAviType::Type2Separate;
    options.system = generator.options().system;
    auto writer = avi::AviWriter::create(path, options);
    if (!writer) return unexpected(writer.error().message);
    std::vector<std::byte> frame(generator.frameBytes());
    for (std::int64_t i = 0; i < generator.options().frameCount; ++i) {
        if (auto made = generator.renderFrame(i, frame); !made) return made;
        if (auto written = writer->writeFrame(frame); !written) return unexpected(written.error().message);
    }
    if (auto finished = writer->finish(); !finished) return unexpected(finished.error().message);
    return {};
}

}  // namespace

Expected<void, std::string> writeTape(TapeGenerator& generator, const std::string& path)
{
    switch (generator.options().format) {
    case FileFormat::RawDv: return writeRawDv(generator, path);
    case FileFormat::AviType1:
    case FileFormat::AviType2: return writeAvi(generator, path);
    default: return unexpected(std::string("unknown file format"));
    }
}

}  // namespace vantrel::dvgen
