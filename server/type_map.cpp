// Maps a declared column type to a type code and type_mod: the name is normalised (upper case,
// single spaces), split from its "(a[,b])" arguments, and looked up in one table.
#include "server/type_map.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdint>
#include <string>

#include "protocol/type_codes.h"

namespace {

struct type_name {
    std::string_view name;
    int code;
};

constexpr type_name type_names[] = {
    {"EMPTY", db_type_empty},
    {"NULLTYPE", db_type_null},
    {"BOOLEAN", db_type_boolean},
    {"BOOL", db_type_boolean},
    {"TINYINT", db_type_tinyint},
    {"SMALLINT", db_type_smallint},
    {"INTEGER", db_type_integer},
    {"INT", db_type_integer},
    {"BIGINT", db_type_bigint},
    {"NUMERIC", db_type_numeric},
    {"DECIMAL", db_type_numeric},
    {"FLOAT", db_type_float},
    {"REAL", db_type_float},
    {"DOUBLE", db_type_double},
    {"DOUBLE PRECISION", db_type_double},
    {"DATE", db_type_date},
    {"TIME", db_type_time},
    {"TIME WITH TIME ZONE", db_type_time_tz},
    {"DATETIME", db_type_datetime},
    {"TIMESTAMP", db_type_datetime},
    {"DATETIME WITH TIME ZONE", db_type_datetime_tz},
    {"TIMESTAMP WITH TIME ZONE", db_type_datetime_tz},
    {"INTERVAL_Y", db_type_interval_y},
    {"INTERVAL_Y2M", db_type_interval_y2m},
    {"INTERVAL_M", db_type_interval_m},
    {"INTERVAL_D", db_type_interval_d},
    {"INTERVAL_D2H", db_type_interval_d2h},
    {"INTERVAL_H", db_type_interval_h},
    {"INTERVAL_D2M", db_type_interval_d2m},
    {"INTERVAL_H2M", db_type_interval_h2m},
    {"INTERVAL_MI", db_type_interval_mi},
    {"INTERVAL_D2S", db_type_interval_d2s},
    {"INTERVAL_H2S", db_type_interval_h2s},
    {"INTERVAL_M2S", db_type_interval_m2s},
    {"INTERVAL_S", db_type_interval_s},
    {"ROWVERSION", db_type_rowversion},
    {"GUID", db_type_guid},
    {"CHAR", db_type_char},
    {"VARCHAR", db_type_char},
    {"CHARACTER", db_type_char},
    {"TEXT", db_type_char},
    {"NCHAR", db_type_nchar},
    {"NVARCHAR", db_type_nchar},
    {"CLOB", db_type_clob},
    {"BINARY", db_type_binary},
    {"VARBINARY", db_type_binary},
    {"BLOB", db_type_blob},
    {"GEOMETRY", db_type_geometry},
    {"POINT", db_type_point},
    {"BOX", db_type_box},
    {"POLYLINE", db_type_polyline},
    {"POLYGON", db_type_polygon},
    {"TYPE40", db_type_40},
    {"TYPE41", db_type_41},
    {"TYPE42", db_type_42},
    {"TYPE43", db_type_43},
    {"STREM", db_type_strem},
    {"ROWID", db_type_rowid},
};

constexpr int32_t max_precision = 32767;  // (p << 16) stays a positive int32
constexpr int32_t max_scale = 65535;

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
bool space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Appends text upper-cased, each run of blanks as one space.
void append_words(std::string& name, std::string_view text) {
    for (char c : text) {
        if (!space(c)) {
            name += upper(c);
        } else if (!name.empty() && name.back() != ' ') {
            name += ' ';
        }
    }
}

// The upper-cased name with single spaces and, when present, the text between the parentheses.
// Words after the arguments ("TIME(3) WITH TIME ZONE") still belong to the name.
void split(std::string_view decl, std::string& name, std::string_view& args, bool& has_args) {
    name.clear();
    has_args = false;
    size_t open = decl.find('(');
    size_t close = open == std::string_view::npos ? open : decl.find(')', open);
    if (close == std::string_view::npos) {
        append_words(name, decl);
    } else {
        args = decl.substr(open + 1, close - open - 1);
        has_args = true;
        append_words(name, decl.substr(0, open));
        if (!name.empty() && name.back() != ' ') name += ' ';
        append_words(name, decl.substr(close + 1));
    }
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
}

// One non-negative integer argument, surrounding blanks allowed.
bool number(std::string_view text, int32_t max, int32_t& out) {
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    int32_t v = -1;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v < 0 || v > max) return false;
    out = v;
    return true;
}

int32_t numeric_mod(std::string_view args) {
    size_t comma = args.find(',');
    int32_t p = 0, s = 0;
    if (!number(args.substr(0, comma), max_precision, p)) return -1;
    if (comma != std::string_view::npos && !number(args.substr(comma + 1), max_scale, s)) {
        return -1;
    }
    return (p << 16) | s;
}

int affinity_code(const std::string& name) {
    auto has = [&](std::string_view part) { return name.find(part) != std::string::npos; };
    if (has("INT")) return db_type_bigint;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return db_type_char;
    if (has("BLOB")) return db_type_blob;
    if (has("REAL") || has("FLOA") || has("DOUB")) return db_type_double;
    return srv_type_by_storage;
}

}  // namespace

srv_col_type srv_map_declared_type(std::string_view decl) {
    std::string name;
    std::string_view args;
    bool has_args = false;
    split(decl, name, args, has_args);
    srv_col_type t;
    if (name.empty()) return t;
    int code = srv_type_by_storage;
    for (const type_name& n : type_names) {
        if (n.name == name) code = n.code;
    }
    if (code == srv_type_by_storage) {
        t.code = affinity_code(name);
        return t;
    }
    t.code = code;
    if (has_args && code == db_type_numeric) t.type_mod = numeric_mod(args);
    if (has_args && (code == db_type_char || code == db_type_nchar)) {
        int32_t n = -1;
        if (number(args, INT32_MAX, n)) t.type_mod = n;
    }
    return t;
}

int srv_storage_class_code(int storage) {
    switch (storage) {
        case SQLITE_INTEGER:
            return db_type_bigint;
        case SQLITE_FLOAT:
            return db_type_double;
        case SQLITE_BLOB:
            return db_type_blob;
        default:
            return db_type_char;
    }
}
