/*
 * Time and calendar.
 *
 * A point in time is a Jul time: a double counting days since 1899-12-30
 * 00:00, the fraction being the time of day (25569.0 is 1970-01-01, 0.5 is
 * noon).  Whether a Jul time is local time or UTC is up to its user.
 *
 * Calendar dates are day numbers of the proleptic Gregorian calendar with
 * 0001-01-01 as day 1 (1899-12-30 is day 693594).  Day of week: 0 = Sunday
 * through 6 = Saturday.
 *
 * Local time and UTC convert by a time-zone rule, held in the layout of the
 * Windows time-zone information record (172 bytes, checked below).  Each
 * program holds one such rule as the global KWZ_TimeZone; it stays all zero
 * (local time = UTC) unless the program fills it with GetTimeZoneInformation.
 */
#ifndef QX_CALENDAR_H
#define QX_CALENDAR_H

#include <stdint.h>
#include <time.h>

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Days from 1899-12-30 (Jul time 0) back to day number 0. */
#define QX_JUL_EPOCH_DAY 693594L

/* Broken-down time. */
typedef struct time_velmo {
    int32_t year;   /* full year, such as 2024 */
    int32_t month;  /* 1..12 */
    int32_t day;    /* 1..31 */
    int32_t hour;   /* 0..23 */
    int32_t min;    /* 0..59 */
    int32_t sec;    /* 0..59 */
} time_velmo;

/* Calendar date; calendar functions take and return it by value. */
typedef struct GDATE {
    int month;
    int day;
    int year;
} GDATE;

/* When a zone changes between standard and daylight time: month, day of week
 * (0 = Sunday), week of the month in wDay (1..5, 5 = last) and the local time
 * of day.  wYear and wMilliseconds are kept but not used. */
typedef struct KWZ_ZoneDate {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} KWZ_ZoneDate;

/* The time-zone rule.  UTC = local time + Bias (+ StandardBias or
 * DaylightBias), all in minutes.  A rule whose StandardDate.wMonth or
 * DaylightDate.wMonth is 0 has no daylight time.  The names (UTF-16) are left
 * empty by this system.
 *
 * The global below shares the struct's name, so the type is written
 * `struct KWZ_TimeZone` or KWZ_TimeZoneRecord. */
struct KWZ_TimeZone {
    int32_t      Bias;
    uint16_t     StandardName[32];
    KWZ_ZoneDate StandardDate;    /* start of standard time, in daylight time */
    int32_t      StandardBias;
    uint16_t     DaylightName[32];
    KWZ_ZoneDate DaylightDate;    /* start of daylight time, in standard time */
    int32_t      DaylightBias;
};
typedef struct KWZ_TimeZone KWZ_TimeZoneRecord;

/* The rule of this process; all zero until the program fills it. */
extern struct KWZ_TimeZone KWZ_TimeZone;

/* ---- Conversions -------------------------------------------------------- */

/* Breaks a Jul time down, seconds rounded to the nearest (exactly half rounds
 * down); 23:59:59.6 becomes 00:00:00 of the next day.  A missing value (NaN),
 * an infinity or a time beyond a million years leaves the record all zero. */
void JulToTime(double jul, time_velmo* tv);
/* Jul time of a broken-down time.  The date is not checked; hours, minutes and
 * seconds may overflow into the next day.  An all-zero date gives day part 0. */
double TimeToJul(time_velmo tv);
/* Whole seconds since 1899-12-30 00:00 (the fraction's seconds are cut);
 * 0 for a missing value. */
int64_t JulToLongLong(double jul);
/* The time cut down to the start of its interval (seconds, counted from
 * midnight); an interval of 0 or less leaves the time unchanged. */
double TrimTime(int interval, double jul);

/* Local time of the operating system's zone, UTC, and UTC storing the epoch
 * second through the pointer (which may be null). */
double Now(void);
double NowUTC(void);
double NowUTCT(time_t* now);

/* Local time to UTC by the rule.  A local time in the hour skipped when the
 * clocks go forward counts as the hour after it; a local time in the repeated
 * hour counts as daylight time when ambiguous is non-zero, else as standard
 * time. */
double LocalTimeToUTC(KWZ_TimeZoneRecord zone, int ambiguous, double jul);
/* UTC to local time by the rule; *dst receives 1 in daylight time, else 0
 * (dst may be null). */
double UTCToLocalTime(KWZ_TimeZoneRecord zone, int* dst, double jul);

/* Adds n intervals: "yyyy" years, "q" quarters, "m" months, "y", "d", "w" days,
 * "ww" weeks, "h" hours, "n" minutes, "s" seconds (case ignored).  Months and
 * years keep the time of day and lower a day that the target month lacks to
 * its last day.  Any other text returns the time unchanged. */
double DateAdd(const char* interval, int n, double jul);

/* Start of daylight time (DstDate) or of standard time (StdDate) in the year
 * of jul, as the local Jul time the rule names; *minutes receives
 * 1440 + DaylightBias (DstDate) or 1440 - DaylightBias (StdDate).  Return 1
 * (DstDate) or 0 (StdDate); without a daylight rule both store zeros and
 * return -1. */
int DstDate(KWZ_TimeZoneRecord zone, int* minutes, double* when, double jul);
int StdDate(KWZ_TimeZoneRecord zone, int* minutes, double* when, double jul);

/* ---- Calendar ----------------------------------------------------------- */

/* Day number of a date, or the negative error of gregtoyday. */
long gregtojday(GDATE date);
/* Day of the year (1..366), or -4 (no such day in the month), -3 (month
 * outside 1..12), -2 (year negative). */
int gregtoyday(GDATE date);
GDATE jdaytogreg(long jday);
/* Day of the year of a day number; its year is stored through year (may be
 * null). */
int jdaytoyday(long jday, int* year);
/* Date of a day of the year; days beyond the year run into the next. */
GDATE ydaytogreg(int yday, int year);
int isleap(int year);
/* The day number modulo 7: 0 = Sunday. */
int dayofweek(long jday);
/* The week-th (1..5, 5 = last) weekday (0 = Sunday) of a month; arguments out
 * of range are clamped. */
GDATE WeekOfMonthToGreg(int year, int month, int weekday, int week);
/* Years as a double: day number / 365.2425 + 1, and back. */
double gregtojear(GDATE date);
GDATE jeartogreg(double years);

/* Writes "mm/dd/yyyy", or "mm/dd/yy" when baseyear is positive and the year
 * lies within 50 years of it (as yytoyear reads it back), into buffer, which
 * holds at least 11 bytes; never more than 11 bytes are written.  Returns the
 * buffer. */
char* gregtommddyyyy(char* buffer, GDATE date, int baseyear);
/* Reads month, one separator, day, one separator and a year (through
 * yytoyear). */
GDATE mmddyyyytogreg(const char* text, int baseyear);
/* The year of a text: a number of more than two digits, or any number when
 * baseyear is 0 or less, stands as it is; a one- or two-digit year is placed
 * in the century that brings it within 50 years of baseyear (base 2024: 80
 * gives 1980, 74 gives 2074). */
int yytoyear(const char* text, int baseyear);

/* ---- Layout checks ------------------------------------------------------ */

QX_CHECK_SIZE(time_velmo, 24);
QX_CHECK_SIZE(KWZ_ZoneDate, 16);
QX_CHECK_FIELD(KWZ_ZoneDate, wYear, 0);
QX_CHECK_FIELD(KWZ_ZoneDate, wMonth, 2);
QX_CHECK_FIELD(KWZ_ZoneDate, wDayOfWeek, 4);
QX_CHECK_FIELD(KWZ_ZoneDate, wDay, 6);
QX_CHECK_FIELD(KWZ_ZoneDate, wHour, 8);
QX_CHECK_FIELD(KWZ_ZoneDate, wMinute, 10);
QX_CHECK_FIELD(KWZ_ZoneDate, wSecond, 12);
QX_CHECK_FIELD(KWZ_ZoneDate, wMilliseconds, 14);
QX_CHECK_SIZE(KWZ_TimeZoneRecord, 172);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, Bias, 0);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, StandardName, 4);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, StandardDate, 68);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, StandardBias, 84);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, DaylightName, 88);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, DaylightDate, 152);
QX_CHECK_FIELD(KWZ_TimeZoneRecord, DaylightBias, 168);

#ifdef __cplusplus
}
#endif

#endif /* QX_CALENDAR_H */
