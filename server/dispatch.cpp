// Dispatches a statement by its class (server/classify.h): one small handler per statement that
// norvlite answers itself, the cursor statements (server/cursor.h), and srv_execute_sql for SQL.
#include "server/dispatch.h"

#include <string_view>

#include <sqlite3.h>

#include "protocol/type_codes.h"
#include "server/classify.h"
#include "server/cursor.h"
#include "server/execute.h"
#include "server/load.h"
#include "server/log.h"
#include "server/login.h"
#include "server/login_text.h"

namespace {

bool finish(srv_session& s) {
    srv_put_u8(s.out, 'K');
    return srv_flush(s.out);
}

bool reply_error(srv_session& s, std::string_view text) {
    s.outcome = {srv_outcome_kind::error, 0, std::string(text)};
    srv_put_message(s.out, 'E', text);
    return finish(s);
}

// One column named name, one row.
bool reply_setting(srv_session& s, std::string_view name, std::string_view text) {
    s.outcome = {srv_outcome_kind::rows, 1, {}};
    srv_put_u8(s.out, 'A');
    srv_put_i32(s.out, 1);
    srv_put_column(s.out, name, db_type_char, -1, 0);
    srv_put_u8(s.out, 'R');
    srv_put_text(s.out, text);
    return finish(s);
}

bool reply_setting(srv_session& s, std::string_view name, int32_t value) {
    s.outcome = {srv_outcome_kind::rows, 1, {}};
    srv_put_u8(s.out, 'A');
    srv_put_i32(s.out, 1);
    srv_put_column(s.out, name, db_type_integer, -1, 0);
    srv_put_u8(s.out, 'R');
    srv_put_i32(s.out, 4);
    srv_put_i32(s.out, value);
    return finish(s);
}

bool show(srv_session& s, const std::string& name) {
    const srv_settings& set = s.settings;
    if (name == "max_idle_time") return reply_setting(s, name, s.opts->max_idle_time);
    if (name == "auto_commit") return reply_setting(s, name, s.auto_commit ? "on" : "off");
    if (name == "client_encoding" || name == "char_set") {
        return reply_setting(s, name, set.char_set);
    }
    if (name == "time_zone" || name == "timezone") return reply_setting(s, name, set.time_zone);
    if (name == "transaction_isolation" || name == "transaction_isolation_level" ||
        name == "iso_level") {
        return reply_setting(s, name, set.iso_level);
    }
    if (name == "lock_timeout") return reply_setting(s, name, set.lock_timeout);
    if (name == "session_authorization") {
        return reply_setting(s, name, set.authorization.empty() ? s.user : set.authorization);
    }
    if (name == "server_version") return reply_setting(s, name, "norvlite");
    return reply_error(s, "unknown setting '" + name + "'");
}

bool set_auto_commit(srv_session& s, bool on) {
    // Switching it on ends the open transaction, as every statement is its own from now on.
    std::string why;
    if (on && !srv_commit_open(s, why)) return reply_error(s, why);
    s.auto_commit = on;
    return finish(s);
}

// Switches the connection to another database; the open transaction is committed first, as a
// change of database ends it, and the cursors are closed, as they read the old one.
bool use_database(srv_session& s, const std::string& name) {
    if (!srv_valid_database_name(name))
        return reply_error(s, "invalid database name '" + name + "'");
    std::string why;
    if (!srv_commit_open(s, why)) return reply_error(s, why);
    sqlite3* db = srv_open_database(*s.opts, name, why);
    if (!db) return reply_error(s, why);
    sqlite3* old = s.db;
    s.db = db;
    if (!srv_ready_database(s, why)) {
        sqlite3_close(s.db);
        s.db = old;
        return reply_error(s, why);
    }
    srv_close_cursors(s);
    sqlite3_close(old);
    s.database = name;
    srv_log("conn %d %s: now on database '%s'", s.id, s.peer.c_str(), s.database.c_str());
    return finish(s);
}

bool output(srv_session& s, const srv_stmt_class& c) {
    srv_put_u8(s.out, 'O');
    srv_put_i32(s.out, 0);
    srv_put_text(s.out, c.flag ? std::string_view(c.arg) : std::string_view());
    return finish(s);
}

}  // namespace

bool srv_dispatch(srv_session& s, const srv_statement& m) {
    srv_stmt_class c = srv_classify(m.text);
    switch (c.kind) {
        case srv_stmt_kind::show:
            return show(s, c.arg);
        case srv_stmt_kind::set_auto_commit:
            return set_auto_commit(s, c.flag);
        case srv_stmt_kind::set_client_encoding:
            s.settings.char_set = c.arg;
            return finish(s);
        case srv_stmt_kind::set_time_zone:
            s.settings.time_zone = c.arg;
            return finish(s);
        case srv_stmt_kind::set_isolation:
            s.settings.iso_level = c.arg;
            return finish(s);
        case srv_stmt_kind::set_lock_timeout:
            s.settings.lock_timeout = static_cast<int32_t>(c.number);
            return finish(s);
        case srv_stmt_kind::set_session_authorization:
            s.settings.authorization = c.arg;
            return finish(s);
        case srv_stmt_kind::use_database:
            return use_database(s, c.arg);
        case srv_stmt_kind::norvlite_message:
            if (c.letter == 'E' || c.letter == 'F') {
                s.outcome = {srv_outcome_kind::error, 0, c.arg};
            }
            srv_put_message(s.out, c.letter, c.arg);
            return finish(s);
        case srv_stmt_kind::norvlite_output:
            return output(s, c);
        case srv_stmt_kind::declare_cursor:
            return srv_declare_cursor(s, c.arg, c.query, m);
        case srv_stmt_kind::open_cursor:
            return srv_open_cursor(s, c.arg);
        case srv_stmt_kind::fetch_cursor:
            return srv_fetch_cursor(s, c.arg, c.number);
        case srv_stmt_kind::close_cursor:
            return srv_close_cursor(s, c.arg);
        case srv_stmt_kind::set_debug_pipe:
            // "on" is answered by the pipe itself once it is registered (server/session.cpp),
            // so the client sees "K" only when every later statement reaches it.
            s.debug_pipe = c.flag;
            return c.flag || finish(s);
        case srv_stmt_kind::load_stream:
            return srv_run_load(s, c.query);
        case srv_stmt_kind::bad_command:
            return reply_error(s, c.arg);
        case srv_stmt_kind::sql:
        case srv_stmt_kind::begin:
        case srv_stmt_kind::commit:
        case srv_stmt_kind::rollback:
        case srv_stmt_kind::ddl:
        case srv_stmt_kind::no_transaction:
            break;
    }
    return srv_execute_sql(s, m, c.kind);
}
