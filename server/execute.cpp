// Runs statement texts on SQLite and streams the reply. Each statement of a text is prepared
// in turn (so a CREATE is visible to the INSERT after it); all but the last run to completion
// silently, the last one answers. Rows go out one by one as sqlite3_step yields them.
#include "server/execute.h"
#include "server/text.h"

#include <sqlite3.h>

#include <mutex>
#include <string_view>

#include "server/catalogue.h"
#include "server/cursor.h"
#include "server/log.h"
#include "server/rows.h"
#include "server/sqlite_stmt.h"

namespace {

inline constexpr int busy_timeout_ms = 5000;
inline constexpr size_t pending_max = size_t{16} << 20;  // queued message bytes between rows

enum class run_status {
    done,    // the reply so far is complete but for "K"
    failed,  // an "E" has been written; the text stopped
    drop,    // the connection must end now
};

bool exec_simple(sqlite3* db, const char* sql, std::string& why) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
    why = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    return false;
}

run_status fail(srv_session& s, std::string_view message) {
    s.outcome = {srv_outcome_kind::error, 0, std::string(message)};
    srv_put_pending(s);
    srv_put_message(s.out, 'E', message);
    return run_status::failed;
}

// norv_notice, norv_warn, norv_error, norv_fatal: queue a message, return the first argument.
template <char letter>
void message_function(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    auto* s = static_cast<srv_session*>(sqlite3_user_data(ctx));
    sqlite3_value* text = argv[argc - 1];
    const unsigned char* p = sqlite3_value_text(text);
    size_t n = static_cast<size_t>(sqlite3_value_bytes(text));
    if (s->pending.size() + n + 5 > pending_max) {
        sqlite3_result_error(ctx, "too many messages waiting for the next row", -1);
        return;
    }
    s->pending += letter;
    for (int shift = 24; shift >= 0; shift -= 8)
        s->pending += static_cast<char>((n >> shift) & 0xff);
    if (p) s->pending.append(reinterpret_cast<const char*>(p), n);
    if (argc == 2) {
        sqlite3_result_value(ctx, argv[0]);
    } else {
        sqlite3_result_null(ctx);
    }
}

struct message_function_entry {
    const char* name;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
};

constexpr message_function_entry message_functions[] = {
    {"norv_notice", message_function<'M'>},
    {"norv_warn", message_function<'W'>},
    {"norv_error", message_function<'E'>},
    {"norv_fatal", message_function<'F'>},
};

// ---- inserted rows ------------------------------------------------------------------------------

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (srv_lower(a[i]) != srv_lower(b[i])) return false;
    }
    return true;
}

// One identifier from the front of t: "quoted", `quoted`, [quoted] or bare.
bool read_identifier(std::string_view& t, std::string& out) {
    while (!t.empty() && srv_blank(t.front()))
        t.remove_prefix(1);
    out.clear();
    if (t.empty()) return false;
    if (srv_name_close(t.front())) return srv_take_quoted_name(t, out);
    size_t n = 0;
    while (n < t.size() && !srv_blank(t[n]) && t[n] != '(' && t[n] != '.' && t[n] != ',' &&
           t[n] != ';')
        ++n;
    out.assign(t.substr(0, n));
    t.remove_prefix(n);
    return n > 0;
}

// The table an INSERT or REPLACE writes to, or "" when the text is not of the plain form
// "INSERT [OR x] INTO [schema.]name" / "REPLACE INTO name".
std::string insert_target(std::string_view sql) {
    std::string_view t = srv_skip_trivia(sql);
    std::string word, name;
    if (!read_identifier(t, word)) return "";
    if (same_name(word, "insert")) {
        if (!read_identifier(t, word)) return "";
        if (same_name(word, "or") && !(read_identifier(t, word) && read_identifier(t, word))) {
            return "";
        }
    } else if (!same_name(word, "replace") || !read_identifier(t, word)) {
        return "";
    }
    if (!same_name(word, "into") || !read_identifier(t, name)) return "";
    if (t.starts_with('.') && !(t.remove_prefix(1), read_identifier(t, name))) return "";
    return name;
}

// Watches the inserts of one statement and writes an "I" with the row id of each row that
// lands in the statement's own table (rows that triggers insert elsewhere do not count),
// after the messages queued while the row was made.
struct insert_watch {
    srv_session* s;
    std::string target;  // empty: every table
};

void on_row_change(void* ctx, int op, const char*, const char* table, sqlite3_int64 rowid) {
    auto* w = static_cast<insert_watch*>(ctx);
    if (op != SQLITE_INSERT || (!w->target.empty() && !same_name(table, w->target))) return;
    srv_put_pending(*w->s);
    srv_put_u8(w->s->out, 'I');
    srv_put_i32(w->s->out, 8);
    srv_put_be(w->s->out, static_cast<uint64_t>(rowid), 8);
}

// ---- running one statement ----------------------------------------------------------------------

run_status stream_rows(srv_session& s, sqlite3_stmt* st) {
    int rc = sqlite3_step(st);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return fail(s, sqlite3_errmsg(s.db));
    srv_column_types(st, rc == SQLITE_ROW, s.col_types);
    srv_put_columns(s, st, s.col_types);
    long long rows = 0;
    if (srv_drop_after_rows(s, rows)) return run_status::drop;
    while (rc == SQLITE_ROW) {
        srv_put_row(s, st, s.col_types);
        ++rows;
        if (s.out.failed) return run_status::drop;
        if (srv_drop_after_rows(s, rows)) return run_status::drop;
        rc = sqlite3_step(st);
    }
    if (rc != SQLITE_DONE) {
        // Rows have gone out already: the code travels in the text.
        return fail(s, srv_error_after_rows(s.db));
    }
    srv_put_pending(s);
    s.outcome = {srv_outcome_kind::rows, rows, {}};
    return run_status::done;
}

run_status run_last(srv_session& s, sqlite3_stmt* st) {
    if (sqlite3_column_count(st) > 0) return stream_rows(s, st);
    const std::string first = srv_first_word(sqlite3_sql(st));
    const bool insert = first == "insert" || first == "replace";
    insert_watch watch{&s, insert ? insert_target(sqlite3_sql(st)) : ""};
    if (insert) sqlite3_update_hook(s.db, on_row_change, &watch);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    }
    if (insert) sqlite3_update_hook(s.db, nullptr, nullptr);
    if (rc != SQLITE_DONE) return fail(s, sqlite3_errmsg(s.db));
    srv_put_pending(s);
    if (first == "update" || first == "delete") {
        srv_put_u8(s.out, first == "update" ? 'U' : 'D');
        srv_put_i32(s.out, sqlite3_changes(s.db));
    }
    if (insert || first == "update" || first == "delete") {
        s.outcome = {srv_outcome_kind::changed, sqlite3_changes64(s.db), {}};
    }
    return s.out.failed ? run_status::drop : run_status::done;
}

run_status run_text(srv_session& s, const srv_statement& m) {
    const char* p = m.text.data();
    const char* end = p + m.text.size();
    size_t next_param = 0;
    while (p < end) {
        srv_stmt_holder st;
        const char* tail = nullptr;
        // The length counts the text's terminating zero byte: SQLite then reads the text in place
        // instead of copying the rest of it for every statement of a long script.
        if (sqlite3_prepare_v2(s.db, p, static_cast<int>(end - p + 1), &st.p, &tail) != SQLITE_OK) {
            return fail(s, sqlite3_errmsg(s.db));
        }
        if (!tail || tail <= p) break;
        p = tail;
        if (!st.p) continue;  // an empty statement: only blanks, comments or ';'

        if (!srv_bind_params(st.p, m.params, next_param)) return fail(s, sqlite3_errmsg(s.db));
        if (srv_skip_trivia(std::string_view(p, static_cast<size_t>(end - p))).empty()) {
            return run_last(s, st.p);
        }
        int rc;
        while ((rc = sqlite3_step(st.p)) == SQLITE_ROW) {
        }
        if (rc != SQLITE_DONE) return fail(s, sqlite3_errmsg(s.db));
    }
    return run_status::done;
}

}  // namespace

bool srv_bind_params(sqlite3_stmt* st, const std::vector<srv_param>& params, size_t& next) {
    const int n = sqlite3_bind_parameter_count(st);
    for (int i = 1; i <= n && next < params.size(); ++i, ++next) {
        const srv_param& p = params[next];
        int rc;
        if (p.type == srv_param_type_text) {
            size_t len = p.bytes.size();
            if (len > 0 && p.bytes[len - 1] == '\0') --len;
            rc = sqlite3_bind_text64(st, i, p.bytes.data(), len, SQLITE_STATIC, SQLITE_UTF8);
        } else {
            rc = sqlite3_bind_blob64(st, i, p.bytes.data(), p.bytes.size(), SQLITE_STATIC);
        }
        if (rc != SQLITE_OK) return false;
    }
    return true;
}

bool srv_ready_database(srv_session& s, std::string& why) {
    sqlite3_busy_timeout(s.db, busy_timeout_ms);
    for (const message_function_entry& f : message_functions) {
        for (int args = 1; args <= 2; ++args) {
            if (sqlite3_create_function_v2(s.db, f.name, args, SQLITE_UTF8, &s, f.fn, nullptr,
                                           nullptr, nullptr) != SQLITE_OK) {
                why = std::string("cannot register ") + f.name + ": " + sqlite3_errmsg(s.db);
                return false;
            }
        }
    }
    // Write-ahead logging without a sync per commit: a development server trades the last
    // commits before a power loss for speed, and an open cursor no longer blocks the writers of
    // other connections. Switching a new database to it takes the database whole, and two
    // connections switching at once can find it locked without waiting: one at a time.
    static std::mutex readying;
    std::lock_guard<std::mutex> one_at_a_time(readying);
    return exec_simple(s.db,
                       "PRAGMA temp_store = MEMORY; PRAGMA journal_mode = WAL; "
                       "PRAGMA synchronous = NORMAL",
                       why) &&
           srv_create_catalogue_views(s.db, why);
}

bool srv_begin_implicit(srv_session& s, std::string& why) {
    return s.auto_commit || !sqlite3_get_autocommit(s.db) || exec_simple(s.db, "BEGIN", why);
}

bool srv_commit_open(srv_session& s, std::string& why) {
    return sqlite3_get_autocommit(s.db) || exec_simple(s.db, "COMMIT", why);
}

void srv_rollback_open(srv_session& s) {
    if (!s.db) return;
    // A closing connection's cursors go first: the database handle closes only without them.
    srv_close_cursors(s);
    if (sqlite3_get_autocommit(s.db)) return;
    std::string why;
    if (exec_simple(s.db, "ROLLBACK", why)) {
        srv_log("conn %d %s: open transaction rolled back", s.id, s.peer.c_str());
    } else {
        srv_log("conn %d %s: rollback of the open transaction failed: %s", s.id, s.peer.c_str(),
                why.c_str());
    }
}

bool srv_execute_sql(srv_session& s, const srv_statement& m, srv_stmt_kind kind) {
    using enum srv_stmt_kind;
    const bool open = !sqlite3_get_autocommit(s.db);
    run_status status = run_status::done;
    std::string why;
    // COMMIT or ROLLBACK with nothing open ends nothing: answered like an empty transaction.
    if (!((kind == commit || kind == rollback) && !open)) {
        const bool implicit_begin =
            kind != begin && kind != commit && kind != rollback && kind != no_transaction;
        if (implicit_begin && !srv_begin_implicit(s, why)) {
            status = fail(s, why);
        } else {
            status = run_text(s, m);
        }
        // The console takes CREATE, ALTER and DROP to end the transaction; so they do here.
        if (status == run_status::done && kind == ddl && !s.auto_commit &&
            !srv_commit_open(s, why)) {
            status = fail(s, why);
        }
    }
    if (status == run_status::drop) return false;
    srv_put_pending(s);
    srv_put_u8(s.out, 'K');
    return srv_flush(s.out);
}
