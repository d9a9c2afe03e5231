/*
 * Tag and raw-value access through the attach state: checked record copies,
 * the time stamps and archive path of Info, and local time <-> UTC with the
 * system's time zone.  Tag and raw numbers are 1..4096; 0, negative and
 * larger numbers fail, as does any call before an attach.
 */
#ifndef QX_TAGACCESS_H
#define QX_TAGACCESS_H

#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Record copies ----------------------------------------------------------- */

/* Copies the tag record: 0, or -1 (destination untouched). */
int ReadTag(int tag, Tags* destination);
/* Copies into the tag record: 0, or -1. */
int WriteTag(int tag, const Tags* source);
/* Ist of the raw value, or NaN. */
double ReadRoh(int roh);
/* Sets Ist of the raw value (status and times untouched): the value, or NaN. */
double WriteRoh(int roh, double value);
/* Copies the raw-value record: 0, or -1. */
int ReadRohInfo(int roh, Rohwerte* destination);
/* Copies into the raw-value record: 0, or -1. */
int WriteRohInfo(int roh, const Rohwerte* source);
/* Copies VelmoSystem (nothing before an attach); returns the destination. */
VelmoSystem* ReadVelmoSystem(VelmoSystem* destination);
/* Trims source->dir_archiv in place, then copies the record into the shared
 * VelmoSystem. */
void WriteVelmoSystem(VelmoSystem* source);

/* ---- Info ---------------------------------------------------------------------- */

/* The time stamp, or NaN before an attach. */
double GetTimeLastArchiv(void);
double GetTimeLastDetail(void);
double GetTimeLastTag(void);
double GetTimeLastTrend(void);
/* Stores the time stamp: the stored value, or NaN before an attach. */
double SetTimeLastArchiv(double time);
double SetTimeLastDetail(double time);
double SetTimeLastTag(double time);
double SetTimeLastTrend(double time);

/* Clears the buffer and copies PathArchiv, at most length - 1 characters; 0. */
int GetArchivPath(char* buffer, int length);
/* Clears PathArchiv and copies the text, at most 16384 characters: 0, or -1
 * before an attach. */
int SetArchivPath(const char* text);
/* TagsInternal record 0, or null before an attach. */
TagsInternal* GetTagsInternal(void);
/* Nothing to do; 0. */
int WriteArchivAdd(void);

/* ---- Time zone ------------------------------------------------------------------ */

/* Local Jul time -> UTC Jul time with KWZ_TimeZone. */
double QXTimeToUTC(double localTime);
/* UTC Jul time -> local Jul time with KWZ_TimeZone. */
double QXUTCToTime(double utcTime);

#ifdef __cplusplus
}
#endif

#endif /* QX_TAGACCESS_H */
