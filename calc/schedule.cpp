#include "schedule.hpp"

namespace calc {

PeriodPosition PositionIn(int64_t t, int64_t period) {
    if (period == 0) return {0, t};
    const int64_t number = t / period;
    return {number, t - number * period};
}

namespace {

// Due when the second starts a period whose number has not run yet.
bool Take(int64_t t, int64_t period, int64_t& last) {
    const PeriodPosition p = PositionIn(t, period);
    if (p.remainder != 0 || p.number == last) return false;
    last = p.number;
    return true;
}

}  // namespace

DueSteps DecideDueSteps(int64_t t, const StepPeriods& periods, ScheduleState& state) {
    DueSteps due;
    due.cycle = Take(t, periods.takt, state.last_cycle);
    due.trend = Take(t, 60, state.last_minute);
    due.detail = periods.stoer_takt != 0 && Take(t, periods.stoer_takt, state.last_detail);

    const int64_t previous = state.last_interval;
    due.archive = Take(t, periods.inter, state.last_interval);
    if (due.archive && previous != 0 && state.last_interval != previous + 1) {
        due.archive_gap = true;
        due.gap_last = previous;
        due.gap_current = state.last_interval;
        due.gap_missing = state.last_interval - previous - 1;
    }
    return due;
}

}  // namespace calc
