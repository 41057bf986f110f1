// Runs a streamed load on the connection's thread: read a batch whole, then put its records into
// the table with one prepared INSERT inside one transaction, writing "W" and "E" replies as they
// happen, and flush them before the next batch is read. With --load-sink the records are only
// walked and counted, and SQLite is never touched.
#include "server/load.h"

#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "server/execute.h"
#include "server/faults.h"
#include "server/load_batch.h"
#include "server/load_statement.h"
#include "server/log.h"
#include "server/sqlite_stmt.h"

namespace {

// "name" with doubled quotes: safe for any name in SQL text.
std::string quoted(std::string_view name) {
    std::string q = "\"";
    for (char c : name) {
        q += c;
        if (c == '"') q += '"';
    }
    return q + '"';
}

// The prepared statements of a load into SQLite.
struct table_target {
    srv_stmt_holder insert;    // INSERT INTO t(c1, ..., cn) VALUES(?1, ..., ?n)
    srv_stmt_holder begin;     // BEGIN IMMEDIATE: the write lock for the batch up front
    srv_stmt_holder commit;    // COMMIT
    srv_stmt_holder rollback;  // ROLLBACK
    srv_stmt_holder empty;     // DELETE FROM t, for REPLACE
    int columns = 0;           // the table's columns that take a value (generated ones do not)
};

bool prepare(sqlite3* db, const std::string& sql, srv_stmt_holder& st, std::string& why) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st.p, nullptr) == SQLITE_OK) return true;
    why = sqlite3_errmsg(db);
    return false;
}

// Prepares everything a load into l's table needs. why is the refusal text on failure.
bool prepare_target(sqlite3* db, const srv_load_statement& l, table_target& t, std::string& why) {
    srv_stmt_holder cols;
    if (!prepare(db, "SELECT name FROM pragma_table_xinfo(?1, ?2) WHERE hidden = 0 ORDER BY cid",
                 cols, why)) {
        return false;
    }
    sqlite3_bind_text(cols.p, 1, l.table.data(), static_cast<int>(l.table.size()), SQLITE_STATIC);
    if (!l.schema.empty()) {
        sqlite3_bind_text(cols.p, 2, l.schema.data(), static_cast<int>(l.schema.size()),
                          SQLITE_STATIC);
    }
    std::string names, values;
    int rc;
    while ((rc = sqlite3_step(cols.p)) == SQLITE_ROW) {
        const char* name = reinterpret_cast<const char*>(sqlite3_column_text(cols.p, 0));
        if (t.columns > 0) {
            names += ", ";
            values += ", ";
        }
        ++t.columns;
        names += quoted(name ? name : "");
        values += "?" + std::to_string(t.columns);
    }
    if (rc != SQLITE_DONE) {
        why = sqlite3_errmsg(db);
        return false;
    }
    if (t.columns == 0) {
        why = "no such table: " + l.table_text;
        return false;
    }
    const std::string table =
        (l.schema.empty() ? std::string() : quoted(l.schema) + ".") + quoted(l.table);
    return prepare(db, "INSERT INTO " + table + "(" + names + ") VALUES(" + values + ")", t.insert,
                   why) &&
           prepare(db, "BEGIN IMMEDIATE", t.begin, why) && prepare(db, "COMMIT", t.commit, why) &&
           prepare(db, "ROLLBACK", t.rollback, why) &&
           prepare(db, "DELETE FROM " + table, t.empty, why);
}

// Steps a statement without rows and resets it; SQLite's message in why on failure.
bool run(sqlite3* db, sqlite3_stmt* st, std::string& why) {
    int rc = sqlite3_step(st);
    sqlite3_reset(st);
    if (rc == SQLITE_DONE) return true;
    why = sqlite3_errmsg(db);
    return false;
}

// A failure that concerns the row alone: the row is refused and the transaction goes on.
bool row_refused(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CONSTRAINT || primary == SQLITE_MISMATCH || primary == SQLITE_TOOBIG ||
           primary == SQLITE_RANGE;
}

struct load_run {
    srv_session& s;
    const srv_load_statement& l;
    table_target* target = nullptr;  // null with --load-sink
    long long records = 0;           // received, also those after a stop
    long long bad = 0;               // "W" sent
    unsigned long long bytes = 0;    // record bytes received
    bool emptied = false;            // REPLACE has emptied the table
    bool stopped = false;            // an "E" went out: nothing more is inserted
    std::string stop_text{};
    std::string message{};  // the text of a reply being made, reused
};

void refuse_row(load_run& r, std::string_view reason, std::string_view record) {
    if (!record.empty() && record.back() == r.l.separator) record.remove_suffix(1);
    r.message = "record " + std::to_string(r.records) + ": ";
    r.message += reason;
    r.message += ": ";
    const size_t shown = std::min(record.size(), srv_load_row_shown);
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(record[i]);
        r.message += (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
    }
    if (shown < record.size()) r.message += "...";
    r.message += '\n';
    srv_put_message(r.s.out, 'W', r.message);
    ++r.bad;
}

void stop(load_run& r, std::string text) {
    srv_put_message(r.s.out, 'E', text);
    r.stop_text = std::move(text);
    r.stopped = true;
}

// Binds the fields of record to the INSERT and runs it; a refused row answers "W".
// Returns false when SQLite failed beyond the row (the batch's transaction is lost).
bool insert_record(load_run& r, std::string_view record, std::string& why) {
    table_target& t = *r.target;
    srv_field_walk w{record, r.l.separator};
    std::string_view field;
    int fields = 0;
    while (srv_next_field(w, field)) {
        ++fields;
        if (fields > t.columns) continue;
        if (field.empty()) {
            sqlite3_bind_null(t.insert.p, fields);
        } else {
            sqlite3_bind_text(t.insert.p, fields, field.data(), static_cast<int>(field.size()),
                              SQLITE_STATIC);
        }
    }
    if (fields != t.columns) {
        refuse_row(r,
                   std::to_string(fields) + " fields, table " + r.l.table_text + " has " +
                       std::to_string(t.columns),
                   record);
        return true;
    }
    const int rc = sqlite3_step(t.insert.p);
    sqlite3_reset(t.insert.p);
    if (rc == SQLITE_DONE) return true;
    why = sqlite3_errmsg(r.s.db);
    // A refused row leaves the batch's transaction open; anything that ends it is a failure.
    if (!row_refused(rc) || sqlite3_get_autocommit(r.s.db)) return false;
    refuse_row(r, why, record);
    return true;
}

// Walks the records of one batch, inserting them (or only counting them with the sink or after a
// stop). Returns false when the framing is broken, with why.
bool take_batch(load_run& r, const srv_load_buffer& body, int32_t count, std::string& why) {
    srv_record_walk walk = srv_walk_records(body.data.get(), body.size, count);
    std::string_view record;
    std::string failure;
    bool open = false;  // the batch's transaction
    bool lost = false;  // SQLite failed inside it: it is rolled back
    if (r.target && !r.stopped) {
        if (!run(r.s.db, r.target->begin.p, failure)) {
            stop(r, "load failed: " + failure);
        } else {
            open = true;
            if (r.l.mode == srv_load_mode::replace && !r.emptied) {
                if (run(r.s.db, r.target->empty.p, failure)) {
                    r.emptied = true;
                } else {
                    stop(r, "load failed: " + failure);
                    lost = true;
                }
            }
        }
    }
    for (;;) {
        switch (srv_next_record(walk, record, why)) {
            case srv_record_status::malformed:
                return false;  // an open transaction is rolled back as the connection closes
            case srv_record_status::done:
                if (open) {
                    if (lost) {
                        if (!sqlite3_get_autocommit(r.s.db))
                            run(r.s.db, r.target->rollback.p, failure);
                    } else if (!run(r.s.db, r.target->commit.p, failure)) {
                        if (!sqlite3_get_autocommit(r.s.db))
                            run(r.s.db, r.target->rollback.p, failure);
                        if (!r.stopped) stop(r, "load failed: " + failure);
                    }
                }
                return true;
            case srv_record_status::record:
                break;
        }
        ++r.records;
        r.bytes += record.size();
        if (r.stopped) continue;
        if (srv_is_stop_record(record, r.l.separator)) {
            // What came before the stop record stays: the batch is committed up to it.
            stop(r, "load stopped at record " + std::to_string(r.records));
            continue;
        }
        if (open && !insert_record(r, record, failure)) {
            stop(r, "load failed at record " + std::to_string(r.records) + ": " + failure);
            lost = true;
        }
    }
}

bool reply_refusal(srv_session& s, std::string_view text) {
    s.outcome = {srv_outcome_kind::error, 0, std::string(text)};
    srv_put_message(s.out, 'E', text);
    srv_put_u8(s.out, 'K');
    return srv_flush(s.out);
}

void log_end(const load_run& r) {
    const srv_session& s = r.s;
    if (!r.target) {
        srv_log("conn %d %s: load sink: %lld records, %llu bytes", s.id, s.peer.c_str(), r.records,
                r.bytes);
    }
    std::string summary = std::to_string(r.records) + " records, " + std::to_string(r.bad) + " bad";
    if (r.stopped) summary += ", stopped: " + r.stop_text;
    srv_log("conn %d %s: load into %s: %s", s.id, s.peer.c_str(), r.l.table_text.c_str(),
            summary.c_str());
    r.s.outcome = {srv_outcome_kind::note, 0, std::move(summary)};
}

}  // namespace

bool srv_run_load(srv_session& s, std::string_view text) {
    srv_load_statement l;
    std::string why;
    if (!srv_parse_load_statement(text, l, why)) return reply_refusal(s, why);
    table_target target;
    if (!s.opts->load_sink) {
        // The load commits batch by batch, so it begins by committing what the connection has
        // open, as CREATE does.
        if (!srv_commit_open(s, why) || !prepare_target(s.db, l, target, why)) {
            return reply_refusal(s, why);
        }
    }
    const std::chrono::seconds idle_limit(s.opts->max_idle_time);
    auto next_deadline = [&] { return std::chrono::steady_clock::now() + idle_limit; };

    srv_put_u8(s.out, 'K');
    if (!srv_flush(s.out)) return false;
    unsigned char exchange[8];
    if (srv_read_exact(s.in, exchange, sizeof exchange, next_deadline()) != srv_recv_status::ok) {
        srv_log("conn %d %s: client gone at the start of a load", s.id, s.peer.c_str());
        return false;
    }
    if (srv_fault_drop_at_load_handshake(*s.opts)) {
        srv_log("conn %d %s: fault: connection dropped at a load's int64 exchange", s.id,
                s.peer.c_str());
        return false;
    }
    srv_put_be(s.out, 0, 8);
    if (srv_fault_load_early_k(*s.opts)) {
        // The load ends here for the server: what the client sends next is read as statements.
        srv_log("conn %d %s: fault: load closed with K before its data", s.id, s.peer.c_str());
        srv_put_u8(s.out, 'K');
        return srv_flush(s.out);
    }
    if (!srv_flush(s.out)) return false;

    load_run r{s, l};
    if (!s.opts->load_sink) r.target = &target;
    srv_load_buffer body;
    long long batches = 0;
    for (;;) {
        int32_t count = 0;
        int32_t length = 0;
        srv_batch_status st = srv_load_read_header(s.in, count, length, next_deadline(), why);
        if (st == srv_batch_status::end) break;
        if (st == srv_batch_status::batch) {
            ++batches;
            if (srv_fault_drop_in_load_batch(*s.opts, batches)) {
                // The batch's transaction is not open yet: the batches before it stay.
                srv_log(
                    "conn %d %s: fault: connection dropped in load batch %lld after %lld "
                    "records",
                    s.id, s.peer.c_str(), batches, r.records);
                return false;
            }
            st = srv_load_read_body(s.in, body, length, next_deadline());
        }
        if (st == srv_batch_status::batch && !take_batch(r, body, count, why)) {
            st = srv_batch_status::malformed;
        }
        switch (st) {
            case srv_batch_status::batch:
                break;
            case srv_batch_status::end:
                break;
            case srv_batch_status::malformed:
                srv_log("conn %d %s: closed on a bad load batch after %lld records: %s", s.id,
                        s.peer.c_str(), r.records, why.c_str());
                return false;
            case srv_batch_status::closed:
            case srv_batch_status::failed:
                srv_log("conn %d %s: client gone during a load after %lld records", s.id,
                        s.peer.c_str(), r.records);
                return false;
        }
        s.out.deadline = next_deadline();
        if (!srv_flush(s.out)) return false;
        if (s.opts->load_delay_ms > 0) {
            if (batches == 1) {
                srv_log("conn %d %s: fault: load paused %d ms after each batch", s.id,
                        s.peer.c_str(), s.opts->load_delay_ms);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(s.opts->load_delay_ms));
        }
    }
    // REPLACE empties the table even when no record came.
    if (r.target && l.mode == srv_load_mode::replace && !r.emptied && !r.stopped) {
        std::string failure;
        if (!run(s.db, target.empty.p, failure)) stop(r, "load failed: " + failure);
    }
    log_end(r);
    s.out.deadline = next_deadline();
    srv_put_u8(s.out, 'K');
    return srv_flush(s.out);
}
