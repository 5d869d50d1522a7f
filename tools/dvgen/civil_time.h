// SPDX-License-Identifier: GPL-3.0-or-later
// Wall-clock dates as a camcorder keeps them: no time zone, plain proleptic Gregorian arithmetic.
#pragma once

#include <cstdint>

namespace vantrel::dvgen {

struct LocalDateTime {
    int year = 2004;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// Days since 1970-01-01 of a Gregorian date (negative before it).
constexpr std::int64_t daysFromCivil(int year, int month, int day) noexcept
{
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

constexpr std::int64_t secondsSinceEpoch(const LocalDateTime& t) noexcept
{
    return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

constexpr LocalDateTime fromSecondsSinceEpoch(std::int64_t seconds) noexcept
{
    std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    std::int64_t secondOfDay = seconds - days * 86400;
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    LocalDateTime t;
    t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(secondOfDay / 3600);
    t.minute = static_cast<int>(secondOfDay / 60 % 60);
    t.second = static_cast<int>(secondOfDay % 60);
    return t;
}

constexpr LocalDateTime addSeconds(const LocalDateTime& t, std::int64_t seconds) noexcept
{
    return fromSecondsSinceEpoch(secondsSinceEpoch(t) + seconds);
}

// 0 = Sunday .. 6 = Saturday, as the date pack's week field counts.
constexpr int weekday(const LocalDateTime& t) noexcept
{
    const std::int64_t days = daysFromCivil(t.year, t.month, t.day);
    return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

static_assert(daysFromCivil(1970, 1, 1) == 0);
static_assert(weekday({2004, 7, 14, 0, 0, 0}) == 3);  // a Wednesday
static_assert(addSeconds({2004, 12, 31, 23, 59, 59}, 1) == LocalDateTime{2005, 1, 1, 0, 0, 0});
static_assert(addSeconds({2004, 3, 1, 0, 0, 0}, -1) == LocalDateTime{2004, 2, 29, 23, 59, 59});

}  // namespace vantrel::dvgen
