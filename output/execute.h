// The console's road to the server for ordinary statements: idle tracking, the execution
// wrapper with its replay list, the outcome report, and reconnecting after a lost connection.
// Console thread only.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/console.h"

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

// Which execution a statement takes on its road to the server.
enum class statement_road {
    // The execution wrapper: before sending it reconnects when the idle limit has passed, and
    // otherwise looks at the connection (connection_ready_to_send); it keeps the replay list of
    // the open transaction.
    wrapped,
    // db_execute without the idle reconnect and the replay list, as the statement that a missing
    // reply retries (a lost reply must never retry an older statement). It looks at the
    // connection first, as the wrapper does.
    unwrapped,
};

// The one road of every statement the console sends, the user's and its own: executes text on
// the console's connection (conn) with its auto-commit setting, by road. Returns the result (the
// caller frees it, usually through report_outcome) or null when no reply came, or when the
// statement was not sent because no connection could be had (statement_dropped then says so).
db_result* execute_statement(const char* text, statement_road road = statement_road::wrapped);

// A statement's result with the clock readings (plat_clock_ms) taken around its execution, for
// report_outcome.
struct timed_result {
    db_result* result;  // as execute_statement returns it: null when no reply came
    int64_t start_ms;
    int64_t end_ms;
};

// Reads the clock, runs text (execute_statement) and reads the clock again.
timed_result execute_timed(const char* text, statement_road road = statement_road::wrapped);

// Runs text and reports it as the console reports every statement: execute_timed, then
// report_outcome.
void run_and_report(const char* text, statement_road road = statement_road::wrapped);

// How a statement that belongs to one connection went out (see execute_send_following).
enum class follow_on {
    sent,         // read its reply with execute_receive before anything else uses the connection
    lost,         // the server has closed the connection, or the send failed
    idle_passed,  // the server's idle limit has passed: the wrapper would reconnect first
    stray,        // the connection holds bytes that answer no statement
};

// Whether a statement may go out on conn now, looked at without sending or changing anything:
// not when the server's idle limit has passed since the last statement went out, nor when the
// connection is gone or holds bytes that answer no statement. For a question of the console's
// own (completion) that leaves every mending to the next statement's road.
follow_on look_before_sending(db_conn* conn);

// The send half of execute_statement for a statement that belongs to what the connection holds,
// as a fetch belongs to the cursor it reads: a new connection holds no such cursor, so the
// statement goes out on conn or not at all. Nothing is reconnected and nothing printed when it
// does not go out. Lets the export send its next fetch before it writes the rows of the last.
follow_on execute_send_following(const char* text);

// The receive half: reads the reply of the statement execute_send_following sent and
// keeps the replay list as execute_statement does. Returns the result (the caller frees it), or
// null when no reply came (the connection is lost).
db_result* execute_receive();

// The look before a statement is sent, for the roads that send without execute_statement: a
// connection that the server has closed, or that holds bytes answering no statement, is replaced
// (with a message and the open transaction replayed); without a connection the console connects.
// Returns false when no connection could be had: the console has said that the statement was
// not run, and the caller sends nothing.
bool connection_ready_to_send();

// A statement with parameter files went out (they are not kept for replay). With auto-commit
// off the open transaction can then no longer be rebuilt on a new connection: a later reconnect
// says that it is gone instead of replaying the rest of it.
void parameter_statement_sent(bool auto_commit);

// The reply of a statement with parameter files was lost: reconnects and says what became of
// it. With auto-commit on it may or may not have run and is not run again; with auto-commit off
// the server rolled the transaction back with it, and the console says so.
void parameter_statement_lost(bool auto_commit);

// True, once, when the last execute_statement returned null without
// sending its statement because no connection could be had. The console has said so already;
// the caller must not reconnect again for it.
bool statement_dropped();

// Prints what the result says (rows, counts, messages, elapsed time) and frees it. A null result
// is a lost connection: "Net disconnect,reconnect.", reconnect, replay, one retry; a statement
// that went out and whose retry could apply it twice (or commit what the server may have
// committed) is not retried, and the console says that its outcome is unknown.
void report_outcome(db_result* r, int64_t start_ms, int64_t end_ms);

// When Ctrl+C cancelled the wait for the last statement's reply (a statement, a client command's
// own statement, an export's cursor statement, a file marker's statement, a load): marks the
// failure, prints "Cancelled: the statement was sent and the server may still have run it." and
// returns true. The statement is then neither retried nor replayed, and the closed connection is
// left to the next statement, which reconnects and replays the open transaction. Otherwise false.
bool report_cancel();

// Reconnects without marking a statement for retry (RECONNECT, and client commands whose own
// statement got no reply): reconnect, replay, "reconnected...".
void reconnect_and_replay();

// Opens a new connection with the stored login values and makes it the console's; prints the
// connect outcome. Returns whether a connection was obtained.
bool reconnect_server();

// The number of statements waiting to be replayed on a new connection.
int replay_list_size();

// ---- failures (ON_ERROR_STOP) -------------------------------------------------------------

// Marks that the statement or client command being carried out failed: an Error or Fatal reply,
// a connection that could not be had or restored, an outcome left unknown, a file marker or a
// load that failed. The statement loop takes the mark after every line.
void note_failure();

// Whether a failure was marked since the last call; clears the mark.
bool take_failure();

// Prints a failure's message and marks the failure, so that no failure path prints without it.
void report_failure(const char* fmt, ...) NORV_PRINTF(1, 2);

// A client command's statement got no reply: marks the failure and, unless the statement never
// went out (said already) or Ctrl+C cancelled its wait (said now), prints announce when given and
// reconnects, replaying the open transaction. The statement is not run again.
void command_reply_lost(const char* announce = nullptr);

// Whether a statement's text makes data changes / ends the transaction, by its first word
// after leading blanks, tabs and line ends (case-insensitive prefixes).
bool is_data_changing(std::string_view text);
bool ends_transaction(std::string_view text);
bool is_rollback(std::string_view text);

// Whether a statement may change data, by its first word (INSERT, UPDATE, DELETE, MERGE, DDL,
// GRANT/REVOKE, blocks and calls): with auto-commit on, such a statement whose reply was lost is
// not sent again.
bool may_change_data(std::string_view text);
