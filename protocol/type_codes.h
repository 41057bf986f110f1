// The data type codes of the wire protocol by name, one constant per row of
// protocol/type_codes.def: db_type_ and the row's name (db_type_integer is 5, db_type_char 30).
// Standalone, so that norvlite can name the codes it serves without taking any of the console's
// value handling.
#pragma once

enum db_type_code : int {
#define NORV_TYPE(name, code, display, width, order, show, exported, mod) db_type_##name = code,
#include "protocol/type_codes.def"
#undef NORV_TYPE
};

// Codes run from 0 to db_type_code_count - 1.
inline constexpr int db_type_code_count = 0
#define NORV_TYPE(name, code, display, width, order, show, exported, mod) +1
#include "protocol/type_codes.def"
#undef NORV_TYPE
    ;
