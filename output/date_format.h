// The date display format of SET DATE_FORMAT: the record the value renderer reads (render.h)
// and the console's one setting of it, which the listing passes on.
#pragma once

#include <cstdint>

inline constexpr int datef_text_size = 100;

// The date display format (SET DATE_FORMAT): the position (1, 2 or 3) of year, month and day in
// the displayed date, 0 while unset, and the texts printed after the first, second and third
// field. While the positions are not a permutation of 1, 2, 3 the default form is used.
struct datef_t {
    int32_t year_pos;
    int32_t month_pos;
    int32_t day_pos;
    char datef_p1[datef_text_size];
    char datef_p2[datef_text_size];
    char datef_p3[datef_text_size];
};

// The console's date format: unset (all zero) at start-up, written by SET DATE_FORMAT, read by
// the console's listing. Console thread only.
inline datef_t g_datef{};
