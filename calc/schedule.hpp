// Which of the core's four steps are due in a scheduler pass.  Every step
// runs in the UTC epoch second that is a multiple of its period, once per
// period however many passes fall into that second.
#pragma once

#include <cstdint>

namespace calc {

struct StepPeriods {
    int32_t takt;        // cycle
    int32_t inter;       // archive interval
    int32_t stoer_takt;  // detail; 0 = no detail step
};

// The numbers of the periods whose steps last ran; all 0 at start.
struct ScheduleState {
    int64_t last_cycle = 0;
    int64_t last_minute = 0;
    int64_t last_detail = 0;
    int64_t last_interval = 0;
};

struct DueSteps {
    bool cycle = false;
    bool trend = false;
    bool detail = false;
    bool archive = false;
    // An archive step that does not follow the previous one directly: the
    // intervals between were missed.
    bool archive_gap = false;
    int64_t gap_last = 0;     // number of the previous interval
    int64_t gap_current = 0;  // number of this interval
    int64_t gap_missing = 0;  // intervals missed in between
};

// Period number and remainder of epoch second t; a period of 0 gives number 0
// and remainder t (never due); a negative period acts like its absolute value.
struct PeriodPosition {
    int64_t number;
    int64_t remainder;
};
PeriodPosition PositionIn(int64_t t, int64_t period);

// The steps due at epoch second t; records them in state.
DueSteps DecideDueSteps(int64_t t, const StepPeriods& periods, ScheduleState& state);

}  // namespace calc

#include "qx/records.h"

namespace calc {

// UTC second of the day of an epoch second.
int32_t SecondOfDay(int64_t t);

// Interval means at an interval boundary: Mittel = Summe / Anz (Ist when
// nothing was summed), sums cleared; functions 50-55 keep their own.
void FormIntervalMeans(VelmoSystem* sys, Tags* tags);

// Runs the due steps of one pass in their fixed order: cycle, trend, detail,
// archive (interval means, archive, daily values).  t is the pass's epoch
// second, now the same time in UTC days.
void RunDueSteps(const DueSteps& due, int64_t t, double now, VelmoSystem* sys, Tags* tags, Rohwerte* roh,
                 int32_t* alarmCount, int32_t* alarmList);

}  // namespace calc
