// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a capture or print job from the command line: signals, the status texts on standard error, the end.
#include "tools/jobs/job_console.h"

#include "mediagraph/graph_errors.h"
#include "mediagraph/video_devices.h"
#include "pipeline/job_status_text.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace vantrel::tools {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTerminalRefresh = std::chrono::milliseconds(200);
constexpr auto kLogRefresh = std::chrono::seconds(1);
constexpr long kSignalWaitNanoseconds = 50'000'000;  // how often the job's state is looked at

sigset_t jobSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void PrepareJobSignals()
{
    const sigset_t set = jobSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

void ConsoleJobObserver::captureFileClosed(const std::string& path)
{
    if (m_statusLine != nullptr)
        m_statusLine->Break();
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
}

void ConsoleJobObserver::jobFailed(const std::string& message)
{
    m_hasFailed = true;
    if (m_statusLine != nullptr)
        m_statusLine->Break();
    std::fprintf(stderr, "%s: %s\n", m_program.c_str(), message.c_str());
}

StatusLine::StatusLine() : m_isTerminal(isatty(STDERR_FILENO) == 1) {}

void StatusLine::Update(const pipeline::CJobWnd& job, bool isFinal)
{
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    if (!isFinal && now - m_lastWrite < (m_isTerminal ? kTerminalRefresh : kLogRefresh))
        return;
    const pipeline::JobStatus status = pipeline::MakeJobStatus(
        job.GetState(), job.GetDroppedFrames(), job.GetDuration(), job.GetBufferCount(), job.GetBufferSlotCount());
    std::string text = status.phase;
    for (const std::string* part : {&status.elapsedTime, &status.bufferUsage}) {
        if (!part->empty())
            text += "  " + *part;
    }
    m_lastWrite = now;
    if (m_isTerminal) {
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
        m_isLineOpen = true;
    } else if (text != m_lastText) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    m_lastText = text;
}

void StatusLine::EndLine()
{
    std::lock_guard lock(m_mutex);
    if (!m_isTerminal)
        return;
    if (!m_isLineOpen && !m_lastText.empty())
        std::fprintf(stderr, "\r%s\033[K", m_lastText.c_str());  // cleared by a file printed since
    std::fputc('\n', stderr);
    m_isLineOpen = false;
}

void StatusLine::Break()
{
    std::lock_guard lock(m_mutex);
    if (m_isLineOpen)
        std::fputs("\r\033[K", stderr);  // the next tick writes the texts again
    m_isLineOpen = false;
    m_lastWrite = {};
}

JobEnd WaitForJobEnd(const pipeline::CJobWnd& job, const ConsoleJobObserver& observer, StatusLine& status)
{
    const sigset_t set = jobSignals();
    const timespec wait{0, kSignalWaitNanoseconds};
    while (true) {
        status.Update(job);
        if (observer.HasFailed())
            return JobEnd::Failed;
        if (job.GetState() == pipeline::JOB_FINISHED)
            return JobEnd::Finished;
        if (job.HasStreamEnded())
            return JobEnd::StreamEnded;
        const int signal = sigtimedwait(&set, nullptr, &wait);
        if (signal == SIGINT || signal == SIGTERM)
            return JobEnd::Signalled;
    }
}

std::optional<long long> ParseInteger(const char* text, long long minimum, long long maximum)
{
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

std::optional<pipeline::REFERENCE_TIME> ParseSeconds(const char* text)
{
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text, &end);
    constexpr double kLongestSeconds = 9.0e11;  // far beyond any tape, well inside 64 bits of 100 ns
    if (errno != 0 || *end != '\0' || !(seconds > 0) || seconds > kLongestSeconds)
        return std::nullopt;
    return static_cast<pipeline::REFERENCE_TIME>(std::llround(seconds * pipeline::kReferenceTimePerSecond));
}

std::optional<std::vector<std::string>> ListDevicesOrReport(const char* program)
{
    std::vector<std::string> devices;
    try {
        mediagraph::ListVideoDevices(devices);
    } catch (const mediagraph::CDShowException& error) {
        std::fprintf(stderr, "%s: %s\n", program, error.message().c_str());
        return std::nullopt;
    }
    return devices;
}

}  // namespace vantrel::tools
