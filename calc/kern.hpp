// The steps of the computing core under their system names: the cycle, the
// substitute-value check, the minute trend and the archive steps.  They work
// on the tables handed to them, so they run as well on tables in memory as on
// the shared tag database.
#pragma once

#include <cstdint>

#include "qx/records.h"

// One cycle over all tags.  secOfDay is the cycle's UTC second of the day and
// now its UTC time in days; the alarm list has room for n_tag entries.
void VelmoTakt(int32_t secOfDay, VelmoSystem* sys, Tags* tags, Rohwerte* roh, int32_t* alarmCount,
               int32_t* alarmList, double now);

// The substitute-value check of a tag: 0 nothing done, 1 switched off,
// 2 replaced because of a fault, 255 unknown kind.
int32_t VelmoErsatzwerte(int32_t kind, uint32_t* status, Tags* tag);

// Minute trend of the current hour, and its clearing at start.
void VelmoTrend(int32_t secOfDay, VelmoSystem* sys, Tags* tags, Rohwerte* roh);
void DelVelmoTrend(VelmoSystem* sys);

// The interval archive, the detail archive, the daily values and the
// (empty) interval hook.  now is the step's UTC time in days.
void VelmoArchiv(int32_t secOfDay, VelmoSystem* sys, Tags* tags, Rohwerte* roh, double now);
void VelmoDetail(VelmoSystem* sys, Tags* tags, Rohwerte* roh, double now);
void VelmoTagesWerte(VelmoSystem* sys, Tags* tags, Rohwerte* roh, double now);
void VelmoIntervall();

namespace calc {

// Epoch second of a UTC time in days (days since 1899-12-30).
uint32_t EpochSecondOf(double utc_days);

// Forgets when the archive steps last logged success (as at program start).
void ResetArchiveLogPacing();

// Number of tags the daily step selects (it keeps nothing).
int CountDailyValues(const VelmoSystem* sys, const Tags* tags);

}  // namespace calc
