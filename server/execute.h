// Running SQL on a connection's SQLite database and streaming the reply: "A" with the column
// descriptors, one "R" per row as SQLite produces it, "K"; "I" per inserted row, "U" or "D"
// with the count; "E" with SQLite's message. Also the transaction rules of auto-commit.
#pragma once

#include <string>
#include <vector>

#include "server/classify.h"
#include "server/session.h"
#include "server/statement_message.h"

struct sqlite3_stmt;

// Readies a freshly opened database for statements: the catalogue views (server/catalogue.h),
// a busy time-out, and the SQL functions that put messages among rows:
//   norv_notice([x,] text) -> "M", norv_warn([x,] text) -> "W", norv_error([x,] text) -> "E",
//   norv_fatal([x,] text) -> "F"; each returns x (NULL without it), and its message goes out
//   before the next row (or before the end of the reply).
// Returns false with why set when that fails. Connection thread.
bool srv_ready_database(srv_session& s, std::string& why);

// Runs m.text (one or more statements) with m.params bound in order to its '?' placeholders,
// after the implicit BEGIN when auto-commit is off, and writes the whole reply to s.out, "K"
// included, then flushes. The reply is that of the last statement; an error stops the text.
// Returns false when the connection must end: the client is gone, or a fault switch fired
// (the reply then stops where it is). Connection thread.
bool srv_execute_sql(srv_session& s, const srv_statement& m, srv_stmt_kind kind);

// Binds params from next on to st's placeholders in order; next advances past those used. A
// text parameter loses one trailing zero byte (the client sends an empty text as one zero). The
// bytes are bound in place: params must outlive st's use. Returns false when SQLite refuses.
bool srv_bind_params(sqlite3_stmt* st, const std::vector<srv_param>& params, size_t& next);

// With auto-commit off and no transaction open, issues the implicit BEGIN that every statement
// but BEGIN, COMMIT, ROLLBACK, VACUUM, ATTACH and DETACH runs after. Returns false with why set
// when BEGIN fails. Connection thread.
bool srv_begin_implicit(srv_session& s, std::string& why);

// Commits the open transaction, if any. Returns false with why set when COMMIT fails.
bool srv_commit_open(srv_session& s, std::string& why);

// Ends what a closing connection leaves open: finalises its cursors (server/cursor.h), then
// rolls back the open transaction, if any, and logs that it did. Connection thread.
void srv_rollback_open(srv_session& s);
