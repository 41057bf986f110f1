// The statement loop: prompt, read a line, and decide what it is: a continuation of the
// statement being assembled, the "/" that runs the buffer, a one-character or client command,
// or the first line of a statement. Complete statements go to run_statement.
#include "shell/input_loop.h"

#include <cstring>
#include <ctime>
#include <string>

#include "output/execute.h"
#include "output/spool.h"
#include "platform/console.h"
#include "platform/system.h"
#include "shell/commands.h"
#include "shell/console_state.h"
#include "shell/keywords.h"

namespace {

// The CREATE header recognition carried over from earlier lines of the statement.
create_header pending_header;

// Statements keep room for the ';' that run_statement appends and its zero byte.
inline constexpr int max_statement_len = sql_buff_size - 2;

struct line_counts {
    int raw;
    int trimmed;
    int lead;
};

line_counts count_line(const char* line, int raw) {
    line_counts lc{raw, raw, 0};
    while (lc.trimmed > 0 && (line[lc.trimmed - 1] == ' ' || line[lc.trimmed - 1] == '\t'))
        --lc.trimmed;
    while (lc.lead < raw && (line[lc.lead] == ' ' || line[lc.lead] == '\t')) ++lc.lead;
    return lc;
}

bool ends_with_semicolon(const char* line, const line_counts& lc) {
    return lc.trimmed > 0 && line[lc.trimmed - 1] == ';';
}

void print_prompt() {
    console_state& s = g_console;
    if (s.line_count != 0) {
        con_printf("%-4d ", s.stmt_lines + 1);
        return;
    }
    s.stmt_lines = 0;
    s.cp1keyword[0] = '\0';
    pending_header = create_header{};
    s.state = 0;
    s.need_semicolon = false;
    s.word_pp = 0;
    s.stmt_refused = false;
    s.totallastlen = 0;
    s.desc_mode = false;
    if (s.show_time) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        con_printf("\r\n%02d:%02d:%02d  SQL>", local.tm_hour, local.tm_min, local.tm_sec);
    } else {
        con_printf("\r\nSQL> ");
    }
}

// A statement that outgrows the statement buffer is refused whole; nothing past the buffer is
// written. Its later lines are dropped too (drop_refused_line), and the buffer is emptied: what
// it holds is only the statement's head, which "/" must not run.
bool refuse_if_too_long(int more) {
    if (g_console.totallastlen + more <= max_statement_len) return false;
    con_printf("Statement too long: at most %d bytes; it was not run.\r\n", max_statement_len);
    g_console.stmt_refused = true;
    g_console.sql_buff[0] = '\0';
    return true;
}

// Starts the statement buffer with the line and a newline.
void start_buffer(const char* line, int raw) {
    std::memcpy(g_console.sql_buff, line, size_t(raw));
    g_console.sql_buff[raw] = '\n';
    g_console.sql_buff[raw + 1] = '\0';
    g_console.totallastlen = raw + 1;
}

void append_line(const char* line, int raw) {
    char* at = g_console.sql_buff + g_console.totallastlen;
    std::memcpy(at, line, size_t(raw));
    at[raw] = '\n';
    at[raw + 1] = '\0';
    g_console.totallastlen += raw + 1;
}

// A ':' outside quotes in a PREPARE is a parameter the console cannot supply: the statement is
// refused. Returns true when refused.
bool prepare_has_parameters() {
    bool quoted = false;
    for (const char* p = g_console.sql_buff; *p; ++p) {
        if (*p == '\'') quoted = !quoted;
        if (*p == ':' && !quoted) {
            con_printf("控制台暂时不支持带参数的prepare语句\n");
            g_console.line_count = 0;
            return true;
        }
    }
    return false;
}

// Feeds words to the CREATE header recognition; returns true when the statement goes on (block
// or waiting for more), false when it ends here (dropped) or is an ordinary statement from now.
header_outcome scan_header(std::string_view words, bool on_first_line) {
    std::string message;
    header_outcome out = create_header_scan(pending_header, words, on_first_line,
                                            g_console.keyword, message);
    switch (out) {
        case header_outcome::block:
            g_console.state = 1;
            g_console.cp1keyword[0] = '\0';
            break;
        case header_outcome::need_more:
            std::strcpy(g_console.cp1keyword, "CREATE");
            break;
        case header_outcome::ordinary:
            g_console.cp1keyword[0] = '\0';
            break;
        case header_outcome::dropped:
            con_printf("%s", message.c_str());
            g_console.cp1keyword[0] = '\0';
            g_console.line_count = 0;
            break;
    }
    return out;
}

// The completion test of a statement's first line: waits for more lines or runs it.
void complete_first_line(const char* line, const line_counts& lc) {
    console_state& s = g_console;
    int index = multiline_keyword_index(s.keyword);
    if (index >= 0) {
        s.word_pp = index;
        s.need_semicolon = true;
        s.state = 0;
    }
    if (s.need_semicolon && (!ends_with_semicolon(line, lc) || s.state == 1)) {
        ++s.stmt_lines;
        return;
    }
    s.line_count = 0;
    std::memcpy(s.sql_buff, line, size_t(lc.raw));
    s.sql_buff[lc.raw] = '\0';
    if (same_word(s.keyword, "PREPARE") && prepare_has_parameters()) return;
    run_statement();
}

// "/" alone (or followed by a blank or tab) runs the statement buffer.
bool is_run_line(const char* line, const line_counts& lc) {
    const char* p = line + lc.lead;
    return p[0] == '/' && (p[1] == '\0' || p[1] == ' ' || p[1] == '\t');
}

// A line of a refused statement: dropped, so that the statement's tail never runs as statements
// of its own. The line that would have ended the statement ends the refused one with it: a "/"
// line, and outside a block also a line ending in ';' or a blank line (which drops a statement).
void drop_refused_line(const char* line, const line_counts& lc) {
    console_state& s = g_console;
    bool ends = lc.lead < lc.raw && is_run_line(line, lc);
    if (s.state == 0) ends = ends || lc.lead == lc.raw || ends_with_semicolon(line, lc);
    if (ends)
        s.line_count = 0;
    else
        ++s.stmt_lines;
}

void continuation_line(char* line, const line_counts& lc) {
    console_state& s = g_console;
    if (refuse_if_too_long(lc.raw + 1)) {
        drop_refused_line(line, lc);
        return;
    }
    append_line(line, lc.raw);
    if (s.cp1keyword[0] != '\0' && s.state == 0) {
        header_outcome out = scan_header(std::string_view(line, size_t(lc.raw)), false);
        if (out == header_outcome::dropped) return;
    }
    if (same_word(s.keyword, "PREPARE") && prepare_has_parameters()) return;
    if (ends_with_semicolon(line, lc) && s.state == 0) {
        s.line_count = 0;
        run_statement();
        return;
    }
    ++s.stmt_lines;
}

void first_line(char* line, const line_counts& lc) {
    console_state& s = g_console;
    char* start = line + lc.lead;
    switch (*start) {
        case '@':
            s.line_count = 0;
            return;
        case '$':
        case '#':
        case 'c':
        case 'C': {
            if ((*start == 'c' || *start == 'C') && start[1] != '/') break;
            command_line cl{line, lc.raw, lc.trimmed, lc.lead, std::string_view(start, 1), start + 1};
            if (*start == '$') command_set_user(cl);
            else if (*start == '#') command_monitor(cl);
            else command_replace(cl);
            return;
        }
        default:
            break;
    }

    size_t word_len = std::strcspn(start, " \t;");
    if (word_len >= size_t(keyword_size)) {
        con_printf("ERROR：不支持的功能\\r\n");
        s.line_count = 0;
        return;
    }
    std::memcpy(s.keyword, start, word_len);
    s.keyword[word_len] = '\0';
    std::string_view keyword(s.keyword, word_len);

    if (same_word(keyword, "DECLARE") || same_word(keyword, "BEGIN")) {
        start_buffer(line, lc.raw);
        s.state = 1;
        ++s.stmt_lines;
        return;
    }
    if (const client_command* cmd = find_client_command(keyword)) {
        command_line cl{line, lc.raw, lc.trimmed, lc.lead, std::string_view(start, word_len),
                        start + word_len};
        if (cmd->run(cl) == command_result::done) return;
    } else if (same_word(keyword, "CREATE")) {
        s.need_semicolon = true;
        start_buffer(line, lc.raw);
        header_outcome out = scan_header(std::string_view(start + word_len), true);
        if (out == header_outcome::block) {
            ++s.stmt_lines;
            return;
        }
        if (out == header_outcome::dropped) return;
        complete_first_line(line, lc);
        return;
    } else if (is_unsupported_keyword(keyword)) {
        con_printf("不支持此功能\n");
        s.line_count = 0;
        return;
    }
    start_buffer(line, lc.raw);
    spool_printf("\r\nSQL> %s", s.sql_buff);
    complete_first_line(line, lc);
}

}  // namespace

int read_console_line(char* line_buff) {
    std::memset(line_buff, 0, line_buff_size);
    int n = 0;
    for (;;) {
        int ch = con_read_byte();
        if (ch == con_eof) return n == 0 ? -1 : n;
        if (ch == '\n' || ch == '\0') return n;
        if (ch == '\r' && con_peek_byte() == '\n') continue;
        line_buff[n++] = static_cast<char>(ch);
        if (n == line_buff_size) {
            do {
                ch = con_read_byte();
            } while (ch != con_eof && ch != '\n');
            return n;
        }
    }
}

void run_statement_loop() {
    console_state& s = g_console;
    s.line_count = 0;
    for (;;) {
        print_prompt();
        int raw = read_console_line(s.line_buff);
        if (raw < 0) plat_exit(0);
        if (raw >= line_buff_size) {
            con_printf("over max linesize");
            s.line_count = 0;
            continue;
        }
        ++s.line_count;
        s.line_buff[raw] = '\0';
        line_counts lc = count_line(s.line_buff, raw);

        if (s.stmt_refused) {
            drop_refused_line(s.line_buff, lc);
            continue;
        }
        if (lc.lead == raw && s.state == 0) {
            s.line_count = 0;
            continue;
        }
        if (lc.lead < raw && is_run_line(s.line_buff, lc)) {
            s.line_count = 0;
            if (s.stmt_lines != 0 || s.sql_buff[0] != '\0')
                run_statement();
            else
                con_printf("nothing in the buffer\r\n");
            continue;
        }
        if (s.stmt_lines != 0)
            continuation_line(s.line_buff, lc);
        else
            first_line(s.line_buff, lc);
        if (s.login_requested) {
            s.login_requested = false;
            return;
        }
    }
}
