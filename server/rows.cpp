// Encodes descriptors and rows of a SQLite statement into the connection's reply writer. Both
// the plain query of server/execute.cpp and the cursor fetch of server/cursor.cpp answer with
// these, so a row looks the same whichever way it was asked for.
#include "server/rows.h"

#include <sqlite3.h>

#include "server/faults.h"
#include "server/log.h"
#include "server/value_codec.h"

namespace {

bool declared_not_null(sqlite3* db, sqlite3_stmt* st, int col) {
    const char* table = sqlite3_column_table_name(st, col);
    const char* origin = sqlite3_column_origin_name(st, col);
    if (!table || !origin) return false;
    int not_null = 0;
    return sqlite3_table_column_metadata(db, sqlite3_column_database_name(st, col), table, origin,
                                         nullptr, nullptr, &not_null, nullptr,
                                         nullptr) == SQLITE_OK &&
           not_null != 0;
}

}  // namespace

void srv_column_types(sqlite3_stmt* st, bool has_row, std::vector<srv_col_type>& types) {
    const int n = sqlite3_column_count(st);
    types.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const char* decl = sqlite3_column_decltype(st, i);
        srv_col_type t = decl ? srv_map_declared_type(decl) : srv_col_type{};
        if (t.code == srv_type_by_storage) {
            t.code = srv_storage_class_code(has_row ? sqlite3_column_type(st, i) : SQLITE_NULL);
        }
        types[static_cast<size_t>(i)] = t;
    }
}

void srv_put_columns(srv_session& s, sqlite3_stmt* st, const std::vector<srv_col_type>& types) {
    const int n = static_cast<int>(types.size());
    srv_put_u8(s.out, 'A');
    srv_put_i32(s.out, n);
    for (int i = 0; i < n; ++i) {
        const srv_col_type& t = types[static_cast<size_t>(i)];
        const char* name = sqlite3_column_name(st, i);
        srv_put_column(s.out, name ? name : "", t.code, t.type_mod,
                       declared_not_null(s.db, st, i) ? srv_flag_not_null : 0);
    }
}

void srv_put_row(srv_session& s, sqlite3_stmt* st, const std::vector<srv_col_type>& types) {
    srv_put_pending(s);
    srv_put_u8(s.out, 'R');
    const int n = static_cast<int>(types.size());
    for (int i = 0; i < n; ++i) {
        const srv_col_type& t = types[static_cast<size_t>(i)];
        srv_put_value(s.out, t.code, t.type_mod, st, i, s.scratch);
    }
}

void srv_put_pending(srv_session& s) {
    if (s.pending.empty()) return;
    srv_put(s.out, s.pending.data(), s.pending.size());
    s.pending.clear();
}

std::string srv_error_after_rows(sqlite3* db) {
    return "[" + std::to_string(sqlite3_errcode(db) & 0xff) + "] " + sqlite3_errmsg(db);
}

bool srv_drop_after_rows(srv_session& s, long long rows) {
    if (!srv_fault_drop_after_rows(*s.opts, rows)) return false;
    srv_flush(s.out);
    srv_log("conn %d %s: fault: connection dropped after %lld rows", s.id, s.peer.c_str(), rows);
    return true;
}
