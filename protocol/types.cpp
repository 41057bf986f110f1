// The type code table: names for display, and the widths by which a received value is turned
// from network order into host order.
#include "protocol/types.h"

#include <cstring>

#include "protocol/db.h"

namespace {

inline constexpr int type_code_count = 46;

const char* const type_names[type_code_count] = {
    "EMPTY",        "NULL",         "BOOLEAN",      "TINYINT",
    "SMALLINT",     "INTEGER",      "BIGINT",       "NUMERIC",
    "FLOAT",        "DOUBLE",       "DATE",         "TIME",
    "TIME WITH TIME ZONE",          "DATETIME",     "DATETIME WITH TIME ZONE",
    "INTERVAL_Y",   "INTERVAL_Y2M", "INTERVAL_M",   "INTERVAL_D",
    "INTERVAL_D2H", "INTERVAL_H",   "INTERVAL_D2M", "INTERVAL_H2M",
    "INTERVAL_MI",  "INTERVAL_D2S", "INTERVAL_H2S", "INTERVAL_M2S",
    "INTERVAL_S",   "ROWVERSION",   "GUID",         "CHAR",
    "",             "CLOB",         "BINARY",       "BLOB",
    "",             "POINT",        "BOX",          "POLYLINE",
    "POLYGON",      "",             "",             "",
    "",             "STREM",        "ROWID",
};

void swap_field(char* p, int width) {
    if (width == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        v = __builtin_bswap16(v);
        std::memcpy(p, &v, 2);
    } else if (width == 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        v = __builtin_bswap32(v);
        std::memcpy(p, &v, 4);
    } else {
        uint64_t v;
        std::memcpy(&v, p, 8);
        v = __builtin_bswap64(v);
        std::memcpy(p, &v, 8);
    }
}

// Converts consecutive fields of the given widths while the value holds them.
void swap_fields(char* data, int32_t length, const int* widths, int count) {
    int32_t at = 0;
    for (int i = 0; i < count && at + widths[i] <= length; ++i) {
        swap_field(data + at, widths[i]);
        at += widths[i];
    }
}

}  // namespace

const char* db_type_name(int code) {
    if (code < 0 || code >= type_code_count) return "";
    return type_names[code];
}

void db_convert_value(int32_t type, char* data, int32_t length) {
    if (length <= 0 || __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) return;
    static constexpr int w2[] = {2};
    static constexpr int w4[] = {4};
    static constexpr int w8[] = {8};
    static constexpr int time_tz[] = {4, 2};
    static constexpr int datetime_tz[] = {8, 2};
    static constexpr int point[] = {8, 8};
    static constexpr int box[] = {8, 8, 8, 8};
    switch (type) {
        case 4: swap_fields(data, length, w2, 1); break;
        case 5: case 8: case 10: case 11:
        case 15: case 16: case 17: case 18: case 19: case 20: case 21: case 22: case 23:
            swap_fields(data, length, w4, 1);
            break;
        case 6: case 9: case 13: case 24: case 25: case 26: case 27:
            swap_fields(data, length, w8, 1);
            break;
        case 12: swap_fields(data, length, time_tz, 2); break;
        case 14: swap_fields(data, length, datetime_tz, 2); break;
        case 36: swap_fields(data, length, point, 2); break;
        case 37: swap_fields(data, length, box, 4); break;
        default: break;  // single bytes, texts and opaque values travel as they are
    }
}
