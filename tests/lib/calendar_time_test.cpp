// Jul time: breaking down and building up, second counts, trimming, the
// clock and calendar stepping.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "qx.h"

namespace {

std::string Text(const time_velmo& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.min,
                  t.sec);
    return text;
}

bool Equal(const time_velmo& a, const time_velmo& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.min == b.min &&
           a.sec == b.sec;
}

std::string Broken(double jul) {
    time_velmo t;
    JulToTime(jul, &t);
    return Text(t);
}

double Jul(int year, int month, int day, int hour = 0, int min = 0, int sec = 0) {
    return TimeToJul(time_velmo{year, month, day, hour, min, sec});
}

TEST(JulToTime, BreaksDownWithRoundingToTheNearestSecond) {
    struct Case { double jul; const char* text; };
    const Case cases[] = {
        {0.0, "1899-12-30 00:00:00"},      {2.0, "1900-01-01 00:00:00"},
        {25569.0, "1970-01-01 00:00:00"},  {36526.0, "2000-01-01 00:00:00"},
        {45292.25, "2024-01-01 06:00:00"}, {1.5, "1899-12-31 12:00:00"},
        // 0.0864 s before midnight rounds into the next day
        {45292.999999, "2024-01-02 00:00:00"},
        // 168.75 s rounds up, 337.5 s (exactly one half) rounds down
        {1.0 + 1.0 / 512, "1899-12-31 00:02:49"}, {1.0 + 2.0 / 512, "1899-12-31 00:05:37"},
        {-693593.0, "0001-01-01 00:00:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(Broken(c.jul), c.text) << c.jul;
}

TEST(JulToTime, MissingOrAbsurdTimesLeaveTheRecordCleared) {
    const double absurd[] = {GetNan(), NAN, INFINITY, -INFINITY, 1e300, -1e12};
    for (double jul : absurd) {
        time_velmo t{1, 2, 3, 4, 5, 6};
        JulToTime(jul, &t);
        EXPECT_EQ(Text(t), "0000-00-00 00:00:00") << jul;
    }
    JulToTime(1.0, nullptr);  // no record, no crash
}

TEST(TimeToJul, BuildsUpWithoutCheckingTheTimeOfDay) {
    EXPECT_DOUBLE_EQ(Jul(1899, 12, 31, 12), 1.5);
    EXPECT_DOUBLE_EQ(Jul(2024, 1, 1, 6), 45292.25);
    EXPECT_DOUBLE_EQ(Jul(2024, 1, 1, 25), Jul(2024, 1, 2, 1));
    EXPECT_DOUBLE_EQ(Jul(0, 0, 0, 12), 0.5);  // all-zero date: day part 0
    EXPECT_TRUE(std::isfinite(TimeToJul(time_velmo{INT_MAX, 1, 1, INT_MAX, INT_MAX, INT_MAX})));
}

// Every whole second of days spread over years 1 to 9999 survives
// TimeToJul and JulToTime.
TEST(TimeToJul, JulToTimeInvertsItForEverySecondOfSampleDays) {
    std::vector<long> days = {QX_JUL_EPOCH_DAY, gregtojday({2, 29, 2000}), gregtojday({12, 31, 9999})};
    for (long jday = 1; jday <= 3652059; jday += 36011) days.push_back(jday);
    int failures = 0;
    for (long jday : days) {
        const GDATE g = jdaytogreg(jday);
        for (int second = 0; second < 86400; ++second) {
            const time_velmo t{g.year, g.month, g.day, second / 3600, second / 60 % 60, second % 60};
            time_velmo back;
            JulToTime(TimeToJul(t), &back);
            if (!Equal(back, t) && ++failures <= 10) ADD_FAILURE() << Text(t) << " came back as " << Text(back);
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(JulToLongLong, CountsWholeSecondsSince1899) {
    EXPECT_EQ(JulToLongLong(25569.0), 2209161600LL);
    EXPECT_EQ(JulToLongLong(1.5), 86400LL + 43200);
    EXPECT_EQ(JulToLongLong(1.0 + 0.9 / 86400), 86400LL);  // cut, not rounded
    EXPECT_EQ(JulToLongLong(GetNan()), 0);
}

TEST(TrimTime, CutsDownToTheIntervalStart) {
    const double day = Jul(2024, 5, 6);
    struct Case { int interval; double jul; double expected; };
    const Case cases[] = {
        {900, day + 36899.95 / 86400, Jul(2024, 5, 6, 10, 15)},  // a tenth of a second allowance
        {900, day + 36899.8 / 86400, Jul(2024, 5, 6, 10, 0)},
        {1, day + 3600.4 / 86400, Jul(2024, 5, 6, 1, 0, 0)},
        {3600, Jul(2024, 5, 6, 23, 59, 59), Jul(2024, 5, 6, 23)},
        // 7 s does not divide the day: the intervals restart at midnight
        {7, Jul(2024, 5, 7, 0, 0, 6), Jul(2024, 5, 7)},
        {7, Jul(2024, 5, 7, 0, 0, 8), Jul(2024, 5, 7, 0, 0, 7)},
        // no interval: nothing to cut (and no division by zero)
        {0, day + 0.3, day + 0.3},
        {-5, day + 0.3, day + 0.3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.interval) + " at " + Broken(c.jul));
        EXPECT_NEAR(TrimTime(c.interval, c.jul), c.expected, 1e-9);
    }
    EXPECT_TRUE(std::isnan(TrimTime(900, GetNan())));
}

TEST(DateAdd, StepsByEveryInterval) {
    struct Case { const char* interval; int n; double from; double to; };
    const double t = Jul(2024, 1, 15, 10, 20, 30);
    const Case cases[] = {
        {"m", 1, Jul(2024, 1, 31, 10, 20, 30), Jul(2024, 2, 29, 10, 20, 30)},
        {"m", 1, Jul(2023, 1, 31), Jul(2023, 2, 28)},
        {"m", -1, Jul(2024, 3, 31), Jul(2024, 2, 29)},
        {"m", -1, Jul(2023, 3, 31), Jul(2023, 2, 28)},
        {"m", -13, Jul(2024, 1, 15), Jul(2022, 12, 15)},
        {"m", 11, Jul(2024, 1, 15), Jul(2024, 12, 15)},
        {"m", 12, t, Jul(2025, 1, 15, 10, 20, 30)},
        {"M", -12, t, Jul(2023, 1, 15, 10, 20, 30)},
        {"m", 25, Jul(2024, 11, 30), Jul(2026, 12, 30)},
        {"yyyy", 1, Jul(2024, 2, 29, 6), Jul(2025, 2, 28, 6)},
        {"YYYY", -4, Jul(2024, 2, 29), Jul(2020, 2, 29)},
        {"q", 1, Jul(2024, 11, 30), Jul(2025, 2, 28)},
        {"q", -2, t, Jul(2023, 7, 15, 10, 20, 30)},
        {"d", -15, t, Jul(2023, 12, 31, 10, 20, 30)},
        {"y", 1, t, t + 1},
        {"w", 3, t, t + 3},
        {"ww", 2, t, Jul(2024, 1, 29, 10, 20, 30)},
        {"h", 14, t, Jul(2024, 1, 16, 0, 20, 30)},
        {"n", -21, t, Jul(2024, 1, 15, 9, 59, 30)},
        {"s", 30, t, Jul(2024, 1, 15, 10, 21, 0)},
        {"x", 5, t, t},
        {"", 5, t, t},
        {"mm", 5, t, t},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.interval) + " " + std::to_string(c.n) + " from " + Broken(c.from));
        const double got = DateAdd(c.interval, c.n, c.from);
        EXPECT_EQ(Broken(got), Broken(c.to));
        EXPECT_NEAR(got, c.to, 1e-9);
    }
}

TEST(DateAdd, ExtremeCountsAndMissingValuesStaySafe) {
    const double t = Jul(2024, 1, 15);
    EXPECT_EQ(DateAdd(nullptr, 1, t), t);
    EXPECT_TRUE(std::isnan(DateAdd("m", 1, GetNan())));
    EXPECT_TRUE(std::isnan(DateAdd("d", 1, GetNan())));
    for (const char* interval : {"m", "q", "yyyy"})
        for (int n : {INT_MAX, INT_MIN}) EXPECT_TRUE(std::isfinite(DateAdd(interval, n, t))) << interval << n;
}

TEST(Clock, NowFunctionsAgreeWithTheSystemClock) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    time_t epoch = 0;
    const double utct = NowUTCT(&epoch);
    const double utc = NowUTC();
    const double local = Now();
    const time_t after = time(nullptr);
    EXPECT_NEAR(utct, 25569.0 + static_cast<double>(epoch) / 86400, 1e-9);
    EXPECT_NEAR(utc, utct, 2.0 / 86400);
    struct tm broken {};
    localtime_r(&after, &broken);
    EXPECT_NEAR(local - utc, broken.tm_gmtoff / 86400.0, 2.0 / 86400);
    EXPECT_GT(NowUTCT(nullptr), 45000.0);
}

}  // namespace
