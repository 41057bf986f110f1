// The console's road to the server for ordinary statements: idle tracking, execution, outcome.
#pragma once

#include <cstdint>

// max_idle_time when the server does not say: no idle limit.
inline constexpr int32_t no_idle_limit = INT32_MAX;

// Reads the server's idle limit ("show max_idle_time") into max_idle_time and starts the idle
// clock (last_activity = now). Runs after every successful start-up connection. When the server
// sends no usable row, there is no idle limit.
void idle_tracking_start();
