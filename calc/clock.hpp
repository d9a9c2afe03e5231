// The time sources of the formulas: seconds since boot (timers), the system
// clock (epoch seconds) and the local time of day of the operating system.
// Formulas read time only through these functions, so tests can replace the
// sources and run timing formulas deterministically.
#pragma once

#include <ctime>

namespace calc {

struct ClockSource {
    long (*uptime_seconds)();   // seconds since the system started
    std::time_t (*epoch_now)(); // the system clock
};

// The sources in use; tests assign their own and restore the default.
ClockSource& clock_source();
ClockSource DefaultClockSource();

// Seconds since boot (the system's sysinfo uptime).
long Uptime();
// Epoch seconds of the system clock.
std::time_t EpochNow();
// Local time of day of the operating system's zone (localtime, not the
// time-zone record), hour * 3600 + minute * 60 + second.
int LocalSecondOfDay();

}  // namespace calc
