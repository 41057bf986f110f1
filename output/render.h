// Value rendering: the text of one column value by its type code, for the console listing (and
// its spool copy) and for the export file. Pure functions: settings come in as parameters, text
// is appended to the caller's buffers (no allocation per value once they have grown).
#pragma once

#include <cstdint>
#include <string>

#include "state/console_state.h"

// A calendar date of the proleptic Gregorian calendar with astronomical years (0 = 1 BC).
struct date_parts {
    int32_t year;
    uint8_t month;      // 1-12
    uint8_t day;        // 1-31
    uint8_t weekday;    // 0 = Sunday
    int32_t ms_of_day;  // 0-86399999
};

// Converts signed milliseconds since 1970-01-01 00:00 to a date. Total: any value gives a valid
// date (values beyond the calendar's reach are clamped to its ends).
date_parts ms_to_date(int64_t ms);

// Appends the upper-case hexadecimal digits of the first 200 bytes (at most) of a value.
void hex_text(const char* data, int len, std::string& out);

struct render_settings {
    const char* null_text;  // text shown for NULL
    const datef_t* datef;   // date display format
};

// Appends the console text of one value (type code, bytes in host order as decoded, length) to
// console, and, when spool is not null, the spool text to spool.
void render_value(int type, const char* data, int len, const render_settings& s,
                  std::string& console, std::string* spool);

// Appends the export-file field of one value, its '|' included.
void render_export_value(int type, const char* data, int len, std::string& out);
