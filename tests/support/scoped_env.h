// SPDX-License-Identifier: GPL-3.0-or-later
// Sets an environment variable (or TZ) for one scope and puts the old value back afterwards.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace vantrel::testsupport {

class ScopedEnv {
public:
    // A null `value` unsets the variable for the scope.
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) m_previous = old;
        if (value != nullptr) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() { restoreNow(); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

protected:
    void restoreNow()
    {
        if (m_previous) ::setenv(m_name.c_str(), m_previous->c_str(), 1);
        else ::unsetenv(m_name.c_str());
    }

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

// POSIX rules need no time zone database: Central European Time with its summer time.
inline constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kUtc = "UTC0";

// TZ for one scope; mktime and localtime read it after tzset.
class ScopedTimeZone : private ScopedEnv {
public:
    explicit ScopedTimeZone(const char* zone) : ScopedEnv("TZ", zone) { ::tzset(); }
    ~ScopedTimeZone() { restoreNow(); ::tzset(); }
};

}  // namespace vantrel::testsupport
