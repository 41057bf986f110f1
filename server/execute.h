// Running SQL on a connection's SQLite database and streaming the reply: "A" with the column
// descriptors, one "R" per row as SQLite produces it, "K"; "I" per inserted row, "U" or "D"
// with the count; "E" with SQLite's message. Also the transaction rules of auto-commit.
#pragma once

#include <string>

#include "server/classify.h"
#include "server/session.h"
#include "server/statement_message.h"

// Readies a freshly opened database for statements: the DUAL and dba_tables views (temporary,
// per connection), a busy time-out, and the SQL functions that put messages among rows:
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

// Commits the open transaction, if any. Returns false with why set when COMMIT fails.
bool srv_commit_open(srv_session& s, std::string& why);

// Rolls back the open transaction, if any, and logs that it did. Connection thread.
void srv_rollback_open(srv_session& s);
