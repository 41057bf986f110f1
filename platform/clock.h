// Time and the clock: a steady clock for elapsed times, the wall clock, the local time of day.
//
// The test clock: every reading below is the system's clock moved forward by the milliseconds
// that the file named by the environment variable NORV_TEST_CLOCK_FILE holds (in decimal; a
// missing, empty or unreadable file moves nothing). The variable is read once, at the first
// reading of a clock; the file at every reading. Only the end-to-end test harness sets it, so
// that a test of the server's idle limit moves the console's clocks past it at once instead of
// sleeping until it has passed. Without the variable the clocks are the system's own.
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
