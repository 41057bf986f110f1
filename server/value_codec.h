// Values of norvlite's columns: the literal texts understood for each type, and the conversion of
// whatever SQLite holds into the wire form of the column's type code.
//
// SQLite keeps a value as it was inserted. For each family the forms understood when sending:
//   BOOLEAN (2)      integer or real (0 = false), or text true/false, t/f, yes/no, y/n, on/off,
//                    1/0 in any case. Sent as the one character 'T' or 'F'.
//   TINYINT..BIGINT  integer; real (truncated); text of an integer or a decimal number. Sent in
//   (3-6)            1, 2, 4 or 8 bytes; a value beyond the width is clamped to its range.
//   NUMERIC (7)      integer, real, or decimal text "[+-]digits[.digits]" (an exponent is
//                    read through a double). Sent as decimal text with exactly the declared
//                    scale, rounded half away from zero; without a declared scale as given.
//   FLOAT, DOUBLE    integer, real or numeric text; sent as IEEE single / double.
//   DATE (10)        integer days since 1970-01-01, or text 'YYYY-MM-DD' (the year may carry a
//                    sign and has 1 to 5 digits; year 0 is 1 BC; a time after the date is
//                    ignored). Sent as int32 days.
//   TIME (11)        integer milliseconds of the day, or text 'HH:MM[:SS[.fff]]'. int32 ms.
//   TIME WITH TIME   integer = milliseconds of the day in UTC with offset 0, or text
//   ZONE (12)        'HH:MM[:SS[.fff]][+hh:mm|-hh:mm|Z]' read as local time at that offset.
//                    Sent as int32 UTC milliseconds of the day, then int16 offset minutes.
//   DATETIME (13)    integer milliseconds since 1970-01-01 00:00, or text
//                    'YYYY-MM-DD[ HH:MM[:SS[.fff]]]' ('T' may stand for the blank). int64 ms.
//   DATETIME WITH    integer = microseconds since 1970 UTC with offset 0, or the DATETIME text
//   TIME ZONE (14)   with up to six fraction digits and an optional offset as for TIME WITH
//                    TIME ZONE. Sent as int64 UTC microseconds, then int16 offset minutes.
//   INTERVAL_* (15-27) integers (or integer text) in the unit of the wire form: years (15),
//                    months (16, 17), days (18), hours (19, 20), minutes (21-23) as int32;
//                    microseconds (24-27) as int64. Clamped to the width.
//   GUID (29)        text as stored; a 16-byte blob is sent as 8-4-4-4-12 lower-case hex.
//   CHAR, code 31,   text as stored; numbers as SQLite writes them.
//   CLOB, ROWID
//   BINARY, BLOB     the bytes as stored (text: its bytes).
//   GEOMETRY (35)    text of four numbers 'a,b,c,d' (parentheses and blanks ignored) or a
//                    32-byte blob. Sent as four doubles little-endian, not byte-swapped.
//   POINT (36)       text '(x,y)' or 'x,y', or a 16-byte blob in wire form. Two doubles.
//   BOX (37)         text of four numbers, e.g. '(1,2),(3,4)', or a 32-byte blob. Four doubles.
//   0, 1, 28, 38-44  the bytes as stored; an integer as 8 bytes, a real as its 8 IEEE bytes,
//                    both big-endian.
// SQL NULL is sent as length 0 whatever the type. A value that cannot be read in its column's
// type (text 'abc' in a DATE column) is sent as NULL too, never as an invented value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/wire.h"

struct sqlite3_stmt;

// Pure literal readers; each accepts surrounding blanks and returns false on anything else.
bool srv_parse_date(std::string_view text, int32_t& days);
bool srv_parse_time(std::string_view text, int32_t& ms);
bool srv_parse_time_tz(std::string_view text, int32_t& utc_ms, int16_t& offset_min);
bool srv_parse_datetime(std::string_view text, int64_t& ms);
bool srv_parse_datetime_tz(std::string_view text, int64_t& utc_us, int16_t& offset_min);
bool srv_parse_bool(std::string_view text, bool& value);
// count numbers separated by commas; parentheses, brackets and blanks are ignored.
bool srv_parse_doubles(std::string_view text, double* out, int count);
// Decimal text "[+-]digits[.digits]" rewritten with exactly scale fraction digits (rounded half
// away from zero), or, with scale -1, with redundant signs and leading zeros dropped. No
// exponents. out is replaced.
bool srv_decimal_text(std::string_view text, int scale, std::string& out);

// Writes the current row's column col of st as one value of a row message: int32 length and
// the bytes in the wire form of code (type_mod supplies NUMERIC's scale). scratch is reused
// between calls so that a value costs no allocation. Connection thread.
void srv_put_value(srv_writer& w, int code, int32_t type_mod, sqlite3_stmt* st, int col,
                   std::string& scratch);
