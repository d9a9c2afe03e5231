// Jul time: broken-down time, second counts, interval trimming, the clock
// and calendar stepping.
#include "qx/calendar.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>
#include <time.h>

#include "julian.hpp"

namespace {

using namespace qx::cal;

double jul_of(int64_t jday, int64_t second_of_day) {
    return static_cast<double>(jday - kJulEpochDay) +
           static_cast<double>(second_of_day) / static_cast<double>(kSecondsPerDay);
}

// Adds months to a broken-down time; a day the target month lacks becomes
// its last day.  Years stay in 64 bits so no n can overflow.
double add_months(double jul, int64_t months) {
    JulSplit s;
    if (!split_jul(jul, s)) return jul;  // a missing value stays missing
    const Civil c = civil_from_day(s.jday);
    int64_t year = c.year + months / 12;
    int64_t month = c.month + months % 12;
    if (month <= 0) {
        month += 12;
        --year;
    } else if (month > 12) {
        month -= 12;
        ++year;
    }
    const int m = static_cast<int>(month);
    const int day = std::min(c.day, days_in_month(year, m));
    return jul_of(day_number(year, m, day), s.second);
}

int64_t day_of_clock(const struct tm& broken) {
    return day_number(broken.tm_year + int64_t{1900}, broken.tm_mon + 1, broken.tm_mday);
}

// The clock's Jul time, summed in the order hour, minute, second, days.
double jul_of_clock(const struct tm& broken) {
    const double days = static_cast<double>(day_of_clock(broken) - kJulEpochDay);
    return broken.tm_hour / 24.0 + broken.tm_min / 1440.0 + broken.tm_sec / 86400.0 + days;
}

}  // namespace

extern "C" {

void JulToTime(double jul, time_velmo* tv) {
    if (tv == nullptr) return;
    *tv = time_velmo{};
    JulSplit s;
    if (!split_jul(jul, s)) return;
    const Civil c = civil_from_day(s.jday);
    tv->year = static_cast<int32_t>(c.year);
    tv->month = c.month;
    tv->day = c.day;
    tv->hour = static_cast<int32_t>(s.second / 3600);
    tv->min = static_cast<int32_t>(s.second % 3600 / 60);
    tv->sec = static_cast<int32_t>(s.second % 60);
}

double TimeToJul(time_velmo tv) {
    double days = 0.0;
    if (int64_t{tv.year} + tv.month + tv.day != 0) {
        days = static_cast<double>(gregtojday(GDATE{tv.month, tv.day, tv.year}) - kJulEpochDay);
    }
    const int64_t seconds = int64_t{tv.sec} + 60 * int64_t{tv.min} + 3600 * int64_t{tv.hour};
    return days + static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
}

int64_t JulToLongLong(double jul) {
    if (!(std::fabs(jul) <= kMaxJulDays)) return 0;
    const double whole = std::floor(jul);
    const double seconds = std::floor((jul - whole) * static_cast<double>(kSecondsPerDay));
    return static_cast<int64_t>(whole) * kSecondsPerDay + static_cast<int64_t>(seconds);
}

double TrimTime(int interval, double jul) {
    if (interval <= 0) return jul;
    const double whole = std::floor(jul);
    // A tenth of a second absorbs the rounding error just below a boundary.
    const double second = std::floor((jul - whole) * static_cast<double>(kSecondsPerDay) + 0.1);
    const double count = std::floor(second / interval);
    return whole + count * interval / static_cast<double>(kSecondsPerDay);
}

double Now(void) {
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return jul_of_clock(local);
}

double NowUTC(void) {
    const time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    return jul_of_clock(utc);
}

double NowUTCT(time_t* now) {
    const time_t t = time(nullptr);
    if (now != nullptr) *now = t;
    struct tm utc {};
    gmtime_r(&t, &utc);
    return jul_of(day_of_clock(utc), utc.tm_sec + 60 * utc.tm_min + 3600 * utc.tm_hour);
}

double DateAdd(const char* interval, int n, double jul) {
    if (interval == nullptr) return jul;
    const auto is = [interval](const char* name) { return strcasecmp(interval, name) == 0; };
    if (is("yyyy")) return add_months(jul, 12 * int64_t{n});
    if (is("q")) return add_months(jul, 3 * int64_t{n});
    if (is("m")) return add_months(jul, n);
    if (is("y") || is("d") || is("w")) return jul + n;
    if (is("ww")) return jul + 7.0 * n;
    if (is("h")) return jul + n / 24.0;
    if (is("n")) return jul + n / 1440.0;
    if (is("s")) return jul + n / 86400.0;
    return jul;
}

}  // extern "C"
