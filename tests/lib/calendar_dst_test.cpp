// Local time and UTC by a daylight rule, against the operating system's
// Europe/Berlin zone.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

#include "qx.h"
#include "calendar_example_zone.hpp"

namespace {

using qx_test::ExampleZone;

double Jul(int year, int month, int day, int hour = 0, int min = 0, int sec = 0) {
    return TimeToJul(time_velmo{year, month, day, hour, min, sec});
}

std::string Broken(double jul) {
    time_velmo t;
    JulToTime(jul, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.min,
                  t.sec);
    return text;
}

double JulOfEpoch(time_t epoch) {
    return 25569.0 + static_cast<double>(epoch) / 86400.0;
}

long long EpochOfJul(double jul) {
    return std::llround((jul - 25569.0) * 86400.0);
}

void UseBerlin() {
    ASSERT_TRUE(std::filesystem::exists("/usr/share/zoneinfo/Europe/Berlin"))
        << "the reference needs the tzdata package";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
}

TEST(DaylightRule, ExampleTransitions) {
    const KWZ_TimeZoneRecord zone = ExampleZone();
    // skipped hour: read as the hour after it
    EXPECT_EQ(Broken(LocalTimeToUTC(zone, 0, Jul(2024, 3, 31, 2, 30))), "2024-03-31 01:30:00");
    EXPECT_EQ(Broken(LocalTimeToUTC(zone, 1, Jul(2024, 3, 31, 2, 30))), "2024-03-31 01:30:00");
    // repeated hour: the flag chooses
    EXPECT_EQ(Broken(LocalTimeToUTC(zone, 0, Jul(2024, 10, 27, 2, 30))), "2024-10-27 01:30:00");
    EXPECT_EQ(Broken(LocalTimeToUTC(zone, 1, Jul(2024, 10, 27, 2, 30))), "2024-10-27 00:30:00");
    // 03:00 exists once (standard time), whatever the flag says
    EXPECT_EQ(Broken(LocalTimeToUTC(zone, 1, Jul(2024, 10, 27, 3))), "2024-10-27 02:00:00");

    struct Case { double utc; const char* local; int dst; };
    const Case cases[] = {
        {Jul(2024, 10, 27, 0, 59, 59), "2024-10-27 02:59:59", 1},
        {Jul(2024, 10, 27, 1), "2024-10-27 02:00:00", 0},
        {Jul(2024, 3, 31, 0, 59, 59), "2024-03-31 01:59:59", 0},
        {Jul(2024, 3, 31, 1), "2024-03-31 03:00:00", 1},
        {Jul(2024, 7, 1, 12), "2024-07-01 14:00:00", 1},
        {Jul(2024, 12, 31, 23, 30), "2025-01-01 00:30:00", 0},
    };
    for (const Case& c : cases) {
        int dst = -1;
        EXPECT_EQ(Broken(UTCToLocalTime(zone, &dst, c.utc)), c.local) << Broken(c.utc);
        EXPECT_EQ(dst, c.dst) << Broken(c.utc);
    }
    EXPECT_EQ(Broken(UTCToLocalTime(zone, nullptr, Jul(2024, 7, 1))), "2024-07-01 02:00:00");
}

TEST(DaylightRule, WithoutARuleOnlyTheBiasCounts) {
    const double t = Jul(2024, 7, 1, 12);
    for (int variant = 0; variant < 2; ++variant) {
        KWZ_TimeZoneRecord zone = ExampleZone();
        (variant == 0 ? zone.StandardDate : zone.DaylightDate).wMonth = 0;
        int dst = -1;
        EXPECT_NEAR(UTCToLocalTime(zone, &dst, t), t + 1.0 / 24, 1e-9);
        EXPECT_EQ(dst, 0);
        EXPECT_NEAR(LocalTimeToUTC(zone, 1, t), t - 1.0 / 24, 1e-9);
    }
    const KWZ_TimeZoneRecord cleared{};
    int dst = -1;
    EXPECT_EQ(UTCToLocalTime(cleared, &dst, t), t);
    EXPECT_EQ(dst, 0);
    EXPECT_EQ(LocalTimeToUTC(cleared, 0, t), t);
}

TEST(DaylightRule, StartAfterEndNeverGivesDaylightTime) {
    KWZ_TimeZoneRecord zone = ExampleZone();
    std::swap(zone.DaylightDate, zone.StandardDate);
    for (int month = 1; month <= 12; ++month) {
        int dst = -1;
        const double t = Jul(2024, month, 15, 12);
        EXPECT_NEAR(UTCToLocalTime(zone, &dst, t), t + 1.0 / 24, 1e-9) << month;
        EXPECT_EQ(dst, 0) << month;
        EXPECT_NEAR(LocalTimeToUTC(zone, 1, t), t - 1.0 / 24, 1e-9) << month;
    }
}

TEST(DaylightRule, ProcessRuleStartsCleared) {
    const KWZ_TimeZoneRecord cleared{};
    EXPECT_EQ(std::memcmp(&KWZ_TimeZone, &cleared, sizeof cleared), 0);
    EXPECT_EQ(sizeof(struct KWZ_TimeZone), 172u);
}

// Every hour from 2000 through 2037, and the second before it, agrees with
// localtime_r in Europe/Berlin, including the daylight flag.
TEST(DaylightRule, UTCToLocalTimeAgreesWithTheSystemZone) {
    UseBerlin();
    const KWZ_TimeZoneRecord zone = ExampleZone();
    const time_t first = 946684800;   // 2000-01-01 00:00 UTC
    const time_t last = 2145916800;   // 2038-01-01 00:00 UTC
    int failures = 0;
    for (time_t hour = first; hour < last; hour += 3600) {
        for (time_t utc : {hour, hour - 1}) {
            struct tm local {};
            localtime_r(&utc, &local);
            char expected[64];
            std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                          local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
            int dst = -1;
            const std::string got = Broken(UTCToLocalTime(zone, &dst, JulOfEpoch(utc)));
            if ((got != expected || dst != (local.tm_isdst > 0 ? 1 : 0)) && ++failures <= 10)
                ADD_FAILURE() << "UTC " << Broken(JulOfEpoch(utc)) << ": " << got << " dst " << dst
                              << ", system " << expected << " dst " << local.tm_isdst;
        }
    }
    EXPECT_EQ(failures, 0);
}

// A local wall time that exists once maps to mktime's UTC with either flag;
// in the repeated hour flag 0 gives the standard-time reading and flag 1 the
// daylight-time one; in the skipped hour the result is the standard-time
// reading (the same instant as the hour after it in daylight time).
void CheckLocalWallTime(const KWZ_TimeZoneRecord& zone, int year, int month, int day, int hour, int min,
                        int& failures) {
    const auto make_time = [&](int isdst) {
        struct tm wall {};
        wall.tm_year = year - 1900;
        wall.tm_mon = month - 1;
        wall.tm_mday = day;
        wall.tm_hour = hour;
        wall.tm_min = min;
        wall.tm_isdst = isdst;
        return mktime(&wall);
    };
    time_t reading[2];
    bool valid[2];
    for (int isdst = 0; isdst < 2; ++isdst) {
        reading[isdst] = make_time(isdst);
        struct tm back {};
        localtime_r(&reading[isdst], &back);
        valid[isdst] = back.tm_isdst == isdst && back.tm_hour == hour && back.tm_min == min && back.tm_mday == day;
    }
    time_t expected[2];
    if (valid[0] && valid[1]) {
        expected[0] = reading[0];
        expected[1] = reading[1];
    } else if (valid[0] || valid[1]) {
        expected[0] = expected[1] = make_time(-1);
    } else {
        expected[0] = expected[1] = reading[0];
    }
    const double local = Jul(year, month, day, hour, min);
    for (int flag = 0; flag < 2; ++flag) {
        const long long got = EpochOfJul(LocalTimeToUTC(zone, flag, local));
        if (got != expected[flag] && ++failures <= 10)
            ADD_FAILURE() << "local " << Broken(local) << " flag " << flag << ": UTC "
                          << Broken(JulOfEpoch(got)) << ", system " << Broken(JulOfEpoch(expected[flag]));
    }
}

TEST(DaylightRule, LocalTimeToUTCAgreesWithMktime) {
    UseBerlin();
    const KWZ_TimeZoneRecord zone = ExampleZone();
    using namespace std::chrono;
    int failures = 0;
    for (sys_days d = year{2000} / January / 1; d <= year{2037} / December / 31; d += days{1}) {
        const year_month_day ymd{d};
        const int y = static_cast<int>(ymd.year());
        const int m = static_cast<int>(unsigned(ymd.month()));
        const int dd = static_cast<int>(unsigned(ymd.day()));
        // every minute of the transition days, every hour of the others
        const bool transition = (m == 3 || m == 10) && weekday{d} == Sunday && dd + 7 > 31;
        for (int minute = 0; minute < 1440; minute += transition ? 1 : 60)
            CheckLocalWallTime(zone, y, m, dd, minute / 60, minute % 60, failures);
    }
    EXPECT_EQ(failures, 0);
}

TEST(DaylightRule, DstDateAndStdDate) {
    const KWZ_TimeZoneRecord zone = ExampleZone();
    int minutes = 0;
    double when = 0;
    EXPECT_EQ(DstDate(zone, &minutes, &when, Jul(2024, 7, 1)), 1);
    EXPECT_EQ(minutes, 1380);
    EXPECT_EQ(Broken(when), "2024-03-31 02:00:00");
    EXPECT_EQ(StdDate(zone, &minutes, &when, Jul(2024, 1, 1)), 0);
    EXPECT_EQ(minutes, 1500);
    EXPECT_EQ(Broken(when), "2024-10-27 03:00:00");

    const KWZ_TimeZoneRecord cleared{};
    minutes = 7;
    when = 7;
    EXPECT_EQ(DstDate(cleared, &minutes, &when, Jul(2024, 7, 1)), -1);
    EXPECT_EQ(minutes, 0);
    EXPECT_EQ(when, 0.0);
    minutes = 7;
    EXPECT_EQ(StdDate(cleared, &minutes, nullptr, Jul(2024, 7, 1)), -1);
    EXPECT_EQ(minutes, 0);
}

}  // namespace
