// Server cursors of a connection: "declare NAME cursor for QUERY", "open NAME",
// "fetch N from NAME" and "close NAME". A cursor is one prepared SQLite statement that is stepped
// only while a fetch sends its rows, so a query of any size leaves in batches without being held.
//
// Names compare without regard to ASCII case; a connection may hold any number of cursors up to
// srv_cursors_max. A cursor reads from its first fetch after open until it is exhausted, opened
// again or closed; in that time it holds SQLite's read lock on the database file, so writes of
// other connections wait for it (up to the busy time-out). Statements of the same connection run
// between fetches as usual, COMMIT and ROLLBACK included, and the cursor goes on where it was;
// whether it shows rows the same connection wrote meanwhile is left to SQLite. SQLite refuses
// DROP TABLE and VACUUM ("E") while a cursor of the connection is in the middle.
#pragma once

#include <cstdint>
#include <string>

#include "server/session.h"
#include "server/statement_message.h"

inline constexpr size_t srv_cursors_max = 1024;  // cursors declared at once per connection

// Each handler writes the whole reply, "K" included, and flushes. They return false when the
// connection must end (the client is gone or a fault switch fired). Connection thread.

// Prepares query as cursor name, with m's parameters bound to its placeholders (kept with the
// cursor). "K"; "E" with SQLite's message for bad SQL, or when the name is taken, the query is
// not one statement that returns rows and only reads, or srv_cursors_max cursors exist.
bool srv_declare_cursor(srv_session& s, const std::string& name, const std::string& query,
                        const srv_statement& m);

// Starts (or restarts) cursor name from its first row; issues the implicit BEGIN when
// auto-commit is off. "K"; "E" when name is not declared.
bool srv_open_cursor(srv_session& s, const std::string& name);

// Sends up to rows rows of cursor name from where the last fetch stopped: "A" with the column
// descriptors, the rows, "K". An exhausted cursor answers "A" without rows. Issues the implicit
// BEGIN when auto-commit is off. "E" when name is not declared or not open, or SQLite fails
// (the cursor must then be opened again). Logs
// "conn N ADDR: fetch ROWS from NAME: SENT rows". REQUIRES: rows >= 1.
bool srv_fetch_cursor(srv_session& s, const std::string& name, int64_t rows);

// Finalises cursor name. "K"; "E" when name is not declared.
bool srv_close_cursor(srv_session& s, const std::string& name);

// Finalises every cursor of the connection: when it ends and before its database changes.
void srv_close_cursors(srv_session& s);
