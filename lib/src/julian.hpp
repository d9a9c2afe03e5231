// Day-number arithmetic shared by the calendar, the Jul-time conversions and
// the daylight rules.  64-bit throughout, so no argument a caller can pass
// overflows.
#pragma once

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>

namespace qx::cal {

inline constexpr int64_t kJulEpochDay = 693594;     // day number of 1899-12-30
inline constexpr int64_t kSecondsPerDay = 86400;
// Jul times beyond about a million years are not times: the conversions treat
// them like a missing value.
inline constexpr double kMaxJulDays = 365'000'000.0;

constexpr int64_t floor_div(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr bool is_leap(int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int days_in_month(int64_t year, int month) {
    constexpr int kLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : kLength[month - 1];
}

// Days of the year before the first of each month (not counting Feb 29).
inline constexpr int kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

constexpr int64_t days_before_year(int64_t year) {
    const int64_t y = year - 1;
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

// Year day of a valid month and day.
constexpr int year_day(int64_t year, int month, int day) {
    return kDaysBeforeMonth[month - 1] + (month > 2 && is_leap(year) ? 1 : 0) + day;
}

// Day number of a valid month and day (any year).
constexpr int64_t day_number(int64_t year, int month, int day) {
    return days_before_year(year) + year_day(year, month, day);
}

struct Civil {
    int64_t year;
    int month;
    int day;
    int yday;
};

// Inverse of day_number: whole 400-year cycles, then 100-year, 4-year and
// one-year periods, then the month from the cumulative month lengths.
constexpr Civil civil_from_day(int64_t jday) {
    int64_t n = jday - 1;  // days since 0001-01-01
    const int64_t q400 = floor_div(n, 146097);
    n -= q400 * 146097;
    int64_t q100 = n / 36524;
    if (q100 == 4) q100 = 3;  // the last day of a 400-year cycle
    n -= q100 * 36524;
    const int64_t q4 = n / 1461;
    n -= q4 * 1461;
    int64_t q1 = n / 365;
    if (q1 == 4) q1 = 3;  // the last day of a leap year
    n -= q1 * 365;
    Civil c{};
    c.year = q400 * 400 + q100 * 100 + q4 * 4 + q1 + 1;
    c.yday = static_cast<int>(n) + 1;
    const int leap = is_leap(c.year) ? 1 : 0;
    int month = 12;
    while (month > 1 && c.yday <= kDaysBeforeMonth[month - 1] + (month > 2 ? leap : 0)) --month;
    c.month = month;
    c.day = c.yday - kDaysBeforeMonth[month - 1] - (month > 2 ? leap : 0);
    return c;
}

// A Jul time as day number and second of the day, the seconds rounded to the
// nearest (exactly half rounds down) and carried into the next day at 86400.
struct JulSplit {
    int64_t jday;
    int64_t second;  // 0..86399
};

inline bool split_jul(double jul, JulSplit& out) {
    if (!(std::fabs(jul) <= kMaxJulDays)) return false;  // NaN too
    const double whole = std::floor(jul);
    const double seconds = (jul - whole) * static_cast<double>(kSecondsPerDay);
    double rounded = std::floor(seconds);
    if (seconds - rounded > 0.5) rounded += 1.0;
    out.jday = static_cast<int64_t>(whole) + kJulEpochDay;
    out.second = static_cast<int64_t>(rounded);
    if (out.second >= kSecondsPerDay) {
        out.second -= kSecondsPerDay;
        ++out.jday;
    }
    return true;
}

// The week-th weekday of a month, arguments clamped; week 5 is the last.
constexpr int64_t week_of_month_day(int64_t year, int month, int weekday, int week) {
    if (week < 1) week = 1;
    if (week > 5) week = 5;
    if (weekday < 0) weekday = 0;
    if (weekday > 6) weekday = 6;
    if (month < 1) month = 1;
    if (month > 12) month = 12;
    const int64_t first = day_number(year, month, 1);
    int64_t jday = first + (weekday - (first % 7 + 7) % 7 + 7) % 7 + 7 * (week - 1);
    const int64_t past = first + days_in_month(year, month);
    while (jday >= past) jday -= 7;
    return jday;
}

// atoi that cannot overflow: leading white space, a sign and digits, the
// value saturated to the int range; text advances past what was read.
inline int read_int(const char*& text) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value <= std::numeric_limits<int>::max()) value = value * 10 + (*p - '0');
        ++p;
    }
    text = p;
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

inline int text_to_int(const char* text) {
    return text == nullptr ? 0 : read_int(text);
}

}  // namespace qx::cal
