// DESC validates [schema.]table and asks the server for the table's columns with an empty query;
// the result is shown as a table description. IMP checks a table and a data file and builds the
// text of a bulk-load command for them.
#include "shell/desc.h"

#include <cstdio>
#include <cstring>

#include "loader/load.h"
#include "output/execute.h"
#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "state/console_state.h"

namespace {

inline constexpr size_t obj_name_size = 256;   // an identifier holds at most 255 characters
inline constexpr size_t desc_cmd_size = 2000;  // the statement texts of DESC and IMP
inline constexpr size_t imp_arg_max = 49;

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_name_char(char c) {
    return is_letter(c) || (c >= '0' && c <= '9') || c == '_';
}

const char usage_joined[] =
    "\ndescCommand uses the error, the correct usage：desc [schemaname.]tablename[;]\n";
const char usage_spaced[] =
    "\ndesc Command uses the error, the correct usage：desc [schemaname.]tablename[;]\n";
const char usage_spaced_crlf[] =
    "\ndesc Command uses the error, the correct usage：desc [schemaname.]tablename[;]\r\n";

// One part of the name; on failure message is set. Returns the part's length (without quotes).
struct part_reader {
    std::string_view t;
    size_t at = 0;

    bool quoted() const { return at < t.size() && t[at] == '"'; }

    size_t read(std::string& message) {
        if (quoted()) {
            ++at;
            size_t len = 0;
            for (;;) {
                if (len == obj_name_size) {
                    message = "Character too many\r\n";
                    return 0;
                }
                if (at == t.size() || t[at] == '\t' || t[at] == '\n' || t[at] == '\r') {
                    message = "Double quotation marks do not match\r\n";
                    return 0;
                }
                if (t[at] == '"') {
                    ++at;
                    return len;
                }
                ++at;
                ++len;
            }
        }
        if (at == t.size() || !is_letter(t[at])) {
            message =
                "Unexpected symbol:" + std::string(at < t.size() ? t.substr(at, 1) : "") + "\r\n";
            return 0;
        }
        size_t len = 0;
        while (at < t.size() && is_name_char(t[at])) {
            if (++len == obj_name_size) {
                message = "Character too many\r\n";
                return 0;
            }
            ++at;
        }
        return len;
    }
};

// Copies a word of at most max characters into out; false when it is longer.
bool take_arg(const char*& p, const char* stops, size_t max, std::string& out) {
    size_t n = std::strcspn(p, stops);
    if (n > max) return false;
    out.assign(p, n);
    p += n;
    return true;
}

// The first column of the first row as a count (BIGINT or INTEGER); 0 when there is none.
long long first_count(db_result* r) {
    db_row* row = db_result_col_count(r) > 0 ? db_result_next(r) : nullptr;
    if (!row) return 0;
    int len = db_row_value_len(row, 0);
    if (len >= 8) {
        long long v;
        std::memcpy(&v, db_row_value(row, 0), 8);
        return v;
    }
    if (len >= 4) {
        int v;
        std::memcpy(&v, db_row_value(row, 0), 4);
        return v;
    }
    return 0;
}

}  // namespace

desc_parse_result desc_parse(std::string_view after_desc) {
    desc_parse_result res;
    size_t start = after_desc.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
        res.empty = true;
        return res;
    }
    part_reader r{after_desc.substr(start)};
    bool first_quoted = r.quoted();
    res.last_part_len = int(r.read(res.message));
    if (!res.message.empty()) return res;
    bool has_schema = false, second_quoted = false;
    if (r.at < r.t.size() && r.t[r.at] == '.') {
        ++r.at;
        has_schema = true;
        second_quoted = r.quoted();
        res.last_part_len = int(r.read(res.message));
        if (!res.message.empty()) return res;
    }
    bool last_plain = has_schema ? !second_quoted : !first_quoted;
    if (r.at < r.t.size()) {
        char c = r.t[r.at];
        if (last_plain && c != ' ' && c != '\t') {
            res.message = "Unexpected symbol:" + std::string(1, c) + "\r\n";
        } else if (has_schema && first_quoted && second_quoted) {
            res.message = usage_joined;
        } else if (!has_schema && !first_quoted) {
            res.message = usage_joined;
        } else if (has_schema && !first_quoted && second_quoted) {
            res.message = usage_spaced_crlf;
        } else {
            res.message = usage_spaced;
        }
        return res;
    }
    res.both_quoted = has_schema && first_quoted && second_quoted;
    return res;
}

command_result command_desc(command_line& cl) {
    console_state& s = g_console;
    s.desc_mode = true;
    // The text after DESC, cut at the line's trimmed end, without its trailing ';'.
    char* text = cl.line + cl.lead + 4;
    char* end = cl.line + cl.trimmed;
    while (end > text && end[-1] == ';')
        --end;
    *end = '\0';
    desc_parse_result parsed = desc_parse(text);
    if (parsed.empty) return command_result::statement;
    if (!parsed.message.empty()) {
        con_printf("%s", parsed.message.c_str());
        return command_result::done;
    }
    char cmd_buff[desc_cmd_size];
    int n = std::snprintf(cmd_buff, sizeof cmd_buff, "select * from %s limit 0", text);
    if (n < 0 || size_t(n) >= sizeof cmd_buff) {
        con_printf("The table name is too long.\r\n");
        return command_result::done;
    }
    s.desc_pos = parsed.last_part_len;
    run_and_report(cmd_buff,
                   parsed.both_quoted ? statement_road::wrapped : statement_road::unwrapped);
    return command_result::done;
}

command_result command_imp(command_line& cl) {
    console_state& s = g_console;
    const char* p = cl.rest;
    p += std::strspn(p, " \t\r\n");
    std::string table_arg;
    if (!take_arg(p, " \t\r\n", imp_arg_max, table_arg)) {
        con_printf("The tablename is too long\r\n");
        return command_result::done;
    }
    std::erase(table_arg, '"');
    std::string schema = "0", table = table_arg;
    bool has_schema = false;
    if (size_t dot = table_arg.find('.'); dot != std::string::npos) {
        has_schema = true;
        schema = table_arg.substr(0, dot);
        table = table_arg.substr(dot + 1, table_arg.find_first_of(". \t", dot + 1) - dot - 1);
        con_printf("tab:%s   sc%s", table.c_str(), schema.c_str());
    }
    p += std::strspn(p, " \t\r\n");
    std::string filepath;
    if (!take_arg(p, " \t\r\n;", imp_arg_max, filepath)) {
        con_printf("The filepath is too long\r\n");
        return command_result::done;
    }
    FILE* f = std::fopen(filepath.c_str(), "rb");
    if (!f) {
        report_failure("Open file %s failed!\r\n", filepath.c_str());
        return command_result::done;
    }
    std::fclose(f);

    char cmd_buff[desc_cmd_size];
    if (has_schema)
        std::snprintf(cmd_buff, sizeof cmd_buff,
                      "select count(*) from sys_tables where db_id=current_db_id and "
                      "upper(table_name)=upper('%s') and schema_id=(select schema_id from "
                      "sys_schemas where db_id=current_db_id and upper(schema_name)=upper('%s'))",
                      table.c_str(), schema.c_str());
    else
        std::snprintf(cmd_buff, sizeof cmd_buff,
                      "select count(*) from sys_tables where db_id=current_db_id and "
                      "upper(table_name)=upper('%s') and schema_id=current_schemaid",
                      table.c_str());
    db_result* r = execute_statement(cmd_buff);
    if (!r) {
        command_reply_lost();
        return command_result::done;
    }
    long long count = first_count(r);
    db_result_free(r);
    if (count == 0) {
        report_failure("There something wrong!Unable to identify the table!\r\n");
        return command_result::done;
    }
    if (has_schema)
        std::snprintf(cmd_buff, sizeof cmd_buff,
                      "sqlldr table=%s.%s datafile=%s ft='|' rt=X'0a' log = ./load.log "
                      "errlog=./loaderr.log",
                      schema.c_str(), table.c_str(), filepath.c_str());
    else
        std::snprintf(cmd_buff, sizeof cmd_buff,
                      "sqlldr table=%s datafile=%s ft='|' rt=X'0a' log = ./load.log "
                      "errlog=./loaderr.log",
                      table.c_str(), filepath.c_str());
    if (!run_load_command(s.conn, cmd_buff)) note_failure();
    return command_result::done;
}
