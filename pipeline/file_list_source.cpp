// SPDX-License-Identifier: GPL-3.0-or-later
// The files of a print list, read one after another into one stream of frames without a gap.
#include "pipeline/file_list_source.h"

#include "mediagraph/graph_errors.h"
#include "pipeline/input_filter_graph.h"

#include <algorithm>
#include <filesystem>
#include <glob.h>
#include <strings.h>
#include <sys/stat.h>

namespace vantrel::pipeline {
namespace {

constexpr const char* kBlanks = " \t\r\n\v\f";

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string fullPath(const std::string& path)
{
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
    return absolute.empty() ? path : absolute.lexically_normal().string();
}

// The files an item names: itself when it is a file (a name may hold "[" or "*"), else the
// matches of it as a wildcard pattern, sorted without regard to case.
std::vector<std::string> matchItem(const std::string& item)
{
    if (isRegularFile(item))
        return {fullPath(item)};
    std::vector<std::string> matches;
    glob_t found{};
    if (glob(item.c_str(), 0, nullptr, &found) == 0) {
        for (std::size_t i = 0; i < found.gl_pathc; ++i) {
            if (isRegularFile(found.gl_pathv[i]))
                matches.push_back(fullPath(found.gl_pathv[i]));
        }
    }
    globfree(&found);
    std::sort(matches.begin(), matches.end(), [](const std::string& a, const std::string& b) {
        const int folded = strcasecmp(a.c_str(), b.c_str());
        return folded != 0 ? folded < 0 : a < b;
    });
    return matches;
}

REFERENCE_TIME frameDurationOf(const avi::DvStreamInfo& info)
{
    if (info.dwRate == 0)
        return 0;
    const std::uint64_t scaled = std::uint64_t{info.dwScale} * kReferenceTimePerSecond;
    return static_cast<REFERENCE_TIME>((scaled + info.dwRate / 2) / info.dwRate);
}

}  // namespace

std::vector<std::string> ExpandFileList(const std::string& fileList)
{
    std::vector<std::string> files;
    std::string rest = fileList;
    while (!rest.empty()) {
        const std::size_t bar = rest.find('|');
        const std::string item = trimmed(rest.substr(0, bar));
        rest = bar == std::string::npos ? std::string{} : rest.substr(bar + 1);
        if (item.empty())
            continue;
        const std::vector<std::string> matches = matchItem(item);
        if (matches.empty())
            mediagraph::ThrowGraphError(mediagraph::fileNotFoundMessage(item));
        files.insert(files.end(), matches.begin(), matches.end());
    }
    if (files.empty())
        mediagraph::ThrowGraphError(mediagraph::graph_messages::kNoFileSelected);
    return files;
}

CFileSourceGraph::CFileSourceGraph(const std::string& path) : m_path(path)
{
    auto opened = avi::OpenDVAvi(path);
    if (!opened)
        mediagraph::ThrowGraphError(opened.error().find(path) != std::string::npos ? opened.error()
                                                                                  : path + ": " + opened.error());
    m_file.emplace(std::move(*opened));
    m_frameDuration = frameDurationOf(m_file->streamInfo());
    m_frame.resize(kMinimumFrameBufferBytes);
}

CFileSourceGraph::~CFileSourceGraph()
{
    Stop();
}

void CFileSourceGraph::GetMediaType(CMediaType* type)
{
    *type = CMediaType{kInterleavedDvCaps, kMinimumFrameBufferBytes};
}

mediagraph::StateChangeResult CFileSourceGraph::Start(IFrameSink* sink)
{
    Stop();
    m_thread = std::jthread([this, sink](std::stop_token stop) { readFrames(std::move(stop), sink); });
    return mediagraph::StateChangeResult::Success;
}

void CFileSourceGraph::Stop()
{
    m_thread.request_stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::optional<std::string> CFileSourceGraph::ReadError() const
{
    std::lock_guard lock(m_errorMutex);
    return m_readError;
}

void CFileSourceGraph::readFrames(std::stop_token stop, IFrameSink* sink)
{
    const std::size_t frames = m_file->frameCount();
    for (std::size_t i = 0; i < frames && !stop.stop_requested(); ++i) {
        const auto read = m_file->readFrame(i, m_frame);
        if (!read) {
            std::lock_guard lock(m_errorMutex);
            m_readError = m_path + ": frame " + std::to_string(i) + " cannot be read: " + read.error().message;
            break;
        }
        sink->Deliver(m_frameDuration, m_frame.data(), static_cast<long>(*read));
    }
    if (!stop.stop_requested())
        sink->Deliver(-1, nullptr, 0);
}

CFileListSource::CFileListSource(const std::string& fileList) : m_files(ExpandFileList(fileList))
{
    m_currentGraph = std::make_unique<CFileSourceGraph>(m_files[0]);
    m_nextIndex = 1;
}

CFileListSource::~CFileListSource()
{
    Stop();
}

void CFileListSource::GetMediaType(CMediaType* type)
{
    m_currentGraph->GetMediaType(type);
}

mediagraph::StateChangeResult CFileListSource::Start(IFrameSink* sink)
{
    m_outerSink.store(sink, std::memory_order_release);
    m_reader = std::jthread([this](std::stop_token stop) { runReader(std::move(stop)); });
    return m_currentGraph->Start(this);
}

void CFileListSource::Stop()
{
    m_isStopping.store(true, std::memory_order_release);
    m_reader.request_stop();
    if (m_reader.joinable())
        m_reader.join();
    m_currentGraph.reset();  // joins its reading thread
    m_isStopping.store(false, std::memory_order_release);
    m_outerSink.store(nullptr, std::memory_order_release);
}

void CFileListSource::Deliver(REFERENCE_TIME duration, const std::byte* data, long length)
{
    if (m_isStopping.load(std::memory_order_acquire))
        return;
    if (data != nullptr) {
        if (IFrameSink* outer = m_outerSink.load(std::memory_order_acquire))
            outer->Deliver(duration, data, length);
        return;
    }
    {
        std::lock_guard lock(m_nextFileMutex);
        m_hasFileEnded = true;
    }
    m_nextFile.notify_one();
}

std::optional<std::string> CFileListSource::FirstError() const
{
    std::lock_guard lock(m_errorMutex);
    return m_firstError;
}

void CFileListSource::recordError(const std::string& message)
{
    std::lock_guard lock(m_errorMutex);
    if (!m_firstError)
        m_firstError = message;
}

void CFileListSource::runReader(std::stop_token stop)
{
    IFrameSink* outer = m_outerSink.load(std::memory_order_acquire);
    while (true) {
        {
            std::unique_lock lock(m_nextFileMutex);
            if (!m_nextFile.wait(lock, stop, [this] { return m_hasFileEnded; }))
                return;
            m_hasFileEnded = false;
        }
        if (auto failed = m_currentGraph->ReadError()) {
            recordError(*failed);
            break;
        }
        if (m_nextIndex >= m_files.size())
            break;
        m_currentGraph.reset();
        try {
            m_currentGraph = std::make_unique<CFileSourceGraph>(m_files[m_nextIndex]);
        } catch (const std::exception& e) {
            recordError(e.what());
            break;
        }
        ++m_nextIndex;
        m_currentGraph->Start(this);
    }
    outer->Deliver(-1, nullptr, 0);  // the end of every file, or of the first that failed: stops the ring
}

}  // namespace vantrel::pipeline
