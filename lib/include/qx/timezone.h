/*
 * The time-zone table.
 *
 * /home/kwz/MS_TZInfo.ini lists time zones in the keys of the time-zone
 * record (qx/calendar.h) and names a default.  GetTimeZoneInformation loads
 * the table on first use and copies the default zone's rule to the caller.
 *
 *   [Common]            AnzTz=<zones>  DeafultID=<default zone>
 *   [TZ_ID=<n>]         Display= Dlt= Std= Index= DstOffset=
 *                       MS_TZI_Bias= MS_TZI_StandardBias= MS_TZI_DaylightBias=
 *                       MS_TZI_StandardDate_wMonth= ... (every KWZ_ZoneDate field)
 *                       MS_TZI_DaylightDate_wMonth= ...
 *
 * The default zone's key is spelt "DeafultID=", as the files in use write it;
 * "DefaultID=" is not read.
 */
#ifndef QX_TIMEZONE_H
#define QX_TIMEZONE_H

#include <stdint.h>

#include "qx/calendar.h"
#include "qx/records.h"

#ifdef __cplusplus
extern "C" {
#endif

#define QX_TZ_FILE      "/home/kwz/MS_TZInfo.ini"
#define QX_TZ_NAME_SIZE 250   /* each name holds at most 249 characters */

/* One zone of the table. */
typedef struct TZ_ZoneEntry {
    char               Display[QX_TZ_NAME_SIZE];   /* "Display=" */
    char               Dlt[QX_TZ_NAME_SIZE];       /* "Dlt=": daylight name  */
    char               Std[QX_TZ_NAME_SIZE];       /* "Std=": standard name  */
    int32_t            Index;                      /* "Index="     */
    int32_t            DstOffset;                  /* "DstOffset=" */
    KWZ_TimeZoneRecord TimeZone;                   /* the "MS_TZI_" keys */
} TZ_ZoneEntry;

/* Process-wide table: the number of zones, the zone to use and the zones
 * (null until a "Common" section has been read). */
extern int32_t TZ_AnzTz;
extern int32_t TZ_DefaultId;
extern TZ_ZoneEntry* TZ_TZInfo;

/* Fills *zone with the default zone's rule, loading the table first when it
 * is not loaded; leaves *zone unchanged when there is no valid default zone.
 * Returns -1. */
int GetTimeZoneInformation(KWZ_TimeZoneRecord* zone);
/* TZ_ReadKonfi of /home/kwz/MS_TZInfo.ini. */
int KWZInitTimezone(void);
/* Reads a zone table file: 0, or the stat result when it does not exist. */
int TZ_ReadKonfi(const char* file);
/* Takes AnzTz= and DeafultID= from a "Common" section's entries (zero-
 * terminated strings ending with an empty one). */
void TZReadKonfiCommon(const char* entries);
/* Fills the zone named by "TZ_ID=<n>" from the section's entries; a zone
 * outside the table, or no table, counts for nothing. */
void TZReadKonfiTZ_ID(const char* section, const char* entries);

QX_CHECK_SIZE(TZ_ZoneEntry, 932);
QX_CHECK_FIELD(TZ_ZoneEntry, Display, 0);
QX_CHECK_FIELD(TZ_ZoneEntry, Dlt, 250);
QX_CHECK_FIELD(TZ_ZoneEntry, Std, 500);
QX_CHECK_FIELD(TZ_ZoneEntry, Index, 752);
QX_CHECK_FIELD(TZ_ZoneEntry, DstOffset, 756);
QX_CHECK_FIELD(TZ_ZoneEntry, TimeZone, 760);

#ifdef __cplusplus
}
#endif

#endif /* QX_TIMEZONE_H */
