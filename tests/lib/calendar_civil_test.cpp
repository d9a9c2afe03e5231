// The day-number calendar against std::chrono's civil calendar, and the date
// texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "qx.h"

namespace {

using namespace std::chrono;
using weekday_t = std::chrono::weekday;

bool Same(GDATE a, GDATE b) {
    return a.month == b.month && a.day == b.day && a.year == b.year;
}

std::string Text(GDATE g) {
    return std::to_string(g.year) + "-" + std::to_string(g.month) + "-" + std::to_string(g.day);
}

TEST(Calendar, AgreesWithChronoOnEveryDayOfYears1To9999) {
    const sys_days first = year{1} / January / 1;
    const sys_days last = year{9999} / December / 31;
    const sys_days jul_epoch = year{1899} / December / 30;
    long expected_jday = 1;
    int failures = 0;
    for (sys_days day = first; day <= last; day += days{1}, ++expected_jday) {
        const year_month_day ymd{day};
        const GDATE g{static_cast<int>(unsigned(ymd.month())), static_cast<int>(unsigned(ymd.day())),
                      static_cast<int>(ymd.year())};
        const int yday = static_cast<int>((day - sys_days{ymd.year() / January / 1}).count()) + 1;
        const int weekday = static_cast<int>(weekday_t(day).c_encoding());
        int yday_year = 0;
        const bool ok = gregtojday(g) == expected_jday && Same(jdaytogreg(expected_jday), g) &&
                        gregtoyday(g) == yday && jdaytoyday(expected_jday, &yday_year) == yday &&
                        yday_year == g.year && Same(ydaytogreg(yday, g.year), g) &&
                        dayofweek(expected_jday) == weekday &&
                        isleap(g.year) == (ymd.year().is_leap() ? 1 : 0) &&
                        Same(jeartogreg(gregtojear(g)), g) &&
                        expected_jday - QX_JUL_EPOCH_DAY == (day - jul_epoch).count();
        if (!ok && ++failures <= 10) ADD_FAILURE() << "day " << expected_jday << " = " << Text(g);
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(expected_jday - 1, 3652059);
}

TEST(Calendar, InvalidDatesGiveTheirErrors) {
    struct Case { GDATE date; int yday; };
    const Case cases[] = {
        {{2, 29, 2024}, 60},  {{2, 29, 2023}, -4}, {{2, 29, 2000}, 60}, {{2, 29, 1900}, -4},
        {{12, 31, 2024}, 366}, {{4, 31, 2024}, -4}, {{1, 0, 2024}, -4},  {{1, 32, 2024}, -4},
        {{0, 1, 2024}, -3},   {{13, 1, 2024}, -3}, {{1, 1, -1}, -2},    {{13, 40, -5}, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.date));
        EXPECT_EQ(gregtoyday(c.date), c.yday);
        if (c.yday < 0) {
            EXPECT_EQ(gregtojday(c.date), c.yday);
        }
    }
}

TEST(Calendar, LeapYearRule) {
    for (int y : {4, 1996, 2000, 2024, 2400}) EXPECT_EQ(isleap(y), 1) << y;
    for (int y : {1, 1900, 2023, 2100, 2200}) EXPECT_EQ(isleap(y), 0) << y;
}

TEST(WeekOfMonthToGreg, AgreesWithChronoIndexedWeekdays) {
    EXPECT_TRUE(Same(WeekOfMonthToGreg(2024, 3, 0, 5), GDATE{3, 31, 2024}));
    EXPECT_TRUE(Same(WeekOfMonthToGreg(2024, 10, 0, 5), GDATE{10, 27, 2024}));
    for (int y = 1990; y <= 2040; ++y)
        for (unsigned m = 1; m <= 12; ++m)
            for (unsigned wd = 0; wd <= 6; ++wd)
                for (unsigned week = 1; week <= 5; ++week) {
                    year_month_day expected{year_month_weekday{year{y}, month{m}, weekday_t{wd}[week]}};
                    if (week == 5 || !expected.ok())
                        expected = year_month_day{year_month_weekday_last{year{y}, month{m}, weekday_t{wd}[last]}};
                    const GDATE got = WeekOfMonthToGreg(y, static_cast<int>(m), static_cast<int>(wd),
                                                        static_cast<int>(week));
                    ASSERT_TRUE(Same(got, GDATE{static_cast<int>(m), static_cast<int>(unsigned(expected.day())), y}))
                        << y << "/" << m << " weekday " << wd << " week " << week << " gave " << Text(got);
                }
}

TEST(WeekOfMonthToGreg, ClampsItsArguments) {
    struct Case { int month, weekday, week; GDATE same_as; };
    const Case cases[] = {
        {3, 0, 0, WeekOfMonthToGreg(2024, 3, 0, 1)},  {3, 0, 9, WeekOfMonthToGreg(2024, 3, 0, 5)},
        {3, -3, 2, WeekOfMonthToGreg(2024, 3, 0, 2)}, {3, 8, 2, WeekOfMonthToGreg(2024, 3, 6, 2)},
        {0, 1, 1, WeekOfMonthToGreg(2024, 1, 1, 1)},  {13, 1, 1, WeekOfMonthToGreg(2024, 12, 1, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.month) + "/" + std::to_string(c.weekday) + "/" + std::to_string(c.week));
        EXPECT_TRUE(Same(WeekOfMonthToGreg(2024, c.month, c.weekday, c.week), c.same_as));
    }
}

TEST(DateText, TwoDigitYearsLandWithinFiftyYearsOfTheBase) {
    struct Case { const char* text; int base; int year; };
    const Case cases[] = {
        {"80", 2024, 1980}, {"24", 2024, 2024}, {"74", 2024, 2074}, {"75", 2024, 1975},
        {"5", 2024, 2005},  {"99", 1950, 1999}, {"00", 1950, 2000}, {"124", 2024, 124},
        {"2024", 1900, 2024}, {"80", 0, 80},     {"80", -1, 80},     {" 80", 2024, 1980},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " base " + std::to_string(c.base));
        EXPECT_EQ(yytoyear(c.text, c.base), c.year);
    }
}

TEST(DateText, FormatsAndReadsBack) {
    struct Case { GDATE date; int base; const char* text; };
    const Case cases[] = {
        {{1, 15, 2024}, 0, "01/15/2024"},    {{1, 15, 2024}, 2024, "01/15/24"},
        {{12, 31, 1975}, 2024, "12/31/75"},  {{12, 31, 1974}, 2024, "12/31/1974"},
        {{6, 1, 2074}, 2024, "06/01/74"},    {{6, 1, 2075}, 2024, "06/01/2075"},
        {{2, 3, 2024}, -5, "02/03/2024"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        char buffer[11];
        EXPECT_STREQ(gregtommddyyyy(buffer, c.date, c.base), c.text);
        EXPECT_TRUE(Same(mmddyyyytogreg(c.text, c.base), c.date));
    }
    // Every date of two centuries survives the round trip through its text.
    for (long jday = gregtojday({1, 1, 1930}); jday <= gregtojday({12, 31, 2120}); ++jday) {
        char buffer[11];
        const GDATE g = jdaytogreg(jday);
        ASSERT_TRUE(Same(mmddyyyytogreg(gregtommddyyyy(buffer, g, 2024), 2024), g)) << buffer;
    }
    EXPECT_TRUE(Same(mmddyyyytogreg("1/5/2024", 0), GDATE{1, 5, 2024}));
    EXPECT_TRUE(Same(mmddyyyytogreg("12-31-99", 2024), GDATE{12, 31, 1999}));
}

TEST(DateText, OutOfRangeFieldsNeverOverrunElevenBytes) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    gregtommddyyyy(buffer, GDATE{-2147483647 - 1, 123456, 2147483647}, 0);
    EXPECT_EQ(std::strlen(buffer), 10u);
    for (size_t i = 11; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
    // A truncated or empty text reads without running past its end.
    EXPECT_TRUE(Same(mmddyyyytogreg("07", 0), GDATE{7, 0, 0}));
    EXPECT_TRUE(Same(mmddyyyytogreg("", 0), GDATE{0, 0, 0}));
}

}  // namespace
