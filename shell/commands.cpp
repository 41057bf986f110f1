// The client command tables and their handlers: EXIT, RECONNECT, HELP, SPOOL, CLS, CLBUFF,
// LOGIN, the loader words, USE, EDIT (the settings commands are in settings.cpp, EXECFILE in
// script_files.cpp, DESC and IMP in desc.cpp), and the one-character commands '$', '#' and c/.
#include "shell/commands.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>

#include "loader/load.h"
#include "monitor/monitor.h"
#include "output/execute.h"
#include "output/spool.h"
#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "shell/desc.h"
#include "shell/keywords.h"
#include "shell/script_files.h"
#include "shell/settings.h"
#include "state/console_state.h"
#include "text/scan.h"

namespace {

inline constexpr size_t spool_path_size = 1600;
inline constexpr size_t set_user_cmd_size = 200;  // the statement text of '$'
inline constexpr size_t replace_piece_max = 1999;
const char edit_file[] = "edit.txt";

const char help_text[] =
    "Type command as fallow:\r\n"
    "    login       login database server.\r\n"
    "    use     Set currrent database.\r\n"
    "    $       Change current session user.\r\n"
    "    ESC(Q)      Cancel result display.\r\n"
    "    CLBUFF      Clear sql buffer.\r\n"
    "    CLS     Clear screen.\r\n"
    "    edit        Invokes a host operating system text editor on the\r\n"
    "            contents of the specified file or on the contents of\r\n"
    "            the SQL buffer.\r\n"
    "    desc        Lists the column definitions for a table, view    reconn[ect] reset "
    "connection.\r\n"
    "    parameter   Set follows:pagesize,heading,show_type,str_size,                         "
    "       num_size,show_time,NULL\r\n";

const char* skip_blanks_tabs(const char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

command_result command_exit(command_line&) {
    plat_exit(0);
}

command_result command_reconnect(command_line&) {
    reconnect_and_replay();
    return command_result::done;
}

command_result command_help(command_line&) {
    con_write(help_text, sizeof help_text - 1);
    return command_result::done;
}

// Writes the SPOOL command's line to the spool file (spool_path), opened for this write only.
// With report, a failed open or write is reported by the spool writer (spooling is then off);
// without, a file that cannot be opened returns false and the caller says what it means.
bool spool_line(const char* mode, std::string_view keyword, const char* word, bool report) {
    spool_write w(mode, report);
    w.print("\r\nSQL> %.*s %s\r\n", int(keyword.size()), keyword.data(), word);
    return bool(w);
}

command_result command_spool(command_line& cl) {
    console_state& s = g_console;
    const char* p = skip_blanks_tabs(cl.rest);
    size_t n = std::strcspn(p, " \t\r\n;");
    if (n >= size_t(spool_name_size)) {
        con_printf("The spool file name is too long: at most %d characters\r\n",
                   spool_name_size - 1);
        return command_result::done;
    }
    std::memset(s.spool_name, 0, sizeof s.spool_name);
    std::memcpy(s.spool_name, p, n);
    if (same_word(s.spool_name, "OFF")) {
        const bool was_on = s.spool_on;
        s.spool_on = false;
        // The closing line goes into a file that was spooled to; a name whose SPOOL failed to
        // create it is only forgotten.
        if (s.spool_path) {
            spool_line("ab", cl.keyword, s.spool_name, was_on);
            delete[] s.spool_path;
            s.spool_path = nullptr;
        }
        return command_result::done;
    }
    if (n == 0) return command_result::done;
    delete[] s.spool_path;
    s.spool_path = new char[spool_path_size]();
    std::memcpy(s.spool_path, s.spool_name, n);
    if (!spool_line("wb", cl.keyword, s.spool_path, false)) {
        s.spool_on = false;
        report_failure("ERROR：指定文件的路径不正确！");
    } else {
        s.spool_on = s.spool_path != nullptr;  // off when the first write already failed
    }
    return command_result::done;
}

command_result command_cls(command_line&) {
    con_clear_screen();
    return command_result::done;
}

command_result command_clbuff(command_line&) {
    std::memset(g_console.sql_buff, 0, sizeof g_console.sql_buff);
    return command_result::done;
}

command_result command_login(command_line&) {
    console_state& s = g_console;
    db_disconnect(s.conn);
    s.conn = nullptr;
    s.host = s.database = s.user = s.password = nullptr;
    s.ssl_mode = "NSSL";
    s.sql_buff[0] = '\0';
    con_clear_screen();
    s.login_requested = true;
    return command_result::done;
}

// SQLLDR and TABLDR first check that the connection is alive (the loader's parser needs a
// separator after the last value: a tab goes after the line). Only TABLDR then loads.
command_result command_loader(command_line& cl) {
    cl.line[cl.raw] = '\t';
    cl.line[cl.raw + 1] = '\0';
    db_result* r = execute_statement("SELECT * FROM DUAL");
    if (!r) {
        command_reply_lost();
        return command_result::done;
    }
    db_result_free(r);
    // A load whose wait Ctrl+C cancelled says so after its failure (report_cancel marks it).
    if (starts_with_nocase(cl.keyword, "TABLDR") &&
        !run_load_command(g_console.conn, cl.line + cl.lead) && !report_cancel())
        note_failure();
    return command_result::done;
}

command_result command_use(command_line& cl) {
    static std::string use_database;  // the text database points at after USE
    console_state& s = g_console;
    s.desc_mode = true;
    char* name = const_cast<char*>(skip_blanks_tabs(cl.rest));
    char* end = cl.line + cl.trimmed;
    while (end > name && end[-1] == ';')
        --end;
    *end = '\0';
    timed_result t = execute_timed(cl.line);
    if (!t.result) {
        command_reply_lost();
        return command_result::done;
    }
    if (db_result_ok(t.result) == 1 || db_result_msg_level(t.result) == db_level_warning) {
        con_printf(" db_name %s \n", name);
        use_database = name;
        s.database = use_database.c_str();
    }
    report_outcome(t.result, t.start_ms, t.end_ms);
    return command_result::done;
}

// Writes the statement buffer to edit.txt, runs the editor on it and reads it back; the edited
// statement is listed, not run.
command_result command_edit(command_line&) {
    console_state& s = g_console;
    std::strcpy(s.sql_buff_copy, s.sql_buff);
    FILE* f = std::fopen(edit_file, "wb");
    if (!f || std::fputs(s.sql_buff, f) < 0) {
        if (f) std::fclose(f);
        con_printf("Cannot write %s: the buffer is unchanged.\r\n", edit_file);
        return command_result::done;
    }
    std::fclose(f);
    if (!plat_run_editor(edit_file)) {
        con_printf("No editor could be started: the buffer is unchanged.\r\n");
        return command_result::done;
    }
    f = std::fopen(edit_file, "rb");
    if (!f) {
        con_printf("Cannot read %s back: the buffer is unchanged.\r\n", edit_file);
        return command_result::done;
    }
    std::string text;
    char chunk[8192];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        text.append(chunk, got);
        if (text.size() > size_t(max_statement_len)) break;
    }
    std::fclose(f);
    if (text.size() > size_t(max_statement_len) || text.find('\0') != std::string::npos) {
        con_printf("%s is too long or not text: the buffer is unchanged.\r\n", edit_file);
        return command_result::done;
    }
    std::memcpy(s.sql_buff, text.c_str(), text.size() + 1);
    con_printf("Has been written in edit.txt\t\n");
    int number = 1;
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        size_t len = (nl == std::string::npos ? text.size() : nl) - at;
        con_printf("%-5d%.*s\n", number++, int(len), text.data() + at);
        at += len + 1;
    }
    return command_result::done;
}

// '$' user: the rest of the line, after its blanks, is the new current user of the session.
command_result command_set_user(command_line& cl) {
    const char* name = cl.rest;
    while (*name == ' ')
        ++name;
    char cmd_buff[set_user_cmd_size];
    int n = std::snprintf(cmd_buff, sizeof cmd_buff, "Set session authorization '%s';", name);
    if (n < 0 || size_t(n) >= sizeof cmd_buff) {
        con_printf("The user name is too long.\r\n");
        return command_result::done;
    }
    db_result* r = execute_statement(cmd_buff);
    if (!r) {
        command_reply_lost();
        return command_result::done;
    }
    if (db_result_ok(r)) {
        con_printf("Set session authorization ok. current session user is %s\r\n\r\n", name);
    } else {
        report_failure("ERROR:(%d) %s.\r\n\r\n", db_result_error_code(r),
                       db_result_message(r) ? db_result_message(r) : "");
    }
    db_result_free(r);
    return command_result::done;
}

command_result command_monitor(command_line&) {
    monitor_toggle();
    return command_result::done;
}

// c/string1/string2: replaces every string1 in the buffer by string2 and runs the new text.
command_result command_replace(command_line& cl) {
    console_state& s = g_console;
    const char* text = cl.rest + 1;  // after "c/"
    std::string_view ht, hh;
    int slashes = 0;
    const char* piece = text;
    for (const char* p = text; *p; ++p) {
        if (*p != '/') continue;
        ht = std::string_view(piece, size_t(p - piece));
        ++slashes;
        piece = p + 1;
    }
    hh = piece;
    if (slashes != 1) {
        con_printf("\n“C/”Command correct usage：c/string1/string2\n");
        return command_result::done;
    }
    if (ht.size() > replace_piece_max || hh.size() > replace_piece_max) {
        con_printf("c/: each string holds at most %zu characters\r\n", replace_piece_max);
        return command_result::done;
    }
    std::strcpy(s.sql_buff_copy, s.sql_buff);
    std::string_view source = s.sql_buff_copy;
    if (ht.empty() || source.find(ht) == std::string_view::npos) {
        con_printf("A string that needs replacing is not found in the source string.");
        return command_result::done;
    }
    std::string replaced;
    for (size_t at = 0;;) {
        size_t found = source.find(ht, at);
        if (found == std::string_view::npos) {
            replaced.append(source.substr(at));
            break;
        }
        replaced.append(source.substr(at, found - at));
        replaced.append(hh);
        at = found + ht.size();
    }
    if (replaced.size() > size_t(max_statement_len)) {
        con_printf("c/: the new statement would be too long; the buffer is unchanged.\r\n");
        return command_result::done;
    }
    con_printf("\n%s", replaced.c_str());
    std::memcpy(s.sql_buff, replaced.c_str(), replaced.size() + 1);
    std::memcpy(s.sql_buff_copy, replaced.c_str(), replaced.size() + 1);
    run_statement();
    return command_result::done;
}

// In dispatch order.
const client_command commands[] = {
    {"EXIT", false, command_exit},
    {"RECONNECT", false, command_reconnect},
    {"RECONN", false, command_reconnect},
    {"HELP", false, command_help},
    {"SHOW", false, command_show},
    {"SPOOL", false, command_spool},
    {"SET", false, command_set},
    {"RESET", false, command_reset},
    {"CLS", false, command_cls},
    {"CLBUFF", false, command_clbuff},
    {"LOGIN", false, command_login},
    {"SQLLDR", true, command_loader},
    {"TABLDR", true, command_loader},
    {"EXECFILE", false, command_execfile},
    {"EXECFILE2", false, command_execfile2},
    {"DESC", false, command_desc},
    {"USE", false, command_use},
    {"IMP", false, command_imp},
    {"EDIT", false, command_edit},
};

// The commands recognised by the first non-blank character of a line, before its first word.
const client_command sign_commands[] = {
    {"$", true, command_set_user},
    {"#", true, command_monitor},
    {"c/", true, command_replace},
};

const client_command* find_in(std::span<const client_command> table, std::string_view keyword) {
    for (const client_command& c : table) {
        if (c.prefix ? starts_with_nocase(keyword, c.word) : same_word(keyword, c.word)) return &c;
    }
    return nullptr;
}

}  // namespace

const client_command* find_client_command(std::string_view keyword) {
    return find_in(commands, keyword);
}

const client_command* find_sign_command(std::string_view line) {
    return find_in(sign_commands, line);
}
