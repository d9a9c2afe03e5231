// The day-number calendar: dates, day numbers, year days, weekdays, two-digit
// years and the date texts.
#include "qx/calendar.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "julian.hpp"

namespace {

using namespace qx::cal;

GDATE to_gdate(const Civil& c) {
    // Years beyond the int range only come from absurd day numbers; they wrap.
    return GDATE{c.month, c.day, static_cast<int>(c.year)};
}

GDATE gdate_of_day(int64_t jday) {
    if (jday == std::numeric_limits<int64_t>::min()) ++jday;  // keeps jday - 1 defined
    return to_gdate(civil_from_day(jday));
}

}  // namespace

extern "C" {

int gregtoyday(GDATE date) {
    if (date.year < 0) return -2;
    if (date.month < 1 || date.month > 12) return -3;
    if (date.day < 1 || date.day > days_in_month(date.year, date.month)) return -4;
    return year_day(date.year, date.month, date.day);
}

long gregtojday(GDATE date) {
    const int yday = gregtoyday(date);
    if (yday < 0) return yday;
    return static_cast<long>(days_before_year(date.year) + yday);
}

GDATE jdaytogreg(long jday) {
    return gdate_of_day(jday);
}

int jdaytoyday(long jday, int* year) {
    const Civil c = civil_from_day(jday == std::numeric_limits<long>::min() ? jday + 1 : jday);
    if (year != nullptr) *year = static_cast<int>(c.year);
    return c.yday;
}

GDATE ydaytogreg(int yday, int year) {
    return gdate_of_day(days_before_year(year) + yday);
}

int isleap(int year) {
    return is_leap(year) ? 1 : 0;
}

int dayofweek(long jday) {
    return static_cast<int>((jday % 7 + 7) % 7);
}

GDATE WeekOfMonthToGreg(int year, int month, int weekday, int week) {
    return gdate_of_day(week_of_month_day(year, month, weekday, week));
}

double gregtojear(GDATE date) {
    return static_cast<double>(gregtojday(date)) / 365.2425 + 1.0;
}

GDATE jeartogreg(double years) {
    const double day = std::floor((years - 1.0) * 365.2425 + 0.5);
    if (!(std::fabs(day) <= kMaxJulDays)) return GDATE{0, 0, 0};
    return gdate_of_day(static_cast<int64_t>(day));
}

int yytoyear(const char* text, int baseyear) {
    if (text == nullptr) return 0;
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* digits = (*p == '-' || *p == '+') ? p + 1 : p;
    const size_t count = std::strspn(digits, "0123456789");
    const int year = read_int(p);
    if (baseyear <= 0 || count > 2 || year < 0) return year;
    // The century that puts the year into (base - 50, base + 50].
    int64_t placed = int64_t{baseyear} / 100 * 100 + year;
    if (placed - baseyear > 50) placed -= 100;
    else if (placed - baseyear <= -50) placed += 100;
    return static_cast<int>(placed);
}

GDATE mmddyyyytogreg(const char* text, int baseyear) {
    GDATE date{0, 0, 0};
    if (text == nullptr) return date;
    const char* p = text;
    date.month = read_int(p);
    if (*p != '\0') ++p;  // the separator
    date.day = read_int(p);
    if (*p != '\0') ++p;
    date.year = yytoyear(p, baseyear);
    return date;
}

char* gregtommddyyyy(char* buffer, GDATE date, int baseyear) {
    if (buffer == nullptr) return buffer;
    const int64_t distance = int64_t{date.year} - baseyear;
    char text[64];
    if (baseyear > 0 && distance > -50 && distance <= 50)
        std::snprintf(text, sizeof text, "%02d/%02d/%02d", date.month, date.day, (date.year % 100 + 100) % 100);
    else
        std::snprintf(text, sizeof text, "%02d/%02d/%04d", date.month, date.day, date.year);
    // A valid date is 10 characters; fields out of range must not overrun
    // the caller's 11 bytes.
    const size_t length = std::min<size_t>(std::strlen(text), 10);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return buffer;
}

}  // extern "C"
