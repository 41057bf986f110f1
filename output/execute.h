// The console's road to the server for ordinary statements: idle tracking, the execution
// wrapper with its replay list, the outcome report, and reconnecting after a lost connection.
// Console thread only.
#pragma once

#include <cstdint>
#include <string_view>

struct db_conn;
struct db_result;

// max_idle_time when the server does not say: no idle limit.
inline constexpr int32_t no_idle_limit = INT32_MAX;

// Reads the server's idle limit ("show max_idle_time") into max_idle_time and starts the idle
// clock (last_activity = now). Runs after every successful start-up connection. When the server
// sends no usable row, there is no idle limit.
void idle_tracking_start();

// Runs the statement in sql_buff: trims trailing ';', line ends and blanks, appends one ';',
// executes it and reports the outcome; reconnects first when there is no connection. Returns
// to the prompt in every case.
void run_statement();

// Executes text on the console's connection (reconnecting first when the idle limit has passed)
// and keeps the replay list of the open transaction. Returns the result (the caller frees it,
// usually through report_outcome) or null when no reply came.
db_result* execute_statement(db_conn* conn, const char* text, bool auto_commit);

// Executes text with db_execute, without the idle reconnect and the replay list, as the
// statement that a missing reply retries (a lost reply must never retry an older statement).
db_result* execute_unwrapped(db_conn* conn, const char* text);

// Prints what the result says (rows, counts, messages, elapsed time) and frees it. A null result
// is a lost connection: "Net disconnect,reconnect.", reconnect, replay, one retry.
void report_outcome(db_result* r, int64_t start_ms, int64_t end_ms);

// Reconnects without marking a statement for retry (RECONNECT, no connection, and client
// commands whose own statement got no reply): reconnect, replay, then the retry still pending
// from an earlier failed reconnect, or "reconnected...".
void reconnect_and_replay();

// Opens a new connection with the stored login values and makes it the console's; prints the
// connect outcome. Returns whether a connection was obtained.
bool reconnect_server();

// The number of statements waiting to be replayed on a new connection.
int replay_list_size();

// Whether a statement's text makes data changes / ends the transaction, by its first word
// after leading blanks, tabs and line ends (case-insensitive prefixes).
bool is_data_changing(std::string_view text);
bool ends_transaction(std::string_view text);
bool is_rollback(std::string_view text);
