// The daylight rule the calendar tests and benchmark work with: Bias -60,
// daylight time (bias -60) from the last Sunday of March 02:00 to the last
// Sunday of October 03:00, as in Central Europe.
#pragma once

#include "qx.h"

namespace qx_test {

inline KWZ_TimeZoneRecord ExampleZone() {
    KWZ_TimeZoneRecord zone{};
    zone.Bias = -60;
    zone.DaylightBias = -60;
    zone.StandardBias = 0;
    zone.DaylightDate.wMonth = 3;
    zone.DaylightDate.wDayOfWeek = 0;
    zone.DaylightDate.wDay = 5;
    zone.DaylightDate.wHour = 2;
    zone.StandardDate.wMonth = 10;
    zone.StandardDate.wDayOfWeek = 0;
    zone.StandardDate.wDay = 5;
    zone.StandardDate.wHour = 3;
    return zone;
}

}  // namespace qx_test
