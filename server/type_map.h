// Declared column types of norvlite's tables and the type codes the client sees. Every code from
// 0 to 45 has a declared name, so a table can hold and list a value of any code:
//
//   code  declared name(s)                              type_mod
//   0     EMPTY                                         -1
//   1     NULLTYPE                                      -1
//   2     BOOLEAN, BOOL                                 -1
//   3     TINYINT                                       -1
//   4     SMALLINT                                      -1
//   5     INTEGER, INT                                  -1
//   6     BIGINT                                        -1
//   7     NUMERIC(p,s), DECIMAL(p,s), NUMERIC(p), ...   (p << 16) | s; -1 without (p[,s])
//   8     FLOAT, REAL                                   -1
//   9     DOUBLE, DOUBLE PRECISION                      -1
//   10    DATE                                          -1
//   11    TIME                                          -1
//   12    TIME WITH TIME ZONE                           -1
//   13    DATETIME, TIMESTAMP                           -1
//   14    DATETIME WITH TIME ZONE, TIMESTAMP WITH TIME ZONE
//   15-27 INTERVAL_Y, INTERVAL_Y2M, INTERVAL_M, INTERVAL_D, INTERVAL_D2H, INTERVAL_H,
//         INTERVAL_D2M, INTERVAL_H2M, INTERVAL_MI, INTERVAL_D2S, INTERVAL_H2S, INTERVAL_M2S,
//         INTERVAL_S
//   28    ROWVERSION                                    -1
//   29    GUID                                          -1
//   30    CHAR(n), VARCHAR(n), CHARACTER(n), TEXT       n; -1 without (n)
//   31    NCHAR(n), NVARCHAR(n)                         n; -1 without (n)
//   32    CLOB          33 BINARY, VARBINARY            34 BLOB
//   35    GEOMETRY      36 POINT     37 BOX     38 POLYLINE     39 POLYGON
//   40-43 TYPE40, TYPE41, TYPE42, TYPE43
//   44    STREM         45 ROWID
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
    int code = srv_type_by_storage;  // 0..45, or srv_type_by_storage
    int32_t type_mod = -1;           // see the table above
};

// The type of a column declared as decl (as SQLite reports the declaration, e.g.
// "varchar(20)", "NUMERIC(10, 2)", "time with time zone"). Pure; any thread.
srv_col_type srv_map_declared_type(std::string_view decl);

// The code for a value of SQLite storage class storage (SQLITE_INTEGER ... SQLITE_NULL).
int srv_storage_class_code(int storage);
