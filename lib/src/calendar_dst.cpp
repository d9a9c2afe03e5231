// Daylight rules: local time and UTC by the time-zone rule of a process.
#include "qx/calendar.h"

#include "julian.hpp"

// The rule of this process; zero (local time = UTC) until it is filled.
struct KWZ_TimeZone KWZ_TimeZone;

namespace {

using namespace qx::cal;

bool has_daylight_rule(const KWZ_TimeZoneRecord& zone) {
    return zone.StandardDate.wMonth != 0 && zone.DaylightDate.wMonth != 0;
}

int64_t transition_day(int64_t year, const KWZ_ZoneDate& date) {
    return week_of_month_day(year, date.wMonth, date.wDayOfWeek, date.wDay);
}

// Second count (since 1899-12-30) of a transition in the given year, on the
// local clock the rule states it in.
int64_t transition_second(int64_t year, const KWZ_ZoneDate& date) {
    return (transition_day(year, date) - kJulEpochDay) * kSecondsPerDay + date.wHour * int64_t{3600} +
           date.wMinute * int64_t{60} + date.wSecond;
}

struct Transitions {
    int64_t start;  // daylight time begins, local standard time
    int64_t end;    // standard time begins, local daylight time
};

Transitions transitions(const KWZ_TimeZoneRecord& zone, int64_t year) {
    return {transition_second(year, zone.DaylightDate), transition_second(year, zone.StandardDate)};
}

int64_t second_count(const JulSplit& s) {
    return (s.jday - kJulEpochDay) * kSecondsPerDay + s.second;
}

int64_t year_of_day(int64_t jday) {
    return civil_from_day(jday).year;
}

constexpr double kMinutesPerDay = 1440.0;

// Writes the transition of one kind; both functions share the "no rule" path.
int transition_date(const KWZ_TimeZoneRecord& zone, const KWZ_ZoneDate& date, int minutes_value, int found,
                    int* minutes, double* when, double jul) {
    JulSplit s;
    if (!has_daylight_rule(zone) || !split_jul(jul, s)) {
        if (minutes != nullptr) *minutes = 0;
        if (when != nullptr) *when = 0.0;
        return -1;
    }
    if (minutes != nullptr) *minutes = minutes_value;
    if (when != nullptr) {
        const int64_t second = transition_second(year_of_day(s.jday), date);
        *when = static_cast<double>(second) / static_cast<double>(kSecondsPerDay);
    }
    return found;
}

}  // namespace

extern "C" {

double LocalTimeToUTC(KWZ_TimeZoneRecord zone, int ambiguous, double jul) {
    JulSplit s;
    if (!has_daylight_rule(zone) || !split_jul(jul, s)) return jul + zone.Bias / kMinutesPerDay;
    int64_t local = second_count(s);
    const Transitions tr = transitions(zone, year_of_day(s.jday));
    const int64_t daylight_bias = int64_t{zone.DaylightBias} * 60;

    // The hour skipped when the clocks go forward reads as the hour after it.
    if (tr.start <= local && local < tr.start - daylight_bias) {
        local -= daylight_bias;
        jul -= zone.DaylightBias / kMinutesPerDay;
    }
    // The repeated hour before the end counts as daylight time only when the
    // caller asks for it.  The end itself already is standard time: it exists
    // once, so the flag has nothing to choose there.
    const bool daylight =
        tr.start <= local && local < tr.end && (local < tr.end + daylight_bias || ambiguous != 0);
    const int64_t bias = int64_t{zone.Bias} + (daylight ? zone.DaylightBias : zone.StandardBias);
    return jul + static_cast<double>(bias) / kMinutesPerDay;
}

double UTCToLocalTime(KWZ_TimeZoneRecord zone, int* dst, double jul) {
    if (dst != nullptr) *dst = 0;
    JulSplit s;
    if (!has_daylight_rule(zone) || !split_jul(jul, s)) return jul - zone.Bias / kMinutesPerDay;
    const Transitions tr = transitions(zone, year_of_day(s.jday));
    const int64_t standard_local = second_count(s) - int64_t{zone.Bias} * 60;
    const bool daylight = tr.start + int64_t{zone.StandardBias} * 60 <= standard_local &&
                          standard_local < tr.end + int64_t{zone.DaylightBias} * 60;
    if (dst != nullptr) *dst = daylight ? 1 : 0;
    const int64_t bias = int64_t{zone.Bias} + (daylight ? zone.DaylightBias : zone.StandardBias);
    return jul - static_cast<double>(bias) / kMinutesPerDay;
}

int DstDate(KWZ_TimeZoneRecord zone, int* minutes, double* when, double jul) {
    return transition_date(zone, zone.DaylightDate, static_cast<int>(1440 + int64_t{zone.DaylightBias}), 1, minutes, when, jul);
}

int StdDate(KWZ_TimeZoneRecord zone, int* minutes, double* when, double jul) {
    return transition_date(zone, zone.StandardDate, static_cast<int>(1440 - int64_t{zone.DaylightBias}), 0, minutes, when, jul);
}

}  // extern "C"
