// Helpers for the formula family tests: one evaluation of a formula tag the
// way the cycle does it, and a clock the tests set by hand.
#pragma once

#include <cstdlib>
#include <ctime>

#include "calc_tables.hpp"
#include "clock.hpp"
#include "formula_engine.hpp"

namespace calc_test {

struct Outcome {
    double value;
    uint32_t status;
};

// Stale input values an Fkt 6 tag is handed (the inputs of an earlier tag);
// a formula that reads its own references must not depend on them.
inline constexpr double kStaleInput = 4711.0;

// Evaluates tag i as the cycle does: Fkt 60 fills the inputs from Zeiger and
// uses Hint[9], Fkt 6 passes stale inputs and uses Hint[7]; the returned pair
// becomes the tag's Ist and Status.
inline Outcome Evaluate(Tables& db, int i, int32_t sec_of_day = 1) {
    Tags& t = db[i];
    double inputs[calc::kFormulaInputs];
    int number = t.Hint[7];
    if (t.Fkt == 60) {
        calc::FillFormulaInputs(&db.sys, db.tags.data(), t, inputs);
        number = t.Hint[9];
    } else {
        for (double& in : inputs) in = kStaleInput;
    }
    uint32_t status = 0;
    const double value =
        VelmoFormel(i, number, sec_of_day, inputs, t.Hdouble, &status, &db.sys, db.tags.data(), db.roh.data());
    t.Ist = value;
    t.Status = status;
    return {value, status};
}

// A formula tag: Fkt 60 with the number in Hint[9], or Fkt 6 with it in Hint[7].
inline Tags& FormulaTag(Tables& db, int i, int number, int fkt = 60) {
    Tags& t = db.Configure(i, fkt);
    if (fkt == 60) t.Hint[9] = number;
    else t.Hint[7] = number;
    return t;
}

// Seconds since boot and the system clock as the test sets them; the local
// zone is UTC, so the local time of day is the epoch second of the day.
class ManualClock {
public:
    ManualClock() {
        setenv("TZ", "UTC0", 1);
        tzset();
        Uptime() = 1000;
        Epoch() = kDayEpoch;
        calc::clock_source() = calc::ClockSource{[] { return Uptime(); }, [] { return Epoch(); }};
    }
    ~ManualClock() { calc::clock_source() = calc::DefaultClockSource(); }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    static long& Uptime() {
        static long value = 0;
        return value;
    }
    static std::time_t& Epoch() {
        static std::time_t value = 0;
        return value;
    }
    // Sets the local time of day (on 2024-01-01).
    void SetTimeOfDay(int hour, int minute, int second) {
        Epoch() = kDayEpoch + hour * 3600 + minute * 60 + second;
    }
    void Advance(long seconds) {
        Uptime() += seconds;
        Epoch() += seconds;
    }
};

}  // namespace calc_test
