// The type code table: names for display (the byte-order widths are in types.h).
#include "protocol/types.h"

#include "protocol/db.h"

namespace {

inline constexpr int type_code_count = 46;

const char* const type_names[type_code_count] = {
    "EMPTY",
    "NULL",
    "BOOLEAN",
    "TINYINT",
    "SMALLINT",
    "INTEGER",
    "BIGINT",
    "NUMERIC",
    "FLOAT",
    "DOUBLE",
    "DATE",
    "TIME",
    "TIME WITH TIME ZONE",
    "DATETIME",
    "DATETIME WITH TIME ZONE",
    "INTERVAL_Y",
    "INTERVAL_Y2M",
    "INTERVAL_M",
    "INTERVAL_D",
    "INTERVAL_D2H",
    "INTERVAL_H",
    "INTERVAL_D2M",
    "INTERVAL_H2M",
    "INTERVAL_MI",
    "INTERVAL_D2S",
    "INTERVAL_H2S",
    "INTERVAL_M2S",
    "INTERVAL_S",
    "ROWVERSION",
    "GUID",
    "CHAR",
    "",
    "CLOB",
    "BINARY",
    "BLOB",
    "",
    "POINT",
    "BOX",
    "POLYLINE",
    "POLYGON",
    "",
    "",
    "",
    "",
    "STREM",
    "ROWID",
};

}  // namespace

const char* db_type_name(int code) {
    if (code < 0 || code >= type_code_count) return "";
    return type_names[code];
}
