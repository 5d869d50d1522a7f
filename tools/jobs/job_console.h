// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a capture or print job from the command line: signals, the status texts on standard error, the end.
#pragma once

#include "pipeline/job_wnd.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::tools {

// Blocks SIGINT and SIGTERM in every thread started after it (the main loop takes them with
// sigtimedwait), and ignores SIGXFSZ so that a file size limit is a write error, not death.
// Call from main() before any thread starts.
void PrepareJobSignals();

// Prints closed capture files on standard output and errors as "PROGRAM: reason" on standard
// error; remembers whether an error came.
class ConsoleJobObserver : public pipeline::IJobObserver {
public:
    explicit ConsoleJobObserver(std::string program) : m_program(std::move(program)) {}
    void captureFileClosed(const std::string& path) override;
    void jobFailed(const std::string& message) override;
    bool HasFailed() const noexcept { return m_hasFailed.load(); }
    // The status line on a terminal is cleared before other text goes to it.
    void SetStatusLine(class StatusLine* line) noexcept { m_statusLine = line; }

private:
    std::string m_program;
    std::atomic<bool> m_hasFailed{false};
    class StatusLine* m_statusLine = nullptr;
};

// The status bar's three texts on standard error: rewritten in place on a terminal every
// 200 ms, otherwise a line once a second (and only when it changed).
class StatusLine {
public:
    StatusLine();
    // isFinal writes the texts whatever the time since the last line.
    void Update(const pipeline::CJobWnd& job, bool isFinal = false);
    // Clears an in-place line so that other text takes its place; the next Update writes it again.
    void Break();
    // Leaves the last texts standing on a terminal: the line ends.
    void EndLine();

private:
    bool m_isTerminal;
    std::chrono::steady_clock::time_point m_lastWrite{};
    std::string m_lastText;
    bool m_isLineOpen = false;
    std::mutex m_mutex;
};

enum class JobEnd { Invalid, Finished, StreamEnded, Signalled, Failed };

// Waits for the job to end: state JOB_FINISHED, the end of the stream, an error reported through
// the observer, or SIGINT/SIGTERM; refreshes the status line meanwhile.
JobEnd WaitForJobEnd(const pipeline::CJobWnd& job, const ConsoleJobObserver& observer, StatusLine& status);

// The video devices' names; when the devices cannot be listed, says why as "PROGRAM: reason" on
// standard error and gives nothing.
std::optional<std::vector<std::string>> ListDevicesOrReport(const char* program);

// Parses a whole decimal integer in [minimum, maximum].
std::optional<long long> ParseInteger(const char* text, long long minimum, long long maximum);
// Parses seconds (decimals allowed) above 0 into 100 ns units.
std::optional<pipeline::REFERENCE_TIME> ParseSeconds(const char* text);

}  // namespace vantrel::tools
