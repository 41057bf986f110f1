// The TABLDR command: its key=value grammar, the row terminator and load statement, the checks
// of the required keys, and the outcome line with the elapsed time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "loader/load.h"
#include "platform/console.h"
#include "platform/system.h"
#include "text/scan.h"

namespace {

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '=';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void apply(load_request& r, const char* key, const char* value) {
    if (same_word(key, "table")) {
        r.table = value;
    } else if (same_word(key, "datafile")) {
        r.datafile = value;
    } else if (same_word(key, "mode")) {
        r.mode = same_word(value, "append") ? 1 : same_word(value, "replace") ? 2 : 0;
    } else if (same_word(key, "ft")) {
        r.ft = value;
    } else if (same_word(key, "rt")) {
        r.rt = value;
    } else if (same_word(key, "log")) {
        r.log = value;
    } else if (same_word(key, "errlog")) {
        r.errlog = value;
    } else if (same_word(key, "reindex")) {
        if (same_word(value, "true")) r.reindex = true;
        if (same_word(value, "false")) r.reindex = false;
    } else if (same_word(key, "imp_mode")) {
        r.imp_mode = std::atoi(value);
    } else if (same_word(key, "parse_para")) {
        r.parse_para = std::atoi(value);
    } else if (same_word(key, "ins_para")) {
        r.ins_para = std::atoi(value);
    }
}

}  // namespace

load_request parse_load_arguments(char* text) {
    load_request r;
    char* p = text;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0') return r;
        char* key = p;
        while (*p && !is_separator(*p))
            ++p;
        bool at_end = *p == '\0';
        if (!at_end) *p++ = '\0';
        while (*p && is_separator(*p))
            ++p;
        char* value = p;
        while (*p && !is_separator(*p))
            ++p;
        bool value_at_end = *p == '\0';
        if (!value_at_end) *p++ = '\0';
        apply(r, key, at_end ? p : value);
        if (value_at_end) return r;
    }
}

int decode_row_terminator(const char* rt, unsigned char* out) {
    if ((rt[0] == 'X' || rt[0] == 'x') && rt[1] == '\'') {
        int n = 0;
        for (const char* p = rt + 2; p[0] && p[0] != '\'' && p[1] && p[1] != '\''; p += 2) {
            int hi = hex_digit(p[0]), lo = hex_digit(p[1]);
            if (hi < 0 || lo < 0 || n == row_terminator_max) return -1;
            out[n++] = static_cast<unsigned char>(hi << 4 | lo);
        }
        return n > 0 ? n : -1;
    }
    size_t n = std::strlen(rt);
    if (n == 0 || n > size_t(row_terminator_max)) return -1;
    std::memcpy(out, rt, n);
    return int(n);
}

std::string build_load_statement(const load_request& r) {
    // The blanks after the table name differ by mode: 9, 2 and 1.
    std::string sql = r.mode == 0   ? "LOAD TABLE " + std::string(r.table) + "         "
                      : r.mode == 1 ? "LOAD APPEND TABLE " + std::string(r.table) + "  "
                                    : "LOAD REPLACE TABLE " + std::string(r.table) + " ";
    sql += "FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY ";
    sql += r.ft;
    sql += ' ';
    if (r.reindex) sql += "WITH REINDEX ";
    if (r.imp_mode != 0) sql += "USE MODE " + std::to_string(r.imp_mode) + " ";
    sql += " PARALLEL " + std::to_string(r.ins_para) + "," + std::to_string(r.parse_para) + " ;";
    return sql;
}

bool run_load_command(db_conn* conn, char* text) {
    load_request r = parse_load_arguments(text + 6);
    const char* missing = !r.table      ? "Loss table name\r\n\r\n"
                          : !r.datafile ? "Loss data file path\r\n"
                          : !r.ft       ? "Loss field separator\r\n"
                          : !r.rt       ? "Loss row separator\r\n"
                                        : nullptr;
    if (missing) {
        con_printf("%s", missing);
        return false;
    }
    int64_t start = plat_clock_ms();
    bool ok = load_table_stream(conn, r);
    con_printf(ok ? "\r\nLoad table %s Sucessed\r\n\r\n" : "\r\nLoad table %s failed\r\n\r\n",
               r.table);
    con_printf("Use time:%d ms.     \r\n", int(plat_clock_ms() - start));
    return ok;
}
