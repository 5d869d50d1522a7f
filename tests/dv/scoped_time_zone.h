// SPDX-License-Identifier: GPL-3.0-or-later
// Sets TZ for one test and restores it afterwards; mktime reads local time through it.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vantrel::dv::test {

// POSIX rules need no time zone database: Central European Time with its summer time.
inline constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kUtc = "UTC0";

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) m_previous = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_previous) ::setenv("TZ", m_previous->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> m_previous;
};

}  // namespace vantrel::dv::test
