// The console's type table: for every type code its display name, the width of its values, the
// conversion of received values to host order, how the listing and the export file show them and
// what type_mod adds to the name. Made from protocol/type_codes.def; looked up by code on every
// value received and rendered, so it is a constant array indexed by code.
#pragma once

#include <cstdint>

#include "protocol/type_codes.h"

// How a received value is turned from big-endian into host order, in place (db_convert_value).
enum class db_byte_order : uint8_t {
    as_is,    // single bytes, texts, opaque bytes, and geometry (four doubles left as sent)
    be16,     // one 16-bit field
    be32,     // one 32-bit field
    be64,     // one 64-bit field
    be32_16,  // a 32-bit field, then a 16-bit one (time, then zone offset)
    be64_16,  // a 64-bit field, then a 16-bit one (date and time, then zone offset)
    be64x2,   // two 64-bit fields (two doubles)
    be64x4,   // four 64-bit fields (four doubles)
};

// How the listing shows a value (render_value).
enum class db_show : uint8_t {
    hex,          // "<HEX> " of its bytes, "<NULL> " when it has none
    null_marker,  // "<NULL> " whatever it holds, left out of the spool copy
    boolean,      // its byte as a character
    integer,      // signed integer of the row's width
    bigint,       // signed 64-bit integer; the spool copy loses the trailing blank
    text,         // the characters as received
    float4,       // 32-bit IEEE, infinities as words
    float8,       // 64-bit IEEE
    date,         // day count, in the date format setting
    time,         // milliseconds of the day
    time_tz,      // milliseconds of the day, then zone offset
    datetime,     // milliseconds since 1970, in the date format setting
    datetime_tz,  // microseconds since 1970, then zone offset
    interval,     // one of the interval forms, by code
    guid,         // "<text> "
    binary,       // "<BINARY> " always
    blob,         // "<BLOB> " always
    geometry,     // G(...) of four doubles
    point,        // P(...) of two doubles
    box,          // B(...) of four doubles
};

// How the export file writes a value (render_export_value).
enum class db_export : uint8_t {
    hex,       // "<HEX>|"
    boolean,   // its byte as a character
    integer,   // signed integer of the row's width
    text,      // the characters as received
    text_lf,   // the characters, each line feed as "^%"
    float4,    // "%e" of the 32-bit value
    float8,    // "%e" of the 64-bit value
    date,      // fixed year-month-day and era
    time,      // milliseconds of the day
    datetime,  // fixed year-month-day, time of day and era
    interval,  // one of the interval forms, by code
    clob,      // "<CLOB>|" always
    binary,    // "<BINARY>|" always
    blob,      // "<BLOB>|" always
    geometry,  // G(...) of four doubles
    point,     // P(...) of two doubles
    box,       // B(...) of four doubles
};

// What a column's type_mod adds to its type name in headings and in DESC.
enum class db_mod_form : uint8_t {
    none,     // nothing
    numeric,  // "(precision,scale)" from its upper and lower 16 bits, unless it is -1
    length,   // "(length)", whatever it holds
};

struct db_type_row {
    const char* display;  // display name, "" for none; static
    uint8_t width;        // bytes a value needs to be read as its type; 0 for texts and bytes
    db_byte_order order;  // conversion of received values
    db_show show;         // listing form
    db_export exported;   // export form
    db_mod_form mod;      // type_mod in the type name
    int code;             // the row's code, checked against its place below
};

inline constexpr db_type_row db_type_rows[] = {
#define NORV_TYPE(name, code, display, width, order, show, exported, mod)               \
    {display,          width, db_byte_order::order, db_show::show, db_export::exported, \
     db_mod_form::mod, code},
#include "protocol/type_codes.def"
#undef NORV_TYPE
};

// A code outside the table: no name, no conversion, its bytes in hexadecimal.
inline constexpr db_type_row db_type_unknown = {
    "", 0, db_byte_order::as_is, db_show::hex, db_export::hex, db_mod_form::none, -1};

namespace type_detail {
constexpr bool rows_follow_their_codes() {
    for (int code = 0; code < db_type_code_count; ++code) {
        if (db_type_rows[code].code != code) return false;
    }
    return true;
}
}  // namespace type_detail

static_assert(sizeof db_type_rows / sizeof db_type_rows[0] == db_type_code_count);
static_assert(type_detail::rows_follow_their_codes(), "type_codes.def: rows in code order");

// The row of a type code; db_type_unknown for a code outside the table. Any thread.
inline const db_type_row& db_type_of(int code) {
    return static_cast<unsigned>(code) < static_cast<unsigned>(db_type_code_count)
               ? db_type_rows[code]
               : db_type_unknown;
}
