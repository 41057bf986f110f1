// The cursor statements of a connection. Each cursor keeps its prepared statement between
// statements; a fetch steps it for at most N rows and writes each row as SQLite yields it, then
// leaves the statement where it stopped for the next fetch.
//
// The table of cursors belongs to the connection, and a connection is served by one thread from
// login to close (server/session.h), so the table is the thread's own: nothing is shared and
// nothing is locked. srv_close_cursors empties it when the connection ends.
#include "server/cursor.h"

#include <sqlite3.h>

#include <map>
#include <string_view>
#include <vector>

#include "server/classify.h"
#include "server/execute.h"
#include "server/log.h"
#include "server/rows.h"
#include "server/sqlite_stmt.h"
#include "server/text.h"

namespace {

enum class cursor_state {
    declared,   // prepared; not open, or stopped by an error: fetch refuses
    reading,    // open: the next fetch steps on
    exhausted,  // SQLite said done: fetches answer no rows until the next open
};

struct cursor {
    std::string name;               // as declared, for the log
    sqlite3_stmt* st = nullptr;     // owned; finalised with the cursor
    std::vector<srv_param> params;  // of the declare message; bound in place to st
    cursor_state state = cursor_state::declared;
    std::vector<srv_col_type> types;  // fixed by the first fetch after open; empty before
    cursor() = default;
    cursor(const cursor&) = delete;
    cursor& operator=(const cursor&) = delete;
    ~cursor() { sqlite3_finalize(st); }
};

struct cursor_table {
    const srv_session* owner = nullptr;     // the connection the cursors belong to
    std::map<std::string, cursor> by_name;  // key: the name in lower case; nodes never move
};

thread_local cursor_table table;

std::map<std::string, cursor>& cursors_of(const srv_session& s) {
    if (table.owner != &s) {
        table.by_name.clear();
        table.owner = &s;
    }
    return table.by_name;
}

std::string lower(std::string_view name) {
    std::string key(name);
    for (char& c : key)
        c = srv_lower(c);
    return key;
}

cursor* find(const srv_session& s, std::string_view name) {
    auto& by_name = cursors_of(s);
    auto it = by_name.find(lower(name));
    return it == by_name.end() ? nullptr : &it->second;
}

bool finish(srv_session& s) {
    srv_put_pending(s);
    srv_put_u8(s.out, 'K');
    return srv_flush(s.out);
}

bool reply_error(srv_session& s, std::string_view text) {
    s.outcome = {srv_outcome_kind::error, 0, std::string(text)};
    srv_put_pending(s);
    srv_put_message(s.out, 'E', text);
    return finish(s);
}

std::string not_declared(std::string_view name) {
    return "cursor '" + std::string(name) + "' is not declared";
}

void log_fetch(const srv_session& s, const cursor& c, int64_t asked, int64_t sent,
               const char* failure) {
    if (failure) {
        srv_log("conn %d %s: fetch %lld from %s: %lld rows, then failed: %s", s.id, s.peer.c_str(),
                static_cast<long long>(asked), c.name.c_str(), static_cast<long long>(sent),
                failure);
    } else {
        srv_log("conn %d %s: fetch %lld from %s: %lld rows", s.id, s.peer.c_str(),
                static_cast<long long>(asked), c.name.c_str(), static_cast<long long>(sent));
    }
}

// After an error the statement is reset; the client opens the cursor again to read anew.
void stop(cursor& c) {
    sqlite3_reset(c.st);
    c.state = cursor_state::declared;
}

}  // namespace

bool srv_declare_cursor(srv_session& s, const std::string& name, const std::string& query,
                        const srv_statement& m) {
    auto& by_name = cursors_of(s);
    std::string key = lower(name);
    if (by_name.contains(key)) return reply_error(s, "cursor '" + name + "' is already declared");
    if (by_name.size() >= srv_cursors_max) {
        return reply_error(s, "too many cursors: at most " + std::to_string(srv_cursors_max) +
                                  " at once on a connection");
    }
    srv_stmt_holder st;
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(s.db, query.data(), static_cast<int>(query.size()),
                           SQLITE_PREPARE_PERSISTENT, &st.p, &tail) != SQLITE_OK) {
        return reply_error(s, sqlite3_errmsg(s.db));
    }
    if (!st.p) return reply_error(s, "cursor '" + name + "' has no query");
    const std::string_view rest(tail, static_cast<size_t>(query.data() + query.size() - tail));
    if (!srv_skip_trivia(rest).empty()) {
        return reply_error(s, "a cursor's query is one statement");
    }
    if (sqlite3_column_count(st.p) == 0 || !sqlite3_stmt_readonly(st.p)) {
        return reply_error(s, "a cursor's query returns rows and only reads");
    }
    cursor& c = by_name.try_emplace(key).first->second;
    c.name = name;
    c.st = st.p;
    st.p = nullptr;
    c.params = m.params;
    size_t next = 0;
    if (!srv_bind_params(c.st, c.params, next)) {
        std::string why = sqlite3_errmsg(s.db);
        by_name.erase(key);
        return reply_error(s, why);
    }
    return finish(s);
}

bool srv_open_cursor(srv_session& s, const std::string& name) {
    cursor* c = find(s, name);
    if (!c) return reply_error(s, not_declared(name));
    std::string why;
    if (!srv_begin_implicit(s, why)) return reply_error(s, why);
    sqlite3_reset(c->st);  // its result repeats an earlier step's error, which is over
    c->state = cursor_state::reading;
    c->types.clear();
    return finish(s);
}

bool srv_fetch_cursor(srv_session& s, const std::string& name, int64_t rows) {
    cursor* c = find(s, name);
    if (!c) return reply_error(s, not_declared(name));
    if (c->state == cursor_state::declared) {
        return reply_error(s, "cursor '" + name + "' is not open");
    }
    std::string why;
    if (!srv_begin_implicit(s, why)) return reply_error(s, why);

    // An exhausted statement is not stepped again: SQLite would start it over.
    int rc = SQLITE_DONE;
    if (c->state == cursor_state::reading) rc = sqlite3_step(c->st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        why = sqlite3_errmsg(s.db);
        stop(*c);
        log_fetch(s, *c, rows, 0, why.c_str());
        return reply_error(s, why);
    }
    // The types of columns typed by storage come from the first row the cursor gives, so every
    // batch describes its columns alike.
    if (c->types.empty() || c->types.size() != static_cast<size_t>(sqlite3_column_count(c->st))) {
        srv_column_types(c->st, rc == SQLITE_ROW, c->types);
    }
    srv_put_columns(s, c->st, c->types);
    if (srv_drop_after_rows(s, 0)) return false;
    int64_t sent = 0;
    while (rc == SQLITE_ROW) {
        srv_put_row(s, c->st, c->types);
        ++sent;
        if (s.out.failed || srv_drop_after_rows(s, sent)) return false;
        if (sent == rows) break;
        rc = sqlite3_step(c->st);
    }
    if (rc == SQLITE_DONE) {
        c->state = cursor_state::exhausted;
    } else if (rc != SQLITE_ROW) {
        // Rows have gone out already: the code travels in the text.
        why = srv_error_after_rows(s.db);
        stop(*c);
        log_fetch(s, *c, rows, sent, why.c_str());
        return reply_error(s, why);
    }
    log_fetch(s, *c, rows, sent, nullptr);
    s.outcome = {srv_outcome_kind::rows, sent, {}};
    return finish(s);
}

bool srv_close_cursor(srv_session& s, const std::string& name) {
    auto& by_name = cursors_of(s);
    if (by_name.erase(lower(name)) == 0) return reply_error(s, not_declared(name));
    return finish(s);
}

void srv_close_cursors(srv_session& s) {
    cursors_of(s).clear();
}
