// Statement execution for the console: the idle limit, the execution wrapper that reconnects
// after the server's idle limit and keeps the open transaction's data-changing statements for
// replay, the outcome report, and reconnect-replay-retry after a lost connection.
#include "output/execute.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

#include "output/grid.h"
#include "output/redirect.h"
#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "state/console_state.h"
#include "text/scan.h"

namespace {

// State of the execution wrapper, console thread only.
struct exec_state {
    std::string last_statement;            // the text last given to execute_statement
    std::vector<std::string> replay_list;  // data-changing statements of the open transaction
    bool retry_pending = false;            // a statement's reply was missing
    int64_t retry_start_ms = 0;            // the clock readings of that statement's attempt
    int64_t retry_end_ms = 0;
    bool last_sent = false;        // last_statement went out: what it did is the server's to know
    bool last_auto_commit = true;  // the auto-commit setting it went out under
    bool dropped = false;          // it was not sent, no connection could be had, and the console
                                   // has said so: its missing reply asks for nothing more
    bool replay_broken = false;    // the open transaction holds a statement the list cannot hold
};

// What the console says when it cannot know or will not repeat what a statement did.
const char unknown_commit[] =
    "The connection was lost before the server answered: the transaction may or may not have "
    "been committed.\r\n";
const char unknown_run[] =
    "The connection was lost before the server answered: the statement may or may not have run; "
    "it was not run again.\r\n";
const char not_run[] = "The statement was not run.\r\n";
const char not_run_again[] = "The statement was not run again.\r\n";
const char stray_bytes[] = "The server sent bytes that answer no statement: reconnecting.\r\n";
const char transaction_lost[] =
    "The open transaction held a statement with parameter files, which cannot be sent again: "
    "the server rolled the transaction back.\r\n";

exec_state exec;

// The first word of text after blanks, tabs and line ends starts with prefix (any case).
bool starts_with_word(std::string_view text, std::string_view prefix) {
    size_t at = text.find_first_not_of(" \t\r\n");
    return at != std::string_view::npos && starts_with_nocase(text.substr(at), prefix);
}

// Runs the replay list on the (new) connection; stops at the first statement without a reply.
// An open transaction that held a statement with parameter files cannot be rebuilt: the rest of
// it alone would be committed later as if it were whole, so nothing is replayed and the console
// says that the transaction is gone. Returns false then.
bool replay() {
    if (exec.replay_broken) {
        exec.replay_broken = false;
        exec.replay_list.clear();
        con_printf(transaction_lost);
        return false;
    }
    for (const std::string& s : exec.replay_list) {
        db_result* r = db_execute(g_console.conn, s.c_str());
        if (!r) break;
        db_result_free(r);
    }
    return true;
}

bool failure_marked = false;

const char* level_format(int level) {
    switch (level) {
        case db_level_warning:
            return "Warnning: %s\r\n\r\n";
        case db_level_error:
            return "Error: %s\r\n\r\n";
        case db_level_fatal:
            return "Fatal: %s\r\n\r\n";
        default:
            return nullptr;
    }
}

bool keyword_is(const char* word) {
    return same_word(g_console.keyword, word);
}

// A statement whose reply was lost after it went out may be sent again only when that cannot
// apply it twice. With auto-commit off the server rolled the open transaction back with the lost
// connection, so replay and retry rebuild it, unless the statement ended the transaction: whether
// the server committed it then is unknown. With auto-commit on, a statement that may change data
// may already have been applied and committed.
bool may_retry(std::string_view text, bool auto_commit) {
    return auto_commit ? !may_change_data(text) : !ends_transaction(text);
}

// Reconnect, replay, then retry the statement whose reply was missing (once), reported with the
// clock readings of its first attempt. A failed reconnect leaves nothing pending: the retry is
// dropped (and said so), and the next statement reconnects first and then runs itself.
void reconnect_replay_retry() {
    g_console.line_count = 0;
    if (!reconnect_server()) {
        exec.replay_list.clear();
        exec.replay_broken = false;
        con_printf("Reconnect failed\r\n");
        if (exec.retry_pending) {
            exec.retry_pending = false;
            con_printf(exec.last_sent ? not_run_again : not_run);
        }
        return;
    }
    bool rebuilt = replay();
    if (!exec.retry_pending) {
        con_printf("reconnected...\r\n");
        return;
    }
    exec.retry_pending = false;
    // A statement of a transaction that could not be rebuilt must not run on its own.
    if (!rebuilt && may_change_data(exec.last_statement)) {
        con_printf(not_run_again);
        return;
    }
    std::string again = exec.last_statement;
    db_result* r = execute_statement(again.c_str());
    if (!r) {
        if (statement_dropped()) return;
        con_printf("Reconnect failed\r\n");
        exec.replay_list.clear();
        if (exec.last_sent && !may_retry(again, exec.last_auto_commit))
            con_printf(exec.last_auto_commit ? unknown_run : unknown_commit);
        return;
    }
    report_outcome(r, exec.retry_start_ms, exec.retry_end_ms);
}

// The reply of a statement that went out is lost and the statement is not sent again: nothing of
// the open transaction is replayed either. Reconnects and says that the outcome is unknown.
void outcome_unknown() {
    note_failure();
    exec.replay_list.clear();
    exec.replay_broken = false;
    g_console.line_count = 0;
    if (!reconnect_server()) con_printf("Reconnect failed\r\n");
    con_printf(exec.last_auto_commit ? unknown_run : unknown_commit);
}

// Replaces conn after the look before sending found it closed by the server, or holding bytes
// that answer no statement (stray), and says which; without a connection the console connects
// first, silently. The open transaction is replayed on the new connection. Returns false when no
// connection could be had: the console has said that the statement was not run.
bool replace_connection(db_conn*& conn, bool stray) {
    if (conn) con_printf(stray ? stray_bytes : "Net disconnect,reconnect.\r\n\r\n");
    g_console.line_count = 0;
    if (!reconnect_server()) {
        exec.replay_list.clear();
        exec.replay_broken = false;
        con_printf("Reconnect failed\r\n");
        con_printf(not_run);
        return false;
    }
    replay();
    conn = g_console.conn;
    return true;
}

// Looks at conn before a statement is sent: a connection that the server has closed, or that
// holds bytes answering no statement (the server is out of step), is dropped and replaced
// (replace_connection). Returns false when no connection could be had.
bool ready_to_send(db_conn*& conn) {
    const int state = conn ? db_idle_check(conn) : db_idle_closed;
    return state == db_idle_clean || replace_connection(conn, state == db_idle_stray);
}

// The start of every road that sends a statement: what a missing reply will refer to.
void begin_statement(const char* text, bool auto_commit) {
    plat_wait_was_cancelled();  // a cancel belongs to the statement it stopped
    exec.last_statement = text;
    exec.last_sent = false;
    exec.last_auto_commit = auto_commit;
    exec.dropped = false;
}

// The one step before a statement goes out on conn at the time now (plat_time_seconds), shared
// by the wrapper and the follow-on: it begins the statement (begin_statement) and says whether it
// may go out now. Not when the server's idle limit has passed since the last statement went out
// (the server has closed the connection, or may at any moment); not when the connection is gone
// or holds bytes that answer no statement. follow_on::sent means it may. Prints nothing: the
// wrapper replaces the connection on a no, the follow-on stops.
follow_on connection_state(db_conn* conn, int64_t now) {
    if (static_cast<double>(now) - g_console.last_activity >= g_console.max_idle_time)
        return follow_on::idle_passed;
    const int state = conn ? db_idle_check(conn) : db_idle_closed;
    if (state == db_idle_clean) return follow_on::sent;
    return state == db_idle_stray ? follow_on::stray : follow_on::lost;
}

follow_on may_go_out(const char* text, bool auto_commit, db_conn* conn, int64_t now) {
    begin_statement(text, auto_commit);
    return connection_state(conn, now);
}

// The statement goes out at now: the idle clock starts again, and a missing reply from here on
// belongs to a statement the server may have run.
void going_out(int64_t now) {
    g_console.last_activity = static_cast<double>(now);
    exec.last_sent = true;
}

// What the reply r of the statement last sent (text, under auto_commit) does to the replay list.
// A rolled-back statement must never be replayed: ROLLBACK empties the list too.
void keep_replay_list(const std::string& text, bool auto_commit, const db_result* r) {
    if (ends_transaction(text) || is_rollback(text) || auto_commit) {
        exec.replay_list.clear();
        exec.replay_broken = false;
    } else if (is_data_changing(text) && r &&
               (db_result_ok(r) == 1 || db_result_msg_level(r) == db_level_warning)) {
        exec.replay_list.push_back(text);
    }
}

}  // namespace

bool is_data_changing(std::string_view text) {
    return starts_with_word(text, "delete") || starts_with_word(text, "update") ||
           starts_with_word(text, "insert");
}

bool ends_transaction(std::string_view text) {
    return starts_with_word(text, "commit") || starts_with_word(text, "create") ||
           starts_with_word(text, "truncate") || starts_with_word(text, "alter") ||
           starts_with_word(text, "drop");
}

bool is_rollback(std::string_view text) {
    return starts_with_word(text, "rollback");
}

bool may_change_data(std::string_view text) {
    // Data manipulation, definition and rights, and the blocks and calls that may hold any of
    // them: the console cannot see into those.
    static constexpr std::string_view words[] = {
        "insert", "update", "delete", "merge",    "replace", "upsert",
        "create", "alter",  "drop",   "truncate", "rename",  "comment",
        "grant",  "revoke", "call",   "exec",     "begin",   "declare"};
    for (std::string_view w : words)
        if (starts_with_word(text, w)) return true;
    return false;
}

int replay_list_size() {
    return static_cast<int>(exec.replay_list.size());
}

void idle_tracking_start() {
    g_console.max_idle_time = no_idle_limit;
    db_result* r = db_execute(g_console.conn, "show max_idle_time");
    if (r) {
        db_row* row = db_result_next(r);
        if (row && db_result_col_count(r) > 0 && db_row_value_len(row, 0) >= 4)
            std::memcpy(&g_console.max_idle_time, db_row_value(row, 0), 4);
        db_result_free(r);
    }
    g_console.last_activity = static_cast<double>(plat_time_seconds());
}

bool reconnect_server() {
    // Without a connection the start-up's choice of channel stands.
    bool secure = g_console.conn ? db_conn_secure(g_console.conn) != 0 : g_console.secure_login;
    if (secure && std::strcmp(g_console.ssl_mode, "SSL") == 0) g_console.b_pause = false;
    db_disconnect(g_console.conn);
    // The login carries the console's auto-commit setting, so that a replayed open transaction
    // stays open on the new connection.
    g_console.conn =
        db_connect(g_console.ssl_mode, g_console.host, static_cast<uint16_t>(g_console.port),
                   g_console.database, g_console.user, g_console.password, g_console.encryptor,
                   "GBK", nullptr, nullptr, 0, g_console.auto_commit ? 1 : 0, secure ? 1 : 0, 0);
    if (!g_console.conn) note_failure();
    if (secure)
        con_printf(g_console.conn ? "SSL Connect ok.\r\n" : "SSL Connect failed.\r\n");
    else
        con_printf(g_console.conn ? "Connect ok.\r\n" : "Connect failed.\r\n");
    return g_console.conn != nullptr;
}

namespace {

db_result* execute_wrapped(const char* text) {
    db_conn* conn = g_console.conn;
    const bool auto_commit = g_console.auto_commit;
    const int64_t now = plat_time_seconds();
    const follow_on look = may_go_out(text, auto_commit, conn, now);
    if (look == follow_on::idle_passed) {
        // The connection is not looked at: it is replaced in any case.
        if (!reconnect_server()) return nullptr;
        replay();
        conn = g_console.conn;
    } else if (look != follow_on::sent && !replace_connection(conn, look == follow_on::stray)) {
        exec.dropped = true;
        return nullptr;
    }
    going_out(now);
    db_result* r = db_execute(conn, text);
    keep_replay_list(exec.last_statement, auto_commit, r);
    return r;
}

db_result* execute_unwrapped(const char* text) {
    db_conn* conn = g_console.conn;
    begin_statement(text, g_console.auto_commit);
    if (!ready_to_send(conn)) {
        exec.dropped = true;
        return nullptr;
    }
    going_out(plat_time_seconds());
    return db_execute(conn, text);
}

}  // namespace

db_result* execute_statement(const char* text, statement_road road) {
    return road == statement_road::wrapped ? execute_wrapped(text) : execute_unwrapped(text);
}

follow_on execute_send_following(const char* text) {
    db_conn* conn = g_console.conn;
    const int64_t now = plat_time_seconds();
    const follow_on look = may_go_out(text, g_console.auto_commit, conn, now);
    if (look != follow_on::sent) return look;
    going_out(now);
    return db_send_statement(conn, text) ? follow_on::sent : follow_on::lost;
}

db_result* execute_receive() {
    db_result* r = db_read_reply(g_console.conn);
    keep_replay_list(exec.last_statement, exec.last_auto_commit, r);
    return r;
}

timed_result execute_timed(const char* text, statement_road road) {
    int64_t start = plat_clock_ms();
    db_result* r = execute_statement(text, road);
    return {r, start, plat_clock_ms()};
}

void run_and_report(const char* text, statement_road road) {
    timed_result t = execute_timed(text, road);
    report_outcome(t.result, t.start_ms, t.end_ms);
}

bool connection_ready_to_send() {
    plat_wait_was_cancelled();  // a cancel belongs to the statement it stopped
    exec.dropped = false;
    db_conn* conn = g_console.conn;
    return ready_to_send(conn);
}

void parameter_statement_sent(bool auto_commit) {
    if (!auto_commit) exec.replay_broken = true;
}

void parameter_statement_lost(bool auto_commit) {
    report_failure("Net disconnect,reconnect.\r\n\r\n");
    g_console.line_count = 0;
    if (auto_commit) {
        exec.last_auto_commit = true;
        outcome_unknown();
        return;
    }
    // The server rolled the open transaction back with the connection, this statement too.
    exec.replay_broken = true;
    if (!reconnect_server()) {
        exec.replay_list.clear();
        exec.replay_broken = false;
        con_printf("Reconnect failed\r\n");
        return;
    }
    replay();
    con_printf(not_run_again);
}

void note_failure() {
    failure_marked = true;
}

bool take_failure() {
    bool marked = failure_marked;
    failure_marked = false;
    return marked;
}

void report_failure(const char* fmt, ...) {
    note_failure();
    va_list ap;
    va_start(ap, fmt);
    con_vprintf(fmt, ap);
    va_end(ap);
}

void command_reply_lost(const char* announce) {
    note_failure();
    if (statement_dropped() || report_cancel()) return;
    if (announce) con_printf("%s", announce);
    reconnect_and_replay();
}

bool statement_dropped() {
    bool dropped = exec.dropped;
    exec.dropped = false;
    return dropped;
}

bool report_cancel() {
    if (!plat_wait_was_cancelled()) return false;
    exec.retry_pending = false;
    g_console.line_count = 0;
    report_failure("Cancelled: the statement was sent and the server may still have run it.\r\n");
    return true;
}

void report_outcome(db_result* r, int64_t start_ms, int64_t end_ms) {
    // Ctrl+C while the reply was awaited: the connection is closed; the statement is not run
    // again, and the next one reconnects (replaying the open transaction). A statement that was
    // never sent was not cancelled (a Ctrl+C may have stopped its reconnect).
    if (!r && !exec.dropped && report_cancel()) return;
    if (!r) {
        if (statement_dropped()) return;
        con_printf("Net disconnect,reconnect.\r\n\r\n");
        if (exec.last_sent && !may_retry(exec.last_statement, exec.last_auto_commit)) {
            outcome_unknown();
            return;
        }
        exec.retry_pending = true;
        exec.retry_start_ms = start_ms;
        exec.retry_end_ms = end_ms;
        reconnect_replay_retry();
        return;
    }
    int level = db_result_msg_level(r);
    if (db_result_ok(r) == 1 || level == db_level_warning) {
        int kind = db_result_kind(r);
        if (kind == db_kind_query) {
            if (g_console.desc_mode) {
                describe_columns(r);
                db_result_free(r);
                return;
            }
            list_rows(r);
            if (db_result_cut_short(r)) {
                con_printf("\r\nConnection lost after %d records: the result is incomplete.\r\n",
                           db_result_row_count(r));
            } else if (!keyword_is("DESC") && !keyword_is("SHOW")) {
                con_printf("\r\nTotal %d records.\r\n", db_result_row_count(r));
            }
        } else if (kind == db_kind_insert || kind == db_kind_update || kind == db_kind_delete) {
            // Summed modulo 2^32 like the counts themselves: the server chooses them.
            uint32_t total = uint32_t(db_result_inserted(r)) + uint32_t(db_result_updated(r)) +
                             uint32_t(db_result_deleted(r));
            con_printf("\r\nTotal %d records effected.\r\n", int32_t(total));
        } else {
            con_printf("\r\nExecute successful.");
        }
        if (g_console.show_use_time)
            con_printf("Use time:%d ms.     \r\n", static_cast<int>(end_ms - start_ms));
    }
    if (db_result_ok(r) != 1 && level != db_level_warning) note_failure();
    if (const char* fmt = level_format(level)) {
        const char* message = db_result_message(r);
        con_printf(fmt, message ? message : "");
    }
    db_result_free(r);
}

void reconnect_and_replay() {
    reconnect_replay_retry();
}

void run_statement() {
    // Without a connection (a reconnect failed before) the statement connects first, on its road
    // to the server, and then runs.
    char* text = g_console.sql_buff;
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ';' || text[n - 1] == '\n' || text[n - 1] == ' '))
        text[--n] = '\0';
    redirections files = scan_redirections(text);
    if (files.any()) {
        g_console.line_count = 0;
        run_redirections(text, files);
        return;
    }
    // The statement buffer always keeps room for the one ';' appended here.
    text[n] = ';';
    text[n + 1] = '\0';
    g_console.line_count = 0;
    run_and_report(text);
}

follow_on look_before_sending(db_conn* conn) {
    return connection_state(conn, plat_time_seconds());
}
