// Time and the clock: a steady clock for elapsed times, the wall clock, the local time of day.
#pragma once

#include <cstdint>

// Milliseconds from a steady clock, for elapsed-time reports.
int64_t plat_clock_ms();

// Wall-clock time in whole seconds since 1970.
int64_t plat_time_seconds();

// The local time of day of the wall clock now.
struct plat_time_of_day {
    int hour = 0, minute = 0, second = 0;
};
plat_time_of_day plat_local_time_of_day();
