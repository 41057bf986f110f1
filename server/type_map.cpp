// Maps a declared column type to a type code and type_mod: the name is normalised (upper case,
// single spaces), split from its "(a[,b])" arguments, and looked up in one table.
#include "server/type_map.h"

#include <sqlite3.h>

#include <charconv>
#include <cstdint>
#include <string>

namespace {

struct type_name {
    std::string_view name;
    int code;
};

constexpr type_name type_names[] = {
    {"EMPTY", 0},
    {"NULLTYPE", 1},
    {"BOOLEAN", 2},
    {"BOOL", 2},
    {"TINYINT", 3},
    {"SMALLINT", 4},
    {"INTEGER", 5},
    {"INT", 5},
    {"BIGINT", 6},
    {"NUMERIC", 7},
    {"DECIMAL", 7},
    {"FLOAT", 8},
    {"REAL", 8},
    {"DOUBLE", 9},
    {"DOUBLE PRECISION", 9},
    {"DATE", 10},
    {"TIME", 11},
    {"TIME WITH TIME ZONE", 12},
    {"DATETIME", 13},
    {"TIMESTAMP", 13},
    {"DATETIME WITH TIME ZONE", 14},
    {"TIMESTAMP WITH TIME ZONE", 14},
    {"INTERVAL_Y", 15},
    {"INTERVAL_Y2M", 16},
    {"INTERVAL_M", 17},
    {"INTERVAL_D", 18},
    {"INTERVAL_D2H", 19},
    {"INTERVAL_H", 20},
    {"INTERVAL_D2M", 21},
    {"INTERVAL_H2M", 22},
    {"INTERVAL_MI", 23},
    {"INTERVAL_D2S", 24},
    {"INTERVAL_H2S", 25},
    {"INTERVAL_M2S", 26},
    {"INTERVAL_S", 27},
    {"ROWVERSION", 28},
    {"GUID", 29},
    {"CHAR", 30},
    {"VARCHAR", 30},
    {"CHARACTER", 30},
    {"TEXT", 30},
    {"NCHAR", 31},
    {"NVARCHAR", 31},
    {"CLOB", 32},
    {"BINARY", 33},
    {"VARBINARY", 33},
    {"BLOB", 34},
    {"GEOMETRY", 35},
    {"POINT", 36},
    {"BOX", 37},
    {"POLYLINE", 38},
    {"POLYGON", 39},
    {"TYPE40", 40},
    {"TYPE41", 41},
    {"TYPE42", 42},
    {"TYPE43", 43},
    {"STREM", 44},
    {"ROWID", 45},
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
    if (has("INT")) return 6;
    if (has("CHAR") || has("CLOB") || has("TEXT")) return 30;
    if (has("BLOB")) return 34;
    if (has("REAL") || has("FLOA") || has("DOUB")) return 9;
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
    if (has_args && code == 7) t.type_mod = numeric_mod(args);
    if (has_args && (code == 30 || code == 31)) {
        int32_t n = -1;
        if (number(args, INT32_MAX, n)) t.type_mod = n;
    }
    return t;
}

int srv_storage_class_code(int storage) {
    switch (storage) {
        case SQLITE_INTEGER:
            return 6;
        case SQLITE_FLOAT:
            return 9;
        case SQLITE_BLOB:
            return 34;
        default:
            return 30;
    }
}
