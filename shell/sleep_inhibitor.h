// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the computer awake while a job is shown: a systemd-logind "sleep:idle" inhibitor lock,
// held as the file descriptor logind hands out. Without a system bus or logind it does nothing.
#pragma once

#include <QString>

namespace vantrel::shell {

class SleepInhibitor {
public:
    SleepInhibitor() = default;
    ~SleepInhibitor() { release(); }
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    // Takes the lock unless it is held; quietly nothing when logind cannot be reached.
    void acquire(const QString& why);
    // Lets the lock go (closing the descriptor ends it).
    void release() noexcept;
    bool isHeld() const noexcept { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace vantrel::shell
