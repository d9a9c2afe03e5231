// The two small time helpers of the measuring schedule.
#pragma once

// The whole days of a (toward zero) plus the fraction of b (with b's sign):
// time of day b placed on the day of a.
double TimeValue(double a, double b);

// qsort comparison of two doubles: -1, 1, or 0 (also whenever one is NaN).
int CompareZeiten(const void* first, const void* second);
