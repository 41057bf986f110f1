// Statements with file markers: parameter files bound to the statement, the first column of every
// row written into a file, and the export of a query through the server cursor printf_cur1,
// 5000 rows per fetch, into a '|'-separated file.
#include "output/redirect.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "output/execute.h"
#include "output/grid.h"
#include "output/render.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "state/console_state.h"
#include "text/scan.h"

namespace {

inline constexpr size_t obj_filename_size = 1024;
inline constexpr int export_batch = 5000;
inline constexpr int export_progress_every = 100000;
inline constexpr int export_fetch_attempts = 3;
inline constexpr size_t output_buffer_size = 65536;  // the ">#" and ">%" files' write buffer
inline constexpr size_t export_buffer_size = size_t(1) << 20;  // the export file's write buffer
const char cursor_declare[] = "declare printf_cur1 cursor for ";
const char cursor_open[] = "open printf_cur1";
const char cursor_fetch[] = "fetch 5000 from printf_cur1;";
const char cursor_close[] = "close printf_cur1";

struct result_deleter {
    void operator()(db_result* r) const { db_result_free(r); }
};
using result_ptr = std::unique_ptr<db_result, result_deleter>;

struct stmt_deleter {
    void operator()(db_stmt* s) const { db_stmt_free(s); }
};

// A lost connection in these paths reconnects like any missing reply; the statement is not run
// again, as its files may have changed meanwhile. A statement that found no connection before it
// was sent has been reported already.
void connection_lost() {
    command_reply_lost("Net disconnect,reconnect.\r\n\r\n");
}

// "<%", "<#", "<$": the listed files become the statement's parameters in order.
void run_with_parameter_files(const char* text, const char* list) {
    std::unique_ptr<db_stmt, stmt_deleter> stmt(db_stmt_new(text));
    const char* p = list;
    int index = 0;
    std::vector<std::string> names;  // by parameter index
    for (;;) {
        p += std::strspn(p, " \t");
        if (*p == '\0') break;
        char tag[3] = {p[0], p[1] ? p[1] : '\0', '\0'};
        p += p[1] ? 2 : 1;
        p += std::strspn(p, " \t");
        size_t len = std::strcspn(p, " ");
        if (len >= obj_filename_size) {
            report_failure("File name too long: at most %zu characters\r\n", obj_filename_size - 1);
            g_console.line_count = 0;
            return;
        }
        // A parameter that cannot be bound would leave the statement short of it.
        if (index >= db_stmt_max_params) {
            report_failure("Too many parameter files: at most %d\r\n", db_stmt_max_params);
            g_console.line_count = 0;
            return;
        }
        std::string name(p, len);
        p += len;
        // A statement with a file missing from its parameters is not run at all. The file is
        // read to its end: pipes and files whose status shows no size hold data all the same.
        int fd = open_for_reading(name.c_str());
        db_file_bind got = db_file_bind::failed;
        if (fd >= 0 && std::strcmp(tag, "<%") == 0) {
            got = db_stmt_bind_file(stmt.get(), index, fd, db_param_text);
        } else if (fd >= 0 && (std::strcmp(tag, "<#") == 0 || std::strcmp(tag, "<$") == 0)) {
            got = db_stmt_bind_file(stmt.get(), index, fd, db_param_bytes);
        } else if (fd >= 0) {
            close_file(fd);  // another tag binds nothing but uses up its position
            got = db_file_bind::ok;
        }
        if (got != db_file_bind::ok) {
            report_failure(got == db_file_bind::too_large
                               ? "File %s is too large for a parameter.\r\n"
                               : "Open file %s failed.\r\n",
                           name.c_str());
            g_console.line_count = 0;
            return;
        }
        names.push_back(std::move(name));
        ++index;
    }
    // Bytes that answer nothing must not be taken for this statement's reply.
    if (!connection_ready_to_send()) {  // the failed reconnect marked the failure
        g_console.line_count = 0;
        return;
    }
    int64_t start = plat_clock_ms();
    result_ptr r(db_execute_params(g_console.conn, stmt.get()));
    if (g_console.show_use_time)
        con_printf("Use time:%d ms.     \r\n", int(plat_clock_ms() - start));
    g_console.line_count = 0;
    const int changed_param = r ? -1 : db_stmt_changed_param(stmt.get());
    if (changed_param >= 0) {
        report_failure("File %s changed while it was sent: the statement was not run.\r\n",
                       names[size_t(changed_param)].c_str());
    }
    if (!r) {
        // A file that changed kept the statement from the server: nothing of it ran.
        if (changed_param >= 0) return connection_lost();
        if (report_cancel()) return;
        return parameter_statement_lost(g_console.auto_commit);
    }
    parameter_statement_sent(g_console.auto_commit);
    if (db_result_ok(r.get()) == 0) {
        report_failure("Error:%s\r\n",
                       db_result_message(r.get()) ? db_result_message(r.get()) : "");
    }
}

// Writes data to fd through a buffer of flush_at bytes; in text mode every LF is written as
// CR LF. A failed write is remembered and what follows is dropped.
struct buffered_file {
    int fd;
    bool text_mode;
    size_t flush_at;  // bytes gathered before they are written
    std::string buf;
    bool failed = false;

    void write(const char* data, size_t n) {
        if (!text_mode) {
            buf.append(data, n);
        } else {
            for (size_t i = 0; i < n; ++i) {
                if (data[i] == '\n') buf += '\r';
                buf += data[i];
            }
        }
        filled();
    }
    // After bytes were appended to buf directly.
    void filled() {
        if (buf.size() >= flush_at) flush();
    }
    void flush() {
        if (!failed && !write_all(fd, buf.data(), buf.size())) failed = true;
        buf.clear();
    }
};

// ">#" and ">%": the first column of every row into a file.
void run_to_file(const char* text, const char* name, bool text_mode) {
    timed_result t = execute_timed(text);
    result_ptr r(t.result);
    int elapsed = int(t.end_ms - t.start_ms);
    if (!r) return connection_lost();
    con_printf(text_mode ? "\r\nUse time:%d ms.      \r\n" : "Use time:%d ms.      \r\n", elapsed);
    g_console.line_count = 0;
    if (db_result_ok(r.get()) == 0) {
        report_failure("Error:%s\r\n",
                       db_result_message(r.get()) ? db_result_message(r.get()) : "");
        return;
    }
    // The file is emptied first: older, longer contents must not trail after the new ones.
    int fd = create_for_writing(name);
    if (fd < 0) {
        report_failure("Open file %s failed.\r\n", name);
        return;
    }
    fd_closer closer{fd};
    buffered_file out{fd, text_mode, output_buffer_size, {}};
    if (db_result_col_count(r.get()) > 0) {
        while (db_row* row = db_result_next(r.get()))
            out.write(db_row_value(row, 0), size_t(db_row_value_len(row, 0)));
    }
    out.flush();
    if (out.failed) {
        report_failure("\r\nWriting %s failed: the file holds only part of the result.\r\n", name);
        return;
    }
    if (db_result_cut_short(r.get())) {
        report_failure("\r\nConnection lost after %d records: the result is incomplete.\r\n",
                       db_result_row_count(r.get()));
        return;
    }
    con_printf("\r\nTotal %d records.\r\n\r\n", db_result_row_count(r.get()));
}

// One cursor statement of the export: false (with the message printed) when it failed.
bool cursor_step(const std::string& sql, bool& lost) {
    result_ptr r(execute_statement(sql.c_str()));
    if (!r) {
        lost = true;
        return false;
    }
    if (const char* message = db_result_message(r.get())) {
        report_failure("%s", message);
        return false;
    }
    return true;
}

void export_heading(db_result* batch, std::string& line) {
    for (int c = 0; c < db_result_col_count(batch); ++c) {
        line += column_display_name(db_result_col_name(batch, c));
        line += '|';
    }
    line += "\r\n";
}

// A cursor statement that could not go out on the connection the cursor lives on, or got no
// reply: the rows written so far go into the file, the export stops there, and the console
// reconnects (a lost connection) or leaves the connection to the next statement's usual look (the
// idle limit, bytes that answer nothing), which replaces it.
void export_cut_off(follow_on why, long long count, buffered_file& out) {
    out.flush();
    note_failure();
    if (why == follow_on::lost) {
        if (report_cancel()) return;
        con_printf("\r\nExport stopped: the connection was lost after %lld records.\r\n", count);
        connection_lost();
    } else {
        con_printf(why == follow_on::idle_passed
                       ? "\r\nExport stopped after %lld records: the server's idle limit has "
                         "passed, and the cursor goes with the connection.\r\n"
                       : "\r\nExport stopped after %lld records: the server sent bytes that "
                         "answer no statement, and the cursor goes with the connection.\r\n",
                   count);
    }
}

// ">$": the query through the server cursor printf_cur1 into a '|'-separated file. A full batch
// sends the next fetch before its rows are written, so that the server reads the next rows while
// the console writes these; every fetch goes out on the connection the cursor was declared on,
// or the export stops.
void run_export(const char* text, const char* name) {
    int fd = create_for_writing(name, false);
    if (fd < 0) {
        report_failure("ERROR:文件操作异常或指定盘符无操作权限！\\r\n");
        return;
    }
    fd_closer closer{fd};
    buffered_file out{fd, false, export_buffer_size, {}};
    out.buf.reserve(export_buffer_size + 4096);
    g_console.line_count = 0;
    bool lost = false;
    if (!cursor_step(std::string(cursor_declare) + text, lost)) {
        if (lost) connection_lost();
        return;
    }
    follow_on sent = execute_send_following(cursor_open);
    if (sent == follow_on::lost) return connection_lost();
    if (sent != follow_on::sent) return export_cut_off(sent, 0, out);
    {
        result_ptr opened(execute_receive());
        if (!opened) return connection_lost();
        if (const char* message = db_result_message(opened.get())) {
            con_printf("%s", message);
            db_result_free(execute_statement(cursor_close));
            return;
        }
    }
    long long count = 0;
    bool first = true;
    int failures = 0;
    bool stopped = false;  // by failed fetches: the file holds only part of the query
    bool pending = false;  // a fetch went out whose reply is still to be read
    sent = execute_send_following(cursor_fetch);
    for (;;) {
        if (sent != follow_on::sent) return export_cut_off(sent, count, out);
        result_ptr batch(execute_receive());
        if (!batch) return export_cut_off(follow_on::lost, count, out);
        // The rows of a batch are written whatever message comes with them; a warning leaves
        // the batch whole, an error makes it a failed fetch once its rows are written.
        const char* message = db_result_message(batch.get());
        if (message) con_printf("%s", message);
        const bool failed = message && db_result_msg_level(batch.get()) >= db_level_error;
        if (first && db_result_kind(batch.get()) == db_kind_query) {
            if (g_console.sput_head) export_heading(batch.get(), out.buf);
            first = false;
        }
        // A full batch that ends nothing: the next fetch goes out before these rows are written.
        const int rows = db_result_row_count(batch.get());
        const bool more = !failed && !db_result_cut_short(batch.get()) && rows != 0 &&
                          (count + rows) % export_batch == 0;
        if (more) {
            sent = execute_send_following(cursor_fetch);
            pending = sent == follow_on::sent;
        }
        const int cols = db_result_col_count(batch.get());
        while (db_row* row = db_result_next(batch.get())) {
            ++count;
            for (int c = 0; c < cols; ++c)
                render_export_value(db_result_col_type(batch.get(), c), db_row_value(row, c),
                                    db_row_value_len(row, c), out.buf);
            out.buf += "\r\n";
            out.filled();
        }
        if (out.failed) break;  // the file cannot take more
        if (db_result_cut_short(batch.get())) {
            // The rows that came are written whole; a short batch must not read as the last.
            return export_cut_off(follow_on::lost, count, out);
        }
        if (failed) {
            if (++failures == export_fetch_attempts) {
                report_failure(
                    "\r\nExport stopped after %d failed fetches: the file holds %lld "
                    "records.\r\n",
                    failures, count);
                stopped = true;
                break;
            }
            sent = execute_send_following(cursor_fetch);
            continue;
        }
        failures = 0;
        if (!more) break;
        pending = false;  // its reply is read at the top
        if (count % export_progress_every == 0) con_printf("\r\nHave export %lld redords", count);
    }
    if (pending) {
        // The file failed while a fetch was out: its reply is read and dropped, so that the
        // connection stays in step for the close.
        result_ptr dropped(execute_receive());
        if (!dropped) lost = true;
    }
    out.flush();
    const bool fd_closed = close_file(closer.fd);
    closer.fd = -1;
    if (out.failed || !fd_closed) {
        report_failure("\r\nWriting %s failed after %lld records: the file is incomplete.\r\n",
                       name, count);
    } else if (!stopped) {
        con_printf("\r\nTotal:%lld record", count);
    }
    if (lost) return connection_lost();
    db_result_free(execute_statement(cursor_close));
}

// The first occurrence of marker outside single-quoted text, or null.
char* find_marker(char* text, std::string_view marker) {
    size_t at = find_unquoted(text, marker);
    return at == std::string_view::npos ? nullptr : text + at;
}

char* skip_blanks(char* p) {
    while (*p == ' ' || *p == '\t')
        ++p;
    return p;
}

}  // namespace

redirections scan_redirections(char* text) {
    redirections r;
    char* bt = find_marker(text, ">#");
    char* t = find_marker(text, ">%");
    char* e = find_marker(text, ">$");
    char* lt = find_marker(text, "<");
    for (char* m : {bt, t, e})
        if (m) *m = '\0';
    if (bt) r.btfilename = skip_blanks(bt + 2);
    if (t) r.tfilename = skip_blanks(t + 2);
    if (e) r.efilename = skip_blanks(e + 2);
    if (lt && (lt[1] == '#' || lt[1] == '%' || lt[1] == '$') && lt - text >= 2) {
        char kind = lt[1];
        lt[-2] = '\0';
        char* list = lt - 1;
        if (kind == '#')
            r.bfilename = list;
        else if (kind == '%')
            r.sfilename = list;
        else
            r.bifilename = list;
    }
    return r;
}

void run_redirections(const char* text, const redirections& r) {
    if (const char* list = r.sfilename ? r.sfilename : r.bfilename ? r.bfilename : r.bifilename)
        run_with_parameter_files(text, list);
    else if (r.btfilename)
        run_to_file(text, r.btfilename, false);
    else if (r.tfilename)
        run_to_file(text, r.tfilename, true);
    else if (r.efilename)
        run_export(text, r.efilename);
}
