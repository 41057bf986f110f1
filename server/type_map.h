// Declared column types of norvlite's tables and the type codes the client sees (the named codes
// of protocol/type_codes.h). Every code has at least one declared name, so a table can hold and
// list a value of any code; the names, with their type_mod, are the table in type_map.cpp and
// the list in docs/norvlite.md ("Types"). NUMERIC(p,s) gives type_mod (p << 16) | s, CHAR(n)
// and NCHAR(n) give n; every other type, and these without arguments, give -1.
//
// Names compare without regard to case or spacing. A name outside the table follows SQLite's
// affinity: containing INT gives BIGINT, CHAR/CLOB/TEXT gives CHAR, BLOB gives BLOB,
// REAL/FLOA/DOUB gives DOUBLE; anything else (and no declared type at all) is typed by the
// storage class of the first row: INTEGER -> BIGINT, REAL -> DOUBLE, TEXT -> CHAR, BLOB -> BLOB,
// NULL (or no row) -> CHAR.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int srv_type_by_storage = -1;  // code not known until a row is seen

struct srv_col_type {
    int code = srv_type_by_storage;  // a db_type_code, or srv_type_by_storage
    int32_t type_mod = -1;           // see the table above
};

// The type of a column declared as decl (as SQLite reports the declaration, e.g.
// "varchar(20)", "NUMERIC(10, 2)", "time with time zone"). Pure; any thread.
srv_col_type srv_map_declared_type(std::string_view decl);

// The code for a value of SQLite storage class storage (SQLITE_INTEGER ... SQLITE_NULL).
int srv_storage_class_code(int storage);
