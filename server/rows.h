// The pieces of a row reply shared by plain queries and cursor fetches: the "A" message with the
// column descriptors, one "R" per row in the columns' wire forms, the messages queued by the
// norv_* SQL functions, and the text of an error that comes after rows.
#pragma once

#include <string>
#include <vector>

#include "server/session.h"
#include "server/type_map.h"

struct sqlite3;
struct sqlite3_stmt;

inline constexpr int32_t srv_flag_not_null = 2;  // descriptor flags: declared NOT NULL

// The type of each result column of st, into types (replaced). A column without a declared
// type, or with a name outside the type table, takes the code of the storage class of st's
// current row when has_row, otherwise CHAR. Connection thread.
void srv_column_types(sqlite3_stmt* st, bool has_row, std::vector<srv_col_type>& types);

// Writes "A" and one descriptor per column of st: name, types[i], and the NOT NULL flag of the
// table column it comes from. REQUIRES: types.size() == sqlite3_column_count(st).
void srv_put_columns(srv_session& s, sqlite3_stmt* st, const std::vector<srv_col_type>& types);

// Writes the queued messages, then "R" and st's current row in types.
// REQUIRES: types.size() == sqlite3_column_count(st), st on a row.
void srv_put_row(srv_session& s, sqlite3_stmt* st, const std::vector<srv_col_type>& types);

// Writes the messages queued by the norv_* functions (s.pending) and empties the queue.
void srv_put_pending(srv_session& s);

// The "E" text of an error met after rows went out: "[CODE] message", CODE being SQLite's
// primary result code (the client reads it as -CODE).
std::string srv_error_after_rows(sqlite3* db);

// The --drop-after-rows test switch, asked after a row stream has sent rows rows (0: just the
// descriptors). True, once in the server's run, when it fires: what is buffered has then been
// delivered and the event logged, and the connection must end without finishing the reply.
bool srv_drop_after_rows(srv_session& s, long long rows);
