#include "clock.hpp"

#include <sys/sysinfo.h>

namespace calc {
namespace {

long SystemUptime() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return 0;
    return info.uptime;
}

std::time_t SystemNow() { return std::time(nullptr); }

}  // namespace

ClockSource DefaultClockSource() { return ClockSource{SystemUptime, SystemNow}; }

ClockSource& clock_source() {
    static ClockSource source = DefaultClockSource();
    return source;
}

long Uptime() { return clock_source().uptime_seconds(); }

std::time_t EpochNow() { return clock_source().epoch_now(); }

int LocalSecondOfDay() {
    const std::time_t now = EpochNow();
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

}  // namespace calc
